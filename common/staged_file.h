#ifndef DOSEMAP_COMMON_STAGED_FILE_H_
#define DOSEMAP_COMMON_STAGED_FILE_H_

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "common/byte_sink.h"

namespace dosemap {

// A new file written beside its target under a unique name ("<target>.XXXXXX") and put in place
// by Commit, so an interrupted or failed run, or a concurrent one, never leaves half a file.
// Dropped without Commit, the staging file is removed.
// - A target that is a symbolic link to a file is staged beside the file it leads to and renamed
//   over that file: the link stays.
// - A target that exists and is no regular file (a FIFO, a terminal, /dev/stdout) is never
//   replaced: the bytes are staged in the temporary folder and copied into it by Close.
// - A target that is a folder fails at once.
// Every failure throws FileError (kCannotOpen, kWriteFailed) naming the target.
class StagedFile : public ByteSink {
 public:
  explicit StagedFile(std::filesystem::path target);
  ~StagedFile();
  StagedFile(const StagedFile&) = delete;
  StagedFile& operator=(const StagedFile&) = delete;

  void Write(std::string_view bytes) override;
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
  std::int64_t offset() const override { return flushed_ + static_cast<std::int64_t>(used_); }
  // Overwrites bytes written earlier at offset (a placeholder of the same length).
  void Patch(std::int64_t offset, std::string_view bytes) override;
  // Hands everything written so far to the staging file (for a file that is read, not renamed).
  void Flush();
  // Flushes, syncs and closes the staging file. After it, another writer may replace the staging
  // file by its path (the KMZ packer does).
  void Seal();
  // Seals, and writes a target that is no regular file: all is ready for Commit.
  void Close();
  // Closes if need be, then puts the staging file in place. Throws on failure, leaving the
  // target as it was.
  void Commit();

  const std::filesystem::path& target() const { return target_; }
  const std::filesystem::path& staging() const { return staging_; }

 private:
  static constexpr std::size_t kBufferBytes = 1 << 20;
  [[noreturn]] void Fail(const char* what);

  std::filesystem::path target_;
  std::filesystem::path renamed_over_;  // the file Commit renames over; empty: copy into target_
  std::filesystem::path staging_;
  int fd_ = -1;
  bool closed_ = false;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  std::int64_t flushed_ = 0;
};

// What an interrupt removes for a registered path: the file; the file and any "<path>.XXXXXX"
// beside it (the temporary file of a packer that writes the path); or a whole folder.
enum class StagingKind { kFile, kFileAndPackerTemp, kFolder };

// Registers path for RemoveAllStaging until Unregister or the object's end.
class StagingPath {
 public:
  StagingPath(std::filesystem::path path, StagingKind kind);
  ~StagingPath();
  StagingPath(const StagingPath&) = delete;
  StagingPath& operator=(const StagingPath&) = delete;

  // Creates a new empty file (kFile: mkstemps, "XXXXXX" in pattern followed by suffix_length
  // bytes) or folder (kFolder: mkdtemp, pattern ending in "XXXXXX") and registers it in one step,
  // under the registry's lock: an interrupt finds it either not yet made or known. Null, with
  // errno set, when it cannot be made.
  static std::unique_ptr<StagingPath> Create(std::string pattern, StagingKind kind,
                                             int suffix_length = 0);

  const std::filesystem::path& path() const { return path_; }

 private:
  StagingPath() = default;
  std::filesystem::path path_;
};

// From this call on, no thread of the process makes a name in any folder: creating, linking,
// renaming and making folders fail with EPERM, while reading, writing open files and removing go
// on. An interrupt's clean-up calls it first, so a thread that is still running cannot make a
// removed staging file again (reopening it by name) before the process ends. False where the
// system refuses the filter; nothing changes then.
bool StopNewNames();

// Removes what every registered path stands for. Called on SIGINT, SIGTERM or SIGHUP from a
// thread that waits for them: never from a signal handler.
void RemoveAllStaging();

// From the first call on, SIGINT, SIGTERM and SIGHUP (an interrupt, a kill, a desktop's logout)
// remove every registered path, then end the process as the signal would have. The first call
// must come before the process starts any other thread: the signals are blocked there, so that
// only the thread that waits for them takes them.
void RemoveStagingOnSignals();

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_STAGED_FILE_H_
