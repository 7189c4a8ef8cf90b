#ifndef DOSEMAP_LEGACY_TEXTFILE_TEXT_FILES_H_
#define DOSEMAP_LEGACY_TEXTFILE_TEXT_FILES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "common/error.h"
#include "common/file_paths.h"

namespace dosemap {

// A field longer than this fails with kFieldTooLong. Real fields (timestamps, names, numbers) are
// tens of bytes; the bound keeps a log that is one endless field from taking all memory.
inline constexpr std::size_t kMaxFieldBytes = 1 << 20;

// The empty value, a number, or a text.
using Variant = std::variant<std::monostate, double, std::string>;

// The number of a variant: the empty value is 0, a number itself, a text the number it spells.
// Throws NumberError for a text that spells none.
double NumberOfVariant(const Variant& value);

// One item of a print statement: a text written as it stands, or a number written as its
// NumberText and one blank. Holds a view: the text must outlive the statement.
class PrintItem {
 public:
  PrintItem(std::string_view text) : text_(text), is_number_(false) {}
  PrintItem(const char* text) : text_(text), is_number_(false) {}
  PrintItem(const std::string& text) : text_(text), is_number_(false) {}
  PrintItem(double number) : number_(number), is_number_(true) {}

  bool is_number() const { return is_number_; }
  std::string_view text() const { return text_; }
  double number() const { return number_; }

 private:
  std::string_view text_;
  double number_ = 0;
  bool is_number_;
};

// One target of an input statement; refers to the variable it fills.
class InputTarget {
 public:
  enum class Kind { kText, kDouble, kInt32, kVariant };
  InputTarget(std::string& text) : kind_(Kind::kText), target_(&text) {}
  InputTarget(double& number) : kind_(Kind::kDouble), target_(&number) {}
  InputTarget(std::int32_t& integer) : kind_(Kind::kInt32), target_(&integer) {}
  InputTarget(Variant& variant) : kind_(Kind::kVariant), target_(&variant) {}

  Kind kind() const { return kind_; }
  template <typename T>
  T& as() const {
    return *static_cast<T*>(target_);
  }

 private:
  Kind kind_;
  void* target_;
};

enum class LineEnd { kEndLine, kContinue };

// The numbered sequential text files of the program. Numbers 1 to kMaxFileNumber are each closed,
// open for output or open for input. Names are byte strings used unchanged, relative to the
// directory given at construction (the process's current directory when it is empty). Every
// failure throws FileError; after it the number keeps its state. Files still open at destruction
// are closed with what was printed into them; errors there are dropped.
class TextFiles {
 public:
  static constexpr int kMaxFileNumber = 15;

  explicit TextFiles(std::filesystem::path directory = {});
  ~TextFiles();
  TextFiles(const TextFiles&) = delete;
  TextFiles& operator=(const TextFiles&) = delete;

  // Creates the file or empties it.
  void OpenForOutput(int number, std::string_view name);
  // Like OpenForOutput, but the old file stays whole until CloseFile succeeds: the text goes to a
  // temporary file beside it (ReplacementTempPath, created exclusively) that the close syncs and
  // renames over it, keeping the old file's mode. A failed close leaves the old file.
  void OpenForReplace(int number, std::string_view name);
  void OpenForInput(int number, std::string_view name);
  // Flushes and closes; closing a closed number does nothing. Throws kWriteFailed when what was
  // printed can't be stored, and the number is closed all the same.
  void CloseFile(int number);
  bool IsOpen(int number) const;

  // Writes the items one after another; kEndLine adds CR LF after the last one.
  void PrintItems(int number, std::initializer_list<PrintItem> items,
                  LineEnd end = LineEnd::kEndLine);
  // Fills each target from the next comma- or line-separated field. Targets filled before a
  // failure keep their new values; the failing one keeps its old value.
  void InputFields(int number, std::initializer_list<InputTarget> targets);

  std::filesystem::path PathOf(std::string_view name) const;

 private:
  class InputFile;
  class OutputFile;
  struct Slot;
  Slot& SlotOf(int number) const;
  void CheckClosed(int number, std::string_view name) const;

  std::filesystem::path directory_;
  std::unique_ptr<std::array<Slot, kMaxFileNumber + 1>> slots_;
};

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_TEXTFILE_TEXT_FILES_H_
