#ifndef DOSEMAP_LEGACY_CONVERT_SURVEY_LOG_H_
#define DOSEMAP_LEGACY_CONVERT_SURVEY_LOG_H_

#include <string>
#include <string_view>

#include "legacy/textfile/text_files.h"

namespace dosemap {

inline constexpr int kKmlFileNumber = 1;
inline constexpr int kSurveyLogFileNumber = 2;

// One data record of a survey log, its fields in the order of the log's columns.
struct SurveyRecord {
  std::string Timestamp;
  Variant AuxField;  // read, never used
  Variant CountRate;
  double DoseRate = 0;
  double Latitude = 0;
  double Longitude = 0;
  double Altitude = 0;
};

// The names of the seven fields, in order, for messages.
const char* SurveyFieldName(int index);

// Opens "<csv_base_name>.csv" as file number 2. Throws FileError (kCannotOpen).
void OpenSurveyLog(TextFiles& files, std::string_view csv_base_name);

// Reads and drops the first seven fields, whatever they hold. Throws kReadPastEnd when fewer.
void SkipSurveyHeader(TextFiles& files);

// Fills record from the next seven fields. A failure names the data record (1 = the first after
// the header) and the field; fields read before it hold new values, the rest old ones.
void ReadSurveyRecord(TextFiles& files, SurveyRecord& record, long record_number);

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_CONVERT_SURVEY_LOG_H_
