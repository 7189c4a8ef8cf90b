#include "legacy/textfile/text_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <utility>

#include "common/message_text.h"
#include "common/number_text.h"

namespace dosemap {
namespace {

// Large blocks: the whole conversion is bound by these two copies, and a system call per item
// would cost more than the formatting.
constexpr std::size_t kInputBufferBytes = 1 << 20;
constexpr std::size_t kOutputBufferBytes = 1 << 20;
constexpr std::size_t kReplaceBufferBytes = 1 << 16;

std::string SystemReason() { return std::strerror(errno); }

bool IsFieldEnd(char c) { return c == ',' || c == '\r' || c == '\n'; }

// Makes a rename in the folder of path durable. Best effort: some file systems refuse to sync a
// folder, and the replacement itself is already whole.
void SyncDirectoryOf(const std::filesystem::path& path) {
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

double NumberOfVariant(const Variant& value) {
  if (const double* number = std::get_if<double>(&value)) return *number;
  if (const std::string* text = std::get_if<std::string>(&value))
    return NumberOf(std::string_view(*text));
  return 0;
}

// Reads fields from a block buffer. A field that lies inside the buffer is handed out as a view
// into it; only one that straddles a refill (or is quoted) is copied.
class TextFiles::InputFile {
 public:
  InputFile(int fd, std::string name, std::size_t buffer_bytes)
      : fd_(fd),
        name_(std::move(name)),
        buffer_bytes_(buffer_bytes),
        buffer_(new char[buffer_bytes]) {}
  ~InputFile() { ::close(fd_); }

  // Takes the next field; false when no character is left before it.
  bool ReadField(std::string_view* value, bool* quoted) {
    for (;;) {
      if (pos_ == end_ && !Refill()) return false;
      const char c = buffer_[pos_];
      if (skip_lf_) {
        skip_lf_ = false;
        if (c == '\n') {
          ++pos_;
          continue;
        }
      }
      if (!IsBlank(c)) break;
      ++pos_;
    }
    field_line_ = line_;
    *quoted = buffer_[pos_] == '"';
    if (*quoted) {
      ++pos_;
      *value = ReadQuoted();
      return true;
    }
    *value = ReadUnquoted();
    while (!value->empty() && IsBlank(value->back())) value->remove_suffix(1);
    return true;
  }

  std::string Where() const { return name_ + ": line " + std::to_string(field_line_) + ": "; }

 private:
  bool Refill() {
    pos_ = end_ = 0;
    for (;;) {
      const ssize_t n = ::read(fd_, buffer_.get(), buffer_bytes_);
      if (n > 0) {
        end_ = static_cast<std::size_t>(n);
        return true;
      }
      if (n == 0) return false;
      if (errno != EINTR)
        throw FileError(FileErrorKind::kReadFailed, name_ + ": cannot read: " + SystemReason());
    }
  }

  void Keep(std::size_t from, std::size_t to) {
    if (scratch_.size() + (to - from) > kMaxFieldBytes) {
      throw FileError(FileErrorKind::kFieldTooLong,
                      Where() + "field longer than " + std::to_string(kMaxFieldBytes) + " bytes");
    }
    scratch_.append(buffer_.get() + from, to - from);
  }

  void TakeLineEnd(char c) {
    ++line_;
    skip_lf_ = c == '\r';
  }

  std::string_view ReadUnquoted() {
    std::size_t i = pos_;
    while (i < end_ && !IsFieldEnd(buffer_[i])) ++i;
    if (i < end_) {  // the common case: the whole field is in the buffer
      std::string_view field(buffer_.get() + pos_, i - pos_);
      pos_ = i + 1;
      if (buffer_[i] != ',') TakeLineEnd(buffer_[i]);
      return field;
    }
    scratch_.clear();
    for (;;) {
      Keep(pos_, end_);
      if (!Refill()) return scratch_;  // a last field needs no line end
      i = 0;
      while (i < end_ && !IsFieldEnd(buffer_[i])) ++i;
      if (i < end_) {
        Keep(0, i);
        pos_ = i + 1;
        if (buffer_[i] != ',') TakeLineEnd(buffer_[i]);
        return scratch_;
      }
    }
  }

  // Everything up to the closing quote (or the end of the file), then whatever stands between
  // the closing quote and the field's end is dropped.
  std::string_view ReadQuoted() {
    scratch_.clear();
    for (;;) {
      if (pos_ == end_ && !Refill()) return scratch_;
      const char* at =
          static_cast<const char*>(std::memchr(buffer_.get() + pos_, '"', end_ - pos_));
      const std::size_t stop = at ? at - buffer_.get() : end_;
      Keep(pos_, stop);
      pos_ = stop;
      if (at) break;
    }
    ++pos_;
    line_ += std::count(scratch_.begin(), scratch_.end(), '\n');
    for (;;) {
      if (pos_ == end_ && !Refill()) break;
      const char c = buffer_[pos_++];
      if (c == ',') break;
      if (c == '\r' || c == '\n') {
        TakeLineEnd(c);
        break;
      }
    }
    return scratch_;
  }

  int fd_;
  std::string name_;
  std::size_t buffer_bytes_;
  std::unique_ptr<char[]> buffer_;
  std::size_t pos_ = 0;
  std::size_t end_ = 0;
  bool skip_lf_ = false;  // a CR ended the last field; an LF right after it belongs to it
  long line_ = 1;
  long field_line_ = 1;
  std::string scratch_;
};

class TextFiles::OutputFile {
 public:
  OutputFile(int fd, std::string name, std::filesystem::path temp, std::filesystem::path target,
             std::size_t buffer_bytes)
      : fd_(fd),
        name_(std::move(name)),
        temp_(std::move(temp)),
        target_(std::move(target)),
        buffer_bytes_(buffer_bytes),
        buffer_(new char[buffer_bytes]) {}

  ~OutputFile() {
    if (fd_ < 0) return;
    if (temp_.empty()) {
      try {
        Flush();
      } catch (const FileError&) {
      }
    }
    Abandon();  // an unfinished replacement is dropped; the old file stays
  }

  void Append(const char* data, std::size_t size) {
    if (size <= buffer_bytes_ - used_) {
      std::memcpy(buffer_.get() + used_, data, size);
      used_ += size;
      return;
    }
    Flush();
    if (size >= buffer_bytes_) {
      WriteAll(data, size);
    } else {
      std::memcpy(buffer_.get(), data, size);
      used_ = size;
    }
  }

  void Close() {
    try {
      // A replacement that lost a write must not replace anything.
      if (failed_ && !temp_.empty()) {
        throw FileError(FileErrorKind::kWriteFailed, name_ + ": an earlier write failed");
      }
      Flush();
      if (!temp_.empty() && ::fsync(fd_) != 0) Fail("cannot write");
    } catch (const FileError&) {
      Abandon();
      throw;
    }
    if (::close(std::exchange(fd_, -1)) != 0) {
      const int saved = errno;
      Abandon();
      errno = saved;
      Fail("cannot write");
    }
    if (temp_.empty()) return;
    if (::rename(temp_.c_str(), target_.c_str()) != 0) {
      const int saved = errno;
      Abandon();
      errno = saved;
      Fail("cannot replace");
    }
    SyncDirectoryOf(target_);
  }

 private:
  [[noreturn]] void Fail(const char* what) {
    throw FileError(FileErrorKind::kWriteFailed, name_ + ": " + what + ": " + SystemReason());
  }

  // Closes what is still open and removes the temporary file of a replacement.
  void Abandon() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!temp_.empty()) ::unlink(temp_.c_str());
  }

