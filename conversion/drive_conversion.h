#ifndef DOSEMAP_CONVERSION_DRIVE_CONVERSION_H_
#define DOSEMAP_CONVERSION_DRIVE_CONVERSION_H_

#include "conversion/drive_request.h"

namespace dosemap {

// Checks the request (Validate), reads its zone files, reads the logs once and writes every map.
// Every output is staged beside its path and put in place only when all are whole, so a failure
// leaves every old map as it was. Throws SurveyError of its kind: the request's, a zone file's, a
// log that can't be opened, read or told apart, a map that can't be written. cancel, when set by
// another thread, stops it within a fraction of a second in any phase (SurveyError kCancelled),
// leaving every old map whole and no staging file.
DriveStatistics ConvertDrive(const DriveRequest& request,
                             const ProgressCallback& progress = nullptr,
                             CancelFlag cancel = nullptr);

}  // namespace dosemap

#endif  // DOSEMAP_CONVERSION_DRIVE_CONVERSION_H_
