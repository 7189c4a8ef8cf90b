#include "legacy/convert/survey_log.h"

#include <string>

namespace dosemap {

const char* SurveyFieldName(int index) {
  static const char* const kNames[] = {"Timestamp", "AuxField",  "CountRate", "DoseRate",
                                       "Latitude",  "Longitude", "Altitude"};
  return index >= 0 && index < 7 ? kNames[index] : "?";
}

void OpenSurveyLog(TextFiles& files, std::string_view csv_base_name) {
  files.OpenForInput(kSurveyLogFileNumber, std::string(csv_base_name) + ".csv");
}

void SkipSurveyHeader(TextFiles& files) {
  std::string title;
  for (int i = 0; i < 7; ++i) files.InputFields(kSurveyLogFileNumber, {title});
}

void ReadSurveyRecord(TextFiles& files, SurveyRecord& record, long record_number) {
  try {
    files.InputFields(kSurveyLogFileNumber,
                      {record.Timestamp, record.AuxField, record.CountRate, record.DoseRate,
                       record.Latitude, record.Longitude, record.Altitude});
  } catch (const FileError& error) {
    throw FileError(error.kind(),
                    std::string(error.what()) + " (record " + std::to_string(record_number) +
                        ", field " + SurveyFieldName(error.field_index()) + ")",
                    error.field_index());
  }
}

}  // namespace dosemap
