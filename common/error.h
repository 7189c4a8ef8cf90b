#ifndef DOSEMAP_COMMON_ERROR_H_
#define DOSEMAP_COMMON_ERROR_H_

#include <stdexcept>
#include <string>

namespace dosemap {

// Every failure either path reports: one line that names the file (and, for input, the line),
// and what the command line exits with (2: the user asked what can't be done; 1: it could not be
// done). The kinds below tell the front ends which message to show; never the text.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  virtual int exit_status() const { return 1; }
};

enum class FileErrorKind {
  kCannotOpen,      // missing, not readable or not creatable, or a directory
  kReadFailed,      // the medium failed a read of a file that was open
  kAlreadyOpen,     // the file number is in use
  kNotOpen,         // the file number is closed or open in the other mode
  kReadPastEnd,     // a field was needed and no character was left
  kNumberOverflow,  // a number field does not fit its target
  kFieldTooLong,    // one field exceeds kMaxFieldBytes
  kWriteFailed,     // the medium refused a write, a flush or the close
};

// The one exception type of every file failure. The message names the file and, for input, the
// line: "DATA_1.csv: line 14: number out of range".
class FileError : public Error {
 public:
  FileError(FileErrorKind kind, const std::string& message, int field_index = -1)
      : Error(message), kind_(kind), field_index_(field_index) {}

  FileErrorKind kind() const { return kind_; }
  // For input failures: which target of the input statement failed (0-based), else -1.
  int field_index() const { return field_index_; }

 private:
  FileErrorKind kind_;
  int field_index_;
};

// Raised where a text must be a number and is not (a threshold box, a count rate held as text).
// Deliberately not a FileError: no file is at fault.
class NumberError : public Error {
 public:
  using Error::Error;
};

// What stopped a conversion of the surveyor's path. The front ends take their exit status and
// their message from the kind, never from the text.
enum class SurveyErrorKind {
  kUsage,            // asked what can't be done: outputs that collide, a map form unknown
  kBadZone,          // a privacy zone, given or in a zone file, that is no zone
  kBadThresholds,    // the yellow threshold not below the red one
  kCannotReadLog,    // a log can't be opened or read
  kUnknownFormat,    // a log of no known format, or not of its format after all
  kCannotReadZones,  // a privacy file can't be opened or read
  kCannotWriteMap,   // a map or the rejects file can't be written or put in place
  kCancelled,        // the user stopped it; every old map stays as it was
};

// The failures of the surveyor's path: readers, the privacy zones and the conversion throw it, the
// kind deciding the exit status and the window's message.
class SurveyError : public Error {
 public:
  SurveyError(SurveyErrorKind kind, const std::string& message) : Error(message), kind_(kind) {}
  SurveyErrorKind kind() const { return kind_; }
  int exit_status() const override;

 private:
  SurveyErrorKind kind_;
};

// 2 for what the user asked wrongly, 1 for every other failure.
inline int ExitStatusOf(SurveyErrorKind kind) {
  return kind == SurveyErrorKind::kUsage || kind == SurveyErrorKind::kBadZone ||
                 kind == SurveyErrorKind::kBadThresholds
             ? 2
             : 1;
}

inline int SurveyError::exit_status() const { return ExitStatusOf(kind_); }

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_ERROR_H_
