// dosemap-convert [options] -o OUT LOG...: any survey log into any map form.
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "cli/commands.h"
#include "conversion/drive_conversion.h"

namespace dosemap::cli {
namespace {

// One line of progress on a terminal, rewritten in place, once a run has taken a second.
class Progress {
 public:
  Progress() : shown_(::isatty(2) == 1), start_(std::chrono::steady_clock::now()) {}
  ~Progress() {
    if (printed_) std::fputs("\r\033[K", stderr);
  }
  void Update(const RunProgress& run) {
    if (run.writing_maps) return;
    const std::int64_t records = run.records;
    const double share = run.share;
    if (!shown_ || std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    printed_ = true;
    if (share >= 0) {
      std::fprintf(stderr, "\r%lld records, %d%%\033[K", static_cast<long long>(records),
                   static_cast<int>(share * 100));
    } else {
      std::fprintf(stderr, "\r%lld records\033[K", static_cast<long long>(records));
    }
  }

 private:
  bool shown_;
  bool printed_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

int PathCommand(PathOptions options) {
  RemoveStagingOnInterrupt();
  DriveStatistics stats;
  try {
    Progress progress;
    stats = ConvertDrive(options.request, [&](const RunProgress& run) { progress.Update(run); });
  } catch (const Error& error) {
    PrintError(error.what());
    return error.exit_status();
  }
  if (options.summary && !PrintOut(stats.Line() + "\n")) return 1;
  if (options.summary_json && !PrintOut(stats.Json() + "\n")) return 1;
  return 0;
}

}  // namespace dosemap::cli
