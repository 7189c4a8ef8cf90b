#include "convert/conversion_run.h"

#include "convert/kml_frame.h"
#include "convert/survey_log.h"

namespace dosemap {
namespace {

enum class Stage { kOpeningLog, kReadingHead, kCreatingOutput, kReading, kWriting };

void Fail(RunOutcome& outcome, RunFailure failure, std::string file, long record,
          std::string message) {
  if (!outcome.reached_end_of_log()) return;  // the first cause is the one reported
  outcome = RunOutcome{failure, std::move(file), record, std::move(message)};
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

// The one finishing step of every run that opened its output; also closes the log of any run.
void FinishRun(TextFiles& files, bool output_open, RunOutcome& outcome,
               const std::string& kml_name, Beeper& beeper) {
  if (output_open) {
    try {
      WriteKmlFooter(files);
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
    // Created only now, so a log that can't be read leaves an existing map untouched.
    stage = Stage::kCreatingOutput;
    files.OpenForOutput(kKmlFileNumber, kml_name);
    output_open = true;
    stage = Stage::kWriting;
    WriteKmlHeader(files, record, kml_base_name);
    for (;;) {
      stage = Stage::kReading;
      ReadSurveyRecord(files, record, ++record_number);
      stage = Stage::kWriting;
      WritePlacemark(files, record, thresholds);
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
  FinishRun(files, output_open, outcome, kml_name, beeper);
  return outcome;
}

}  // namespace dosemap
