#ifndef DOSEMAP_SURVEY_SURVEY_RUN_H_
#define DOSEMAP_SURVEY_SURVEY_RUN_H_

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "survey/line_reader.h"
#include "survey/log_format.h"
#include "survey/measurement.h"
#include "survey/privacy.h"
#include "survey/quality.h"
#include "survey/readers.h"
#include "survey/statistics.h"

namespace dosemap {

struct OpenLog;

// Where kept measurements go: the map writers. Each log is begun before its measurements.
class MeasurementSink {
 public:
  virtual ~MeasurementSink() = default;
  virtual void BeginLog(int log, const std::string& name) { (void)log, (void)name; }
  // The log about to be begun, its file and its format: for a map that copies the log's own lines.
  virtual void LogOpened(const OpenLog& log) { (void)log; }
  virtual void Add(const Measurement& m, int dose_class) = 0;
  // Records that lay in a privacy zone (or a line between two kept measurements that would cross
  // one) come between the last measurement and the next: a route must not join them.
  virtual void Break() {}
};

// Where rejected lines go: the rejects file. Never called for a line in a privacy zone.
class RejectSink {
 public:
  virtual ~RejectSink() = default;
  virtual void Reject(const std::string& log_name, long line, RejectReason reason,
                      std::string_view text) = 0;
};

// The records of a time: --since inclusive, --until exclusive, each a whole second (a log's
// times are whole seconds); none given: every time.
struct Period {
  std::optional<std::int64_t> since, until;
  bool given() const { return since || until; }
  bool Contains(std::int64_t time) const {
    return (!since || time >= *since) && (!until || time < *until);
  }
};

struct SurveyOptions {
  double yellow = 0.11;
  double red = 0.19;
  ReaderOptions reader;
  // Forced with --from (a row of that name: a log's content chooses between rows that share it);
  // else each log's format is told from its content.
  const FormatRow* format = nullptr;
  std::vector<PrivacyZone> zones;
  QualityLimits quality;
  // Records whose time falls outside are neither kept nor rejected: counted as outside it. A time
  // written without a zone is compared as if UTC.
  Period period;
  // 2: each log is read and parsed on a thread of its own while this one judges the records and
  // writes the maps; 1: all on this one. The maps are the same byte for byte.
  int threads = 2;
};

// A log opened and its format told, ready to be read.
struct OpenLog {
  std::string name;
  const FormatRow* format = nullptr;
  std::unique_ptr<LineReader> reader;  // null for a folder's file: opened again when it is read
  std::string path;
};

// Opens every log ("-" is standard input) and tells its format, before anything is written.
// A folder stands for every regular file under it, recursively, in byte order of the path under
// the folder (the log's name); hidden names, everything under a hidden folder and symbolic links
// are passed over, and a file of no known format is skipped and counted in *skipped. The run's
// own outputs (and their staging files "<output>.XXXXXX") are passed over too, uncounted. Throws
// SurveyError for a log or folder that can't be opened or whose format is not recognised.
std::vector<OpenLog> OpenLogs(const std::vector<std::string>& paths, const FormatRow* forced,
                              std::int64_t* skipped = nullptr,
                              const std::vector<std::filesystem::path>& outputs = {});

// The regular files under folder as OpenLogs reads them: their paths under it, in byte order,
// hidden names, links and outputs passed over. Throws SurveyError kCannotReadLog when the folder
// can't be read.
std::vector<std::string> LogFilesUnder(const std::string& folder,
                                       const std::vector<std::filesystem::path>& outputs = {});

// A log in memory named name, its format told from its bytes (or forced). bytes must outlive it.
// Throws SurveyError when its format is not recognised.
OpenLog OpenLogInMemory(const std::string& name, std::string_view bytes,
                        const FormatRow* forced = nullptr);

// How far a conversion is: the records read so far and the share of the input read (0 to 1, or
// negative when the size is not known), then the maps being written.
struct RunProgress {
  std::int64_t records = 0;
  double share = -1;
  bool writing_maps = false;
};
using ProgressCallback = std::function<void(const RunProgress& progress)>;

// A flag another thread sets to stop a conversion; null: it can't be stopped.
using CancelFlag = const std::atomic<bool>*;

// Throws SurveyError (kCancelled) once cancel is set.
void ThrowIfCancelled(CancelFlag cancel);

// Reads every log in order, each in the order of its lines, and hands each record to the
// privacy zones, then to the format's own checks and the quality checks (accuracy, duplicate,
// GPS jump), then to the sinks: kept measurements to every map sink, rejected lines to rejects
// (when not null), and every record to stats. A record waits for the next one of its log before
// it is kept (the GPS jump check), so a gps_jump line may follow later lines in the rejects. Throws
// SurveyError when a log can't be read, or kCancelled soon after cancel is set; exceptions of the
// sinks pass through.
void RunSurvey(std::vector<OpenLog>& logs, const SurveyOptions& options,
               const std::vector<MeasurementSink*>& sinks, RejectSink* rejects,
               DriveStatistics& stats, const ProgressCallback& progress = nullptr,
               CancelFlag cancel = nullptr);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_SURVEY_RUN_H_
