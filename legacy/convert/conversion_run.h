#ifndef DOSEMAP_LEGACY_CONVERT_CONVERSION_RUN_H_
#define DOSEMAP_LEGACY_CONVERT_CONVERSION_RUN_H_

#include <string>
#include <string_view>

#include "legacy/convert/map_writer.h"
#include "legacy/convert/placemark.h"
#include "legacy/textfile/text_files.h"

namespace dosemap {

// Sounds the end of a run. Abstract so the window beeps, the command line stays quiet and tests
// count.
class Beeper {
 public:
  virtual ~Beeper() = default;
  virtual void Beep() = 0;
};

enum class RunFailure {
  kNone,                // the run read the log to its end
  kLogNotOpened,        // the survey log is missing or can't be read
  kLogTooShort,         // less than a header and one complete record
  kOutputNotCreated,    // the KML file can't be created
  kRecordUnreadable,    // a field of a record can't be read (number out of range, too long)
  kYellowThreshold,     // the yellow threshold text is not a number when needed
  kRedThreshold,        // the red threshold text is not a number when needed
  kCountRateNotNumber,  // a count rate is a text that is not a number
  kWriteFailed,         // the KML file can't be written or closed
};

// What a run wrote, counted as it went.
struct RunSummary {
  long records_read = 0;  // complete data records, the first (the camera) included
  long placemarks = 0;
  long excluded = 0;  // records in the exclusion box
  long per_class[5] = {0, 0, 0, 0, 0};
  bool has_highest = false;  // the highest dose among the placemarks:
  double highest_dose = 0;
  std::string highest_timestamp;
  double highest_latitude = 0;
  double highest_longitude = 0;
};

// How a run ended. For a failure: the file concerned, the data record (1 = the first after the
// header; 0 when none) and one line of English naming all three and the cause.
struct RunOutcome {
  RunFailure failure = RunFailure::kNone;
  std::string file;
  long record = 0;
  std::string message;
  RunSummary summary;
  bool output_opened = false;  // the map was opened, so it holds a whole document

  bool reached_end_of_log() const { return failure == RunFailure::kNone; }
};

// Converts "<csv_base_name>.csv" into "<kml_base_name>.kml" in the files' directory: the header
// from the first record, a placemark for each further one, then FinishRun (footer, output
// closed, log closed, one beep) however the run ended. A run that fails before its output is
// open creates or changes no KML file; so does one whose KML file is the log itself (a link).
// Never throws a FileError or NumberError.
RunOutcome ConversionRun(TextFiles& files, std::string_view csv_base_name,
                         std::string_view kml_base_name, const ThresholdSource& thresholds,
                         Beeper& beeper);

// The same run writing the map in the given form.
RunOutcome ConversionRun(TextFiles& files, std::string_view csv_base_name,
                         std::string_view kml_base_name, const ThresholdSource& thresholds,
                         Beeper& beeper, MapWriter& map);

// The summary as one line: counts, the highest dose with its time and place, how the run ended.
std::string SummaryLine(const RunOutcome& outcome);

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_CONVERT_CONVERSION_RUN_H_
