// dosemap-convert --check LOG...: a verdict a log, for a batch before it is shared.
#include <string>

#include "cli/commands.h"
#include "conversion/log_check.h"

namespace dosemap::cli {

int CheckCommand(const PathOptions& options) {
  RemoveStagingOnInterrupt();
  std::int64_t logs = 0, clean = 0, with_rejects = 0, unreadable = 0;
  bool printed = true;
  try {
    CheckLogs(options.request, [&](const LogVerdict& verdict) {
      ++logs;
      ++(!verdict.read() ? unreadable : verdict.clean() ? clean : with_rejects);
      printed =
          printed &&
          PrintOut((options.summary_json ? VerdictJson(verdict) : VerdictLine(verdict)) + "\n");
    });
  } catch (const Error& error) {
    PrintError(error.what());
    return error.exit_status();
  }
  const std::string totals =
      options.summary_json
          ? "{\"logs\":" + std::to_string(logs) + ",\"clean\":" + std::to_string(clean) +
                ",\"with_rejects\":" + std::to_string(with_rejects) +
                ",\"unreadable\":" + std::to_string(unreadable) + "}\n"
          : std::to_string(logs) + (logs == 1 ? " log: " : " logs: ") + std::to_string(clean) +
                " clean, " + std::to_string(with_rejects) + " with rejected records, " +
                std::to_string(unreadable) + " unreadable\n";
  if (!printed || !PrintOut(totals)) return 1;
  return unreadable > 0 ? 1 : with_rejects > 0 ? 3 : 0;
}

}  // namespace dosemap::cli