  void Flush() {
    // What could not be written is dropped, so that a full medium fails each flush once.
    const std::size_t size = std::exchange(used_, 0);
    WriteAll(buffer_.get(), size);
  }

  void WriteAll(const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        // A write that stores nothing and reports no error would otherwise be retried forever.
        if (n == 0) errno = EIO;
        failed_ = true;
        Fail("cannot write");
      }
      data += n;
      size -= static_cast<std::size_t>(n);
    }
  }

  int fd_;
  std::string name_;
  std::filesystem::path temp_;  // empty unless the file replaces target_ at its close
  std::filesystem::path target_;
  std::size_t buffer_bytes_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

struct TextFiles::Slot {
  std::unique_ptr<InputFile> input;
  std::unique_ptr<OutputFile> output;
};

TextFiles::TextFiles(std::filesystem::path directory)
    : directory_(std::move(directory)),
      slots_(std::make_unique<std::array<Slot, kMaxFileNumber + 1>>()) {}

TextFiles::~TextFiles() = default;

std::filesystem::path TextFiles::PathOf(std::string_view name) const {
  std::filesystem::path path{std::string(name)};
  return directory_.empty() ? path : directory_ / path;
}

TextFiles::Slot& TextFiles::SlotOf(int number) const {
  if (number < 1 || number > kMaxFileNumber) {
    throw std::invalid_argument("bad file number " + std::to_string(number));
  }
  return (*slots_)[number];
}

