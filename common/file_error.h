#ifndef DOSEMAP_COMMON_FILE_ERROR_H_
#define DOSEMAP_COMMON_FILE_ERROR_H_

#include <stdexcept>
#include <string>

namespace dosemap {

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
class FileError : public std::runtime_error {
 public:
  FileError(FileErrorKind kind, const std::string& message, int field_index = -1)
      : std::runtime_error(message), kind_(kind), field_index_(field_index) {}

  FileErrorKind kind() const { return kind_; }
  // For input failures: which target of the input statement failed (0-based), else -1.
  int field_index() const { return field_index_; }

 private:
  FileErrorKind kind_;
  int field_index_;
};

// Raised where a text must be a number and is not (a threshold box, a count rate held as text).
// Deliberately not a FileError: no file is at fault.
class NumberError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_FILE_ERROR_H_
