#include "legacy/convert/conversion_run.h"

#include "legacy/convert/survey_log.h"

namespace dosemap {
namespace {

enum class Stage { kOpeningLog, kReadingHead, kCreatingOutput, kReading, kWriting };

void Fail(RunOutcome& outcome, RunFailure failure, std::string file, long record,
          std::string message) {
  if (!outcome.reached_end_of_log()) return;  // the first cause is the one reported
  outcome.failure = failure;
  outcome.file = std::move(file);
  outcome.record = record;
  outcome.message = std::move(message);
}

void FailOnFileError(RunOutcome& outcome, const FileError& error, Stage stage,
                     const std::string& log_name, const std::string& kml_name, long record) {
  switch (stage) {
    case Stage::kOpeningLog:
      return Fail(outcome, RunFailure::kLogNotOpened, log_name, 0, error.what());
    case Stage::kReadingHead:
      if (error.kind() == FileErrorKind::kReadPastEnd) {
        return Fail(outcome, RunFailure::kLogTooShort, log_name, 0,
                    log_name + ": the log holds less than a header and one complete record");
      }
      return Fail(outcome, RunFailure::kRecordUnreadable, log_name, record, error.what());
    case Stage::kCreatingOutput:
      return Fail(outcome, RunFailure::kOutputNotCreated, kml_name, 0, error.what());
    case Stage::kReading:
      // The read after the last record (a partial trailing record included) is the normal end.
      if (error.kind() == FileErrorKind::kReadPastEnd) return;
      return Fail(outcome, RunFailure::kRecordUnreadable, log_name, record, error.what());
    case Stage::kWriting:
      return Fail(outcome, RunFailure::kWriteFailed, kml_name, record, error.what());
  }
}

void Count(RunSummary& summary, const SurveyRecord& record, std::optional<DoseClass> written) {
  if (!written) {
    ++summary.excluded;
    return;
  }
  ++summary.placemarks;
  ++summary.per_class[static_cast<int>(*written) - 1];
  if (!summary.has_highest || record.DoseRate > summary.highest_dose) {
    summary.has_highest = true;
    summary.highest_dose = record.DoseRate;
    summary.highest_timestamp = record.Timestamp;
    summary.highest_latitude = record.Latitude;
    summary.highest_longitude = record.Longitude;
  }
}

// The one finishing step of every run that opened its output; also closes the log of any run.
void FinishRun(TextFiles& files, MapWriter& map, bool output_open, RunOutcome& outcome,
               const std::string& kml_name, Beeper& beeper) {
  if (output_open) {
    try {
      map.WriteFooter(files);
    } catch (const FileError& error) {
      Fail(outcome, RunFailure::kWriteFailed, kml_name, 0, error.what());
    }
    try {
      files.CloseFile(kKmlFileNumber);
    } catch (const FileError& error) {
      Fail(outcome, RunFailure::kWriteFailed, kml_name, 0, error.what());
    }
  }
  files.CloseFile(kSurveyLogFileNumber);
  beeper.Beep();
}

}  // namespace

RunOutcome ConversionRun(TextFiles& files, std::string_view csv_base_name,
                         std::string_view kml_base_name, const ThresholdSource& thresholds,
                         Beeper& beeper) {
  ClassicMap classic;
  return ConversionRun(files, csv_base_name, kml_base_name, thresholds, beeper, classic);
}

RunOutcome ConversionRun(TextFiles& files, std::string_view csv_base_name,
                         std::string_view kml_base_name, const ThresholdSource& thresholds,
                         Beeper& beeper, MapWriter& map) {
  const std::string log_name = std::string(csv_base_name) + ".csv";
  const std::string kml_name = std::string(kml_base_name) + ".kml";
  RunOutcome outcome;
  SurveyRecord record;
  long record_number = 0;
  bool output_open = false;
  Stage stage = Stage::kOpeningLog;
  try {
    OpenSurveyLog(files, csv_base_name);
    stage = Stage::kReadingHead;
    SkipSurveyHeader(files);
    ReadSurveyRecord(files, record, ++record_number);
    ++outcome.summary.records_read;
    // Created only now, so a log that can't be read leaves an existing map untouched.
    stage = Stage::kCreatingOutput;
    if (SameFile(files.PathOf(log_name), files.PathOf(kml_name))) {
      throw FileError(FileErrorKind::kCannotOpen,
                      kml_name + ": is the survey log itself (a link to it); nothing was written");
    }
    map.OpenOutput(files, kml_name);
    output_open = true;
    outcome.output_opened = true;
    stage = Stage::kWriting;
    map.WriteHeader(files, record, kml_base_name);
    for (;;) {
      stage = Stage::kReading;
      ReadSurveyRecord(files, record, ++record_number);
      ++outcome.summary.records_read;
      stage = Stage::kWriting;
      Count(outcome.summary, record, map.WritePlacemark(files, record, thresholds));
    }
  } catch (const FileError& error) {
    FailOnFileError(outcome, error, stage, log_name, kml_name, record_number);
  } catch (const ThresholdError& error) {
    Fail(outcome, error.red() ? RunFailure::kRedThreshold : RunFailure::kYellowThreshold, log_name,
         record_number,
         log_name + ": record " + std::to_string(record_number) + ": " + error.what());
  } catch (const NumberError& error) {
    Fail(outcome, RunFailure::kCountRateNotNumber, log_name, record_number,
         log_name + ": record " + std::to_string(record_number) + ": count rate " + error.what());
  }
  FinishRun(files, map, output_open, outcome, kml_name, beeper);
  return outcome;
}

std::string SummaryLine(const RunOutcome& outcome) {
  const RunSummary& s = outcome.summary;
  std::string line = "records read ";
  line.append(std::to_string(s.records_read)).append(", placemarks ");
  line.append(std::to_string(s.placemarks)).append(", in the exclusion box ");
  line.append(std::to_string(s.excluded)).append(", per dose class 1-5");
  for (long count : s.per_class) line.append(" ").append(std::to_string(count));
  line.append(", highest dose ");
  if (s.has_highest) {
    line.append(StrictNumber(s.highest_dose)).append(" at ").append(s.highest_timestamp);
    line.append(" (latitude ").append(StrictNumber(s.highest_latitude));
    line.append(", longitude ").append(StrictNumber(s.highest_longitude)).append(")");
  } else {
    line.append("none");
  }
  if (outcome.reached_end_of_log()) return line.append(", ended at the end of the log");
  return line.append(", stopped: ").append(outcome.message);
}

}  // namespace dosemap