bool TextFiles::IsOpen(int number) const {
  const Slot& slot = SlotOf(number);
  return slot.input || slot.output;
}

void TextFiles::CheckClosed(int number, std::string_view name) const {
  if (IsOpen(number)) {
    throw FileError(FileErrorKind::kAlreadyOpen, std::string(name) + ": file number " +
                                                     std::to_string(number) + " is already open");
  }
}

void TextFiles::OpenForOutput(int number, std::string_view name) {
  CheckClosed(number, name);
  const std::filesystem::path path = PathOf(name);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw FileError(FileErrorKind::kCannotOpen,
                    std::string(name) + ": cannot create: " + SystemReason());
  }
  SlotOf(number).output = std::make_unique<OutputFile>(
      fd, std::string(name), std::filesystem::path(), std::filesystem::path(), kOutputBufferBytes);
}

void TextFiles::OpenForReplace(int number, std::string_view name) {
  CheckClosed(number, name);
  const std::filesystem::path path = PathOf(name);
  const auto cannot_create = [&] {
    return FileError(FileErrorKind::kCannotOpen,
                     std::string(name) + ": cannot create: " + SystemReason());
  };
  struct stat old;
  const bool replaces = ::stat(path.c_str(), &old) == 0;
  // A file the user made read-only stays as it is, as a plain open for writing would.
  if (replaces && (S_ISDIR(old.st_mode) || ::access(path.c_str(), W_OK) != 0)) {
    errno = S_ISDIR(old.st_mode) ? EISDIR : EACCES;
    throw cannot_create();
  }
  const std::filesystem::path temp = ReplacementTempPath(path);
  // Exclusive and never through a link: the temporary file is ours alone. One left by a process
  // that had our number before (it can't be running: the number is ours) is stale.
  constexpr int kFlags = O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC;
  int fd = ::open(temp.c_str(), kFlags, 0666);
  if (fd < 0 && errno == EEXIST && ::unlink(temp.c_str()) == 0)
    fd = ::open(temp.c_str(), kFlags, 0666);
  if (fd < 0) throw cannot_create();
  // A new file gets 0666 less the umask from open(); a replaced one keeps its mode.
  if (replaces) ::fchmod(fd, old.st_mode & 07777);
  // Replacements are small files written whole (the settings), so a small buffer does.
  SlotOf(number).output =
      std::make_unique<OutputFile>(fd, std::string(name), temp, path, kReplaceBufferBytes);
}

