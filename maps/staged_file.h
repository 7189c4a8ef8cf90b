#ifndef DOSEMAP_MAPS_STAGED_FILE_H_
#define DOSEMAP_MAPS_STAGED_FILE_H_

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace dosemap {

// A new file written beside its target under a unique name ("<target>.XXXXXX") and renamed over
// the target by Commit, so an interrupted or failed run, or a concurrent one, never leaves half a
// file. Dropped without Commit, the staging file is removed. Every failure throws FileError
// (kCannotOpen, kWriteFailed) naming the target.
class StagedFile {
 public:
  explicit StagedFile(std::filesystem::path target);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  void Write(std::string_view bytes);
  StagedFile& operator<<(std::string_view bytes) {
    if (bytes.size() <= kBufferBytes - used_) {
      std::copy(bytes.begin(), bytes.end(), buffer_.get() + used_);
      used_ += bytes.size();
    } else {
      Write(bytes);
    }
    return *this;
  }
  // Where the next byte goes.
  std::int64_t offset() const { return flushed_ + static_cast<std::int64_t>(used_); }
  // Overwrites bytes written earlier at offset (a placeholder of the same length).
  void Patch(std::int64_t offset, std::string_view bytes);
  // Hands everything written so far to the staging file (for a file that is read, not renamed).
  void Flush();
  // Flushes, syncs and renames over the target. Throws on failure, leaving the target as it was.
  void Commit();

  const std::filesystem::path& target() const { return target_; }
  const std::filesystem::path& staging() const { return staging_; }

 private:
  static constexpr std::size_t kBufferBytes = 1 << 20;
  [[noreturn]] void Fail(const char* what);

  std::filesystem::path target_;
  std::filesystem::path staging_;
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::int64_t flushed_ = 0;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_STAGED_FILE_H_
