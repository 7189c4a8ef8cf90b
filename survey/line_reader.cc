#include "survey/line_reader.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/error.h"

namespace dosemap {
namespace {

constexpr std::size_t kBlockBytes = 1 << 20;
constexpr std::size_t kPeekBytes = 64 << 10;

// The LFs in n bytes: sixteen bytes compared at once (SSE2, which every x86-64 has), counted in
// bytes up to 255 times, then summed; elsewhere one at a time.
long CountLineFeeds(const char* p, std::size_t n) {
  long total = 0;
#if defined(__SSE2__)
  const __m128i lf = _mm_set1_epi8('\n');
  while (n >= 16) {
    __m128i counts = _mm_setzero_si128();
    const std::size_t blocks = std::min<std::size_t>(n / 16, 255);
    for (std::size_t i = 0; i < blocks; ++i, p += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      counts = _mm_sub_epi8(counts, _mm_cmpeq_epi8(bytes, lf));
    }
    const __m128i sums = _mm_sad_epu8(counts, _mm_setzero_si128());
    total += _mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4);
    n -= blocks * 16;
  }
#endif
  for (; n > 0; --n) total += *p++ == '\n';
  return total;
}

}  // namespace

LineReader::LineReader(const std::string& path) : path_(path) {
  if (path == "-") {
    fd_ = 0;
    path_ = "(stdin)";
  } else {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0)
      throw FileError(FileErrorKind::kCannotOpen, path + ": cannot open: " + std::strerror(errno));
    owns_fd_ = true;
  }
  struct stat info;
  if (::fstat(fd_, &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      ::close(fd_);
      throw FileError(FileErrorKind::kCannotOpen, path + ": cannot open: is a directory");
    }
    if (S_ISREG(info.st_mode)) {
      size_ = info.st_size;
      OpenKmzDocument();
    }
  }
  // Room for the longest line and a block after it.
  capacity_ = kMaxLineBytes + kBlockBytes;
  buffer_.reset(new char[capacity_]);
}

LineReader::LineReader(const std::string& name, std::string_view bytes)
    : path_(name), memory_(bytes), size_(static_cast<std::int64_t>(bytes.size())) {
  capacity_ = kMaxLineBytes + kBlockBytes;
  buffer_.reset(new char[capacity_]);
}

LineReader::~LineReader() {
  if (zip_file_ != nullptr) zip_fclose(zip_file_);
  if (zip_ != nullptr) zip_discard(zip_);
  if (owns_fd_) ::close(fd_);
}

bool LineReader::OpenKmzDocument() {
  char magic[4];
  if (::pread(fd_, magic, sizeof magic, 0) != 4 || std::memcmp(magic, "PK\x03\x04", 4) != 0)
    return false;
  // libzip takes the descriptor it is given and closes it: it gets a copy of its own.
  const int copy = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  int error = 0;
  zip_ = zip_fdopen(copy, ZIP_RDONLY, &error);
  if (zip_ == nullptr) {
    ::close(copy);
    return false;  // not an archive after all: read as bytes, and told as no known format
  }
  zip_int64_t document = zip_name_locate(zip_, "doc.kml", ZIP_FL_NOCASE);
  const zip_int64_t entries = zip_get_num_entries(zip_, 0);
  for (zip_int64_t i = 0; document < 0 && i < entries; ++i) {
    const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), 0);
    const std::size_t length = name == nullptr ? 0 : std::strlen(name);
    if (length > 4 && strcasecmp(name + length - 4, ".kml") == 0) document = i;
  }
  zip_stat_t stat;
  if (document < 0 || zip_stat_index(zip_, static_cast<zip_uint64_t>(document), 0, &stat) != 0 ||
      (zip_file_ = zip_fopen_index(zip_, static_cast<zip_uint64_t>(document), 0)) == nullptr) {
    zip_discard(zip_);
    zip_ = nullptr;
    return false;
  }
  size_ = (stat.valid & ZIP_STAT_SIZE) != 0 ? static_cast<std::int64_t>(stat.size) : -1;
  return true;
}

bool LineReader::Fill() {
  if (eof_) return false;
  if (pos_ > 0 && (end_ == pos_ || capacity_ - end_ < kBlockBytes)) {
    std::memmove(buffer_.get(), buffer_.get() + pos_, end_ - pos_);
    end_ -= pos_;
    pos_ = 0;
  }
  if (end_ == capacity_) return false;
  if (fd_ < 0) {  // in memory
    const std::size_t n = std::min(memory_.size(), capacity_ - end_);
    std::memcpy(buffer_.get() + end_, memory_.data(), n);
    memory_.remove_prefix(n);
    end_ += n;
    eof_ = memory_.empty();
    return n > 0;
  }
  if (zip_file_ != nullptr) {
    const zip_int64_t n = zip_fread(zip_file_, buffer_.get() + end_, capacity_ - end_);
    if (n < 0) {
      throw FileError(FileErrorKind::kReadFailed,
                      path_ + ": cannot read the KMZ's document: " + zip_file_strerror(zip_file_));
    }
    end_ += static_cast<std::size_t>(n);
    eof_ = n == 0;
    return n > 0;
  }
  for (;;) {
    const ssize_t n = ::read(fd_, buffer_.get() + end_, capacity_ - end_);
    if (n > 0) {
      end_ += static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      return false;
    }
    if (errno != EINTR)
      throw FileError(FileErrorKind::kReadFailed, path_ + ": cannot read: " + std::strerror(errno));
  }
}