void TextFiles::OpenForInput(int number, std::string_view name) {
  CheckClosed(number, name);
  const std::filesystem::path path = PathOf(name);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    throw FileError(FileErrorKind::kCannotOpen,
                    std::string(name) + ": cannot open: " + SystemReason());
  }
  struct stat info;
  if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
    ::close(fd);
    throw FileError(FileErrorKind::kCannotOpen,
                    std::string(name) + ": cannot open: is a directory");
  }
  // A small file (a settings file) needs no megabyte of buffer.
  std::size_t buffer_bytes = kInputBufferBytes;
  if (S_ISREG(info.st_mode) && info.st_size >= 0 &&
      static_cast<std::size_t>(info.st_size) < kInputBufferBytes) {
    buffer_bytes = std::max<std::size_t>(static_cast<std::size_t>(info.st_size) + 1, 4096);
  }
  SlotOf(number).input = std::make_unique<InputFile>(fd, std::string(name), buffer_bytes);
}

void TextFiles::CloseFile(int number) {
  Slot& slot = SlotOf(number);
  slot.input.reset();
  if (std::unique_ptr<OutputFile> output = std::move(slot.output)) output->Close();
}

void TextFiles::PrintItems(int number, std::initializer_list<PrintItem> items, LineEnd end) {
  OutputFile* out = SlotOf(number).output.get();
  if (out == nullptr) {
    throw FileError(FileErrorKind::kNotOpen,
                    "file number " + std::to_string(number) + " is not open for output");
  }
  char text[kNumberTextMax + 1];
  for (const PrintItem& item : items) {
    if (item.is_number()) {
      std::size_t size = FormatNumberText(item.number(), text);
      text[size++] = ' ';
      out->Append(text, size);
    } else {
      out->Append(item.text().data(), item.text().size());
    }
  }
  if (end == LineEnd::kEndLine) out->Append("\r\n", 2);
}

void TextFiles::InputFields(int number, std::initializer_list<InputTarget> targets) {
  InputFile* in = SlotOf(number).input.get();
  if (in == nullptr) {
    throw FileError(FileErrorKind::kNotOpen,
                    "file number " + std::to_string(number) + " is not open for input");
  }
  int index = 0;
  for (const InputTarget& target : targets) {
    std::string_view field;
    bool quoted = false;
    if (!in->ReadField(&field, &quoted)) {
      throw FileError(FileErrorKind::kReadPastEnd, in->Where() + "the input ends before the field",
                      index);
    }
    const auto overflow = [&] {
      return FileError(FileErrorKind::kNumberOverflow,
                       in->Where() + "number out of range: " + QuotedForMessage(field), index);
    };
    switch (target.kind()) {
      case InputTarget::Kind::kText:
        target.as<std::string>().assign(field);
        break;
      case InputTarget::Kind::kDouble: {
        const ParsedNumber parsed = ParseNumber(field);
        if (parsed.status == NumberStatus::kOverflow) throw overflow();
        target.as<double>() = parsed.status == NumberStatus::kNumber ? parsed.value : 0;
        break;
      }
      case InputTarget::Kind::kInt32: {
        const ParsedNumber parsed = ParseNumber(field);
        if (parsed.status == NumberStatus::kOverflow) throw overflow();
        double rounded = 0;
        if (parsed.status == NumberStatus::kNumber) {
          rounded = std::nearbyint(parsed.value);  // ties to even in the default rounding mode
          if (!(rounded >= -2147483648.0 && rounded <= 2147483647.0)) throw overflow();
        }
        target.as<std::int32_t>() = static_cast<std::int32_t>(rounded);
        break;
      }
      case InputTarget::Kind::kVariant: {
        Variant& variant = target.as<Variant>();
        if (quoted) {
          variant.emplace<std::string>(field);
          break;
        }
        if (field.empty()) {
          variant.emplace<std::monostate>();
          break;
        }
        const ParsedNumber parsed = ParseNumber(field);
        if (parsed.status == NumberStatus::kOverflow) throw overflow();
        if (parsed.status == NumberStatus::kNumber) {
          variant = parsed.value;
        } else if (std::string* text = std::get_if<std::string>(&variant)) {
          text->assign(field);  // reuses the text's storage record after record
        } else {
          variant.emplace<std::string>(field);
        }
        break;
      }
    }
    ++index;
  }
}

}  // namespace dosemap
