#ifndef DOSEMAP_CONVERSION_LOG_CHECK_H_
#define DOSEMAP_CONVERSION_LOG_CHECK_H_

#include <functional>
#include <string>

#include "conversion/drive_request.h"

namespace dosemap {

// One log's verdict (--check).
struct LogVerdict {
  std::string file;                   // as given, or the folder joined with the path under it
  const FormatRow* format = nullptr;  // null: the log can't be read or is of no known format
  std::string error;                  // then why, in a few words
  DriveStatistics stats;
  bool read() const { return format != nullptr; }
  // Read, and no record rejected: private records don't make a log unclean.
  bool clean() const { return read() && stats.rejected_total() == 0; }
};

// Judges every log of a request made with check (a folder's files each) on its own, with the
// request's zones, zone files and checks, and writes no map; the rejected records of every log go
// to the request's rejects file when it names one. each takes every verdict as soon as it is
// known. A log that can't be read, or is of no known format, is a verdict, never a throw; the
// request's own faults (Validate, a zone file) and a rejects file that can't be written throw
// SurveyError.
void CheckLogs(const DriveRequest& request, const std::function<void(const LogVerdict&)>& each);

// "FILE<TAB>FORMAT<TAB>read N<TAB>kept K<TAB>private P<TAB>rejected R<TAB>REASON n, ..." ("-" for
// no reason), or "FILE<TAB>-<TAB>why" for a log that can't be read; control bytes escaped.
std::string VerdictLine(const LogVerdict& verdict);

// The summary's JSON object with "file", "format" and "clean" first; or {"file", "clean":false,
// "error"} for a log that can't be read.
std::string VerdictJson(const LogVerdict& verdict);

}  // namespace dosemap

#endif  // DOSEMAP_CONVERSION_LOG_CHECK_H_
