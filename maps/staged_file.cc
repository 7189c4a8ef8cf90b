#include "maps/staged_file.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "textfile/file_error.h"

namespace dosemap {
namespace {

// The process's umask, read without umask(), which would change it for every thread meanwhile.
mode_t CurrentUmask() {
  FILE* status = std::fopen("/proc/self/status", "re");
  unsigned mask = 022;
  if (status != nullptr) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(status);
  }
  return static_cast<mode_t>(mask);
}

}  // namespace

StagedFile::StagedFile(std::filesystem::path target)
    : target_(std::move(target)), buffer_(new char[kBufferBytes]) {
  std::string pattern = target_.string() + ".XXXXXX";
  fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
  if (fd_ < 0) {
    throw FileError(FileErrorKind::kCannotOpen,
                    target_.string() + ": cannot create: " + std::strerror(errno));
  }
  staging_ = pattern;
  // mkostemp makes the file 0600; a map gets the usual 0666 less the umask.
  ::fchmod(fd_, 0666 & ~CurrentUmask());
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) {
    ::close(fd_);
    ::unlink(staging_.c_str());
  }
}

void StagedFile::Fail(const char* what) {
  throw FileError(FileErrorKind::kWriteFailed,
                  target_.string() + ": " + what + ": " + std::strerror(errno));
}

void StagedFile::Flush() {
  const char* data = buffer_.get();
  std::size_t size = used_;
  used_ = 0;
  while (size > 0) {
    const ssize_t n = ::write(fd_, data, size);
    if (n <= 0) {
      if (n < 0 && errno == EINTR) continue;
      if (n == 0) errno = EIO;
      Fail("cannot write");
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    flushed_ += n;
  }
}

void StagedFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    if (used_ == kBufferBytes) Flush();
    const std::size_t part = std::min(bytes.size(), kBufferBytes - used_);
    std::memcpy(buffer_.get() + used_, bytes.data(), part);
    used_ += part;
    bytes.remove_prefix(part);
  }
}

void StagedFile::Patch(std::int64_t at, std::string_view bytes) {
  if (at >= flushed_) {
    std::memcpy(buffer_.get() + (at - flushed_), bytes.data(), bytes.size());
    return;
  }
  if (at + static_cast<std::int64_t>(bytes.size()) > flushed_) Flush();
  if (::pwrite(fd_, bytes.data(), bytes.size(), at) != static_cast<ssize_t>(bytes.size()))
    Fail("cannot write");
}

void StagedFile::Commit() {
  Flush();
  if (::fsync(fd_) != 0) Fail("cannot write");
  if (::close(fd_) != 0) {
    fd_ = -1;
    ::unlink(staging_.c_str());
    Fail("cannot write");
  }
  fd_ = -1;
  if (::rename(staging_.c_str(), target_.c_str()) != 0) {
    const int saved = errno;
    ::unlink(staging_.c_str());
    errno = saved;
    Fail("cannot replace");
  }
  std::filesystem::path folder = target_.parent_path();
  if (folder.empty()) folder = ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace dosemap