std::string_view LineReader::Peek() {
  while (end_ - pos_ < kPeekBytes && Fill()) {
  }
  return {buffer_.get() + pos_, std::min(end_ - pos_, kPeekBytes)};
}

bool LineReader::NextLine(std::string_view* line, bool* too_long) {
  *too_long = false;
  std::size_t scanned = pos_;
  const bool continued = continues_line_;
  continues_line_ = false;
  for (;;) {
    if (split_mark_ >= 0) {
      // A line longer than the limit: hand out what ends before its last mark within the limit.
      const void* lf = std::memchr(buffer_.get() + scanned, '\n', end_ - scanned);
      const std::size_t line_end =
          lf != nullptr ? static_cast<const char*>(lf) - buffer_.get() : end_;
      if (line_end - pos_ > kMaxLineBytes) {
        const void* mark = ::memrchr(buffer_.get() + pos_ + 1, split_mark_, kMaxLineBytes - 1);
        const std::size_t cut =
            mark != nullptr ? static_cast<const char*>(mark) - buffer_.get() : pos_ + kMaxLineBytes;
        *too_long = mark == nullptr;
        *line = std::string_view(buffer_.get() + pos_, cut - pos_);
        consumed_ += static_cast<std::int64_t>(cut - pos_);
        pos_ = cut;
        continues_line_ = true;
        line_end_ = {};
        if (!continued) ++line_number_;
        return true;
      }
    }
    const void* lf = std::memchr(buffer_.get() + scanned, '\n', end_ - scanned);
    if (lf != nullptr) {
      const std::size_t at = static_cast<const char*>(lf) - buffer_.get();
      std::size_t length = at - pos_;
      if (length > kMaxLineBytes) {
        *too_long = true;
        length = kMaxLineBytes;
      }
      *line = std::string_view(buffer_.get() + pos_, length);
      consumed_ += static_cast<std::int64_t>(at + 1 - pos_);
      pos_ = at + 1;
      line_end_ = "\n";
      break;
    }
    if (end_ - pos_ > kMaxLineBytes) {
      // Keep the start of an endless line, then drop the rest of it up to its end.
      *too_long = true;
      overflow_.assign(buffer_.get() + pos_, kMaxLineBytes);
      *line = overflow_;
      line_end_ = "\n";
      for (;;) {
        consumed_ += static_cast<std::int64_t>(end_ - pos_);
        pos_ = end_;
        if (!Fill()) break;
        const void* next = std::memchr(buffer_.get() + pos_, '\n', end_ - pos_);
        if (next != nullptr) {
          const std::size_t at = static_cast<const char*>(next) - buffer_.get();
          consumed_ += static_cast<std::int64_t>(at + 1 - pos_);
          pos_ = at + 1;
          break;
        }
      }
      break;
    }
    const std::size_t before = pos_;
    scanned = end_;
    if (!Fill()) {
      if (end_ == pos_) return false;  // the end of the input
      *line = std::string_view(buffer_.get() + pos_, end_ - pos_);
      consumed_ += static_cast<std::int64_t>(end_ - pos_);
      pos_ = end_;
      line_end_ = {};
      break;
    }
    scanned -= before - pos_;  // the buffer may have moved to its front
  }
  if (!continued) ++line_number_;
  if (!line->empty() && line->back() == '\r') {
    line->remove_suffix(1);
    line_end_ = line_end_.empty() ? "\r" : "\r\n";
  }
  return true;
}

bool LineReader::NextLines(std::size_t max_bytes, long max_lines, std::string_view* lines,
                           long* count) {
  if (split_mark_ >= 0 || continues_line_ || max_lines <= 0) return false;
  if (pos_ == end_ && !Fill()) return false;
  const char* const start = buffer_.get() + pos_;
  const std::size_t window = std::min(end_ - pos_, max_bytes);
  const void* last = ::memrchr(start, '\n', window);
  if (last == nullptr) return false;
  std::size_t length = static_cast<const char*>(last) - start + 1;
  long lfs = CountLineFeeds(start, length);
  if (lfs > max_lines) {
    // More lines than asked for: up to the max_lines-th LF.
    const char* at = start;
    for (long i = 0; i < max_lines; ++i)
      at = static_cast<const char*>(std::memchr(at, '\n', start + length - at)) + 1;
    length = at - start;
    lfs = max_lines;
  }
  *lines = std::string_view(start, length);
  *count = lfs;
  line_number_ += lfs;
  consumed_ += static_cast<std::int64_t>(length);
  pos_ += length;
  line_end_ = length >= 2 && start[length - 2] == '\r' ? "\r\n" : "\n";
  return true;
}

std::string_view LineReader::NextBytes() {
  if (pos_ == end_) {
    pos_ = end_ = 0;
    if (!Fill()) return {};
  }
  const std::string_view bytes(buffer_.get() + pos_, end_ - pos_);
  consumed_ += static_cast<std::int64_t>(bytes.size());
  pos_ = end_;
  return bytes;
}

std::string LineReader::ReadRest(std::size_t max_bytes) {
  std::string rest(buffer_.get() + pos_, end_ - pos_);
  pos_ = end_;
  for (;;) {
    if (rest.size() > max_bytes) {
      throw FileError(FileErrorKind::kFieldTooLong,
                      path_ + ": longer than " + std::to_string(max_bytes) + " bytes");
    }
    pos_ = end_ = 0;
    if (!Fill()) break;
    rest.append(buffer_.get(), end_);
  }
  pos_ = end_ = 0;
  consumed_ += static_cast<std::int64_t>(rest.size());
  return rest;
}

}  // namespace dosemap
