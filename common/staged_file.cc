#include "common/staged_file.h"

#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "common/error.h"

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

// The staging paths that exist now, for RemoveAllStaging.
struct Registry {
  std::mutex mutex;
  std::map<std::string, StagingKind> paths;
};

Registry& Staging() {
  static Registry* registry = new Registry;  // never destroyed: an interrupt may come at exit
  return *registry;
}

void Unregister(const std::filesystem::path& path) {
  std::lock_guard<std::mutex> lock(Staging().mutex);
  Staging().paths.erase(path.string());
}

// "<name>.XXXXXX": the temporary file a packer (libzip) makes beside the archive it writes.
bool IsPackerTemp(const std::string& candidate, const std::string& name) {
  if (candidate.size() != name.size() + 7 || candidate.compare(0, name.size(), name) != 0 ||
      candidate[name.size()] != '.') {
    return false;
  }
  return std::all_of(candidate.begin() + static_cast<std::ptrdiff_t>(name.size()) + 1,
                     candidate.end(), [](unsigned char c) { return std::isalnum(c) != 0; });
}

void RemovePackerTemps(const std::filesystem::path& path) {
  std::error_code ignored;
  const std::string name = path.filename().string();
  std::filesystem::path folder = path.parent_path();
  if (folder.empty()) folder = ".";
  for (std::filesystem::directory_iterator it(folder, ignored), end; !ignored && it != end;
       it.increment(ignored)) {
    if (IsPackerTemp(it->path().filename().string(), name))
      std::filesystem::remove(it->path(), ignored);
  }
}

std::filesystem::path TemporaryFolder() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  return error ? std::filesystem::path("/tmp") : folder;
}

// Copies the file at source into the open descriptor out, from its start.
bool CopyInto(const std::filesystem::path& source, int out) {
  const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  char block[1 << 16];
  bool ok = true;
  for (;;) {
    const ssize_t n = ::read(in, block, sizeof block);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    for (ssize_t done = 0; done < n;) {
      const ssize_t w = ::write(out, block + done, static_cast<std::size_t>(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        if (w == 0) errno = EIO;
        ok = false;
        break;
      }
      done += w;
    }
    if (!ok) break;
  }
  const int saved = errno;
  ::close(in);
  errno = saved;
  return ok;
}

}  // namespace

StagedFile::StagedFile(std::filesystem::path target)
    : target_(std::move(target)), buffer_(new char[kBufferBytes]) {
  struct stat info;
  std::filesystem::path beside = target_;
  if (::stat(target_.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode))
      throw FileError(FileErrorKind::kCannotOpen, target_.string() + ": is a folder");
    if (!S_ISREG(info.st_mode)) {
      beside.clear();  // a FIFO, a terminal, a device: written into, never replaced
    } else {
      std::error_code error;
      const std::filesystem::path real = std::filesystem::canonical(target_, error);
      if (!error) beside = real;  // through a link: the file it leads to is replaced
    }
  }
  renamed_over_ = beside;
  std::string pattern =
      (beside.empty() ? TemporaryFolder() / "dosemap" : beside).string() + ".XXXXXX";
  {
    // Registered under the lock, so an interrupt never finds the file created but unknown.
    std::lock_guard<std::mutex> lock(Staging().mutex);
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) Staging().paths[pattern] = StagingKind::kFileAndPackerTemp;
  }
  if (fd_ < 0) {
    throw FileError(FileErrorKind::kCannotOpen,
                    target_.string() + ": cannot create: " + std::strerror(errno));
  }
  staging_ = pattern;
  // mkostemp makes the file 0600; a map gets the usual 0666 less the umask.
  ::fchmod(fd_, 0666 & ~CurrentUmask());
}

StagedFile::~StagedFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!staging_.empty()) {
    ::unlink(staging_.c_str());
    Unregister(staging_);
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

void StagedFile::Seal() {
  if (fd_ < 0) return;
  Flush();
  if (::fsync(fd_) != 0 && !renamed_over_.empty()) Fail("cannot write");
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0) Fail("cannot write");
}

void StagedFile::Close() {
  if (closed_) return;
  Seal();
  closed_ = true;
  if (renamed_over_.empty()) {
    // A pipe or a terminal keeps being what it is: the bytes are written into it now, before any
    // other output of the run is put in place, so its failure replaces nothing.
    const int out = ::open(target_.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (out < 0) Fail("cannot open");
    const bool copied = CopyInto(staging_, out);
    const int saved = errno;
    ::close(out);
    errno = saved;
    if (!copied) Fail("cannot write");
    ::unlink(staging_.c_str());
    Unregister(staging_);
    staging_.clear();
  }
}

void StagedFile::Commit() {
  Close();
  if (renamed_over_.empty()) return;  // written in place by Close
  if (::rename(staging_.c_str(), renamed_over_.c_str()) != 0) Fail("cannot replace");
  Unregister(staging_);
  staging_.clear();
  std::filesystem::path folder = renamed_over_.parent_path();
  if (folder.empty()) folder = ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

StagingPath::StagingPath(std::filesystem::path path, StagingKind kind) : path_(std::move(path)) {
  std::lock_guard<std::mutex> lock(Staging().mutex);
  Staging().paths[path_.string()] = kind;
}

StagingPath::~StagingPath() {
  if (!path_.empty()) Unregister(path_);
}

std::unique_ptr<StagingPath> StagingPath::Create(std::string pattern, StagingKind kind,
                                                 int suffix_length) {
  std::unique_ptr<StagingPath> created(new StagingPath);
  std::lock_guard<std::mutex> lock(Staging().mutex);
  if (kind == StagingKind::kFolder) {
    if (::mkdtemp(pattern.data()) == nullptr) return nullptr;
  } else {
    const int fd = ::mkostemps(pattern.data(), suffix_length, O_CLOEXEC);
    if (fd < 0) return nullptr;
    ::close(fd);
  }
  Staging().paths[pattern] = kind;
  created->path_ = std::move(pattern);
  return created;
}

bool StopNewNames() {
#if defined(__x86_64__)
  constexpr std::uint32_t kArch = AUDIT_ARCH_X86_64;
#elif defined(__aarch64__)
  constexpr std::uint32_t kArch = AUDIT_ARCH_AARCH64;
#else
  return false;
#endif
  // The calls that make a name, refused outright; open and openat only with O_CREAT (their flags'
  // low word: both machines are little-endian).
  const std::vector<long> refused = {
#ifdef __NR_creat
      __NR_creat,
#endif
#ifdef __NR_mkdir
      __NR_mkdir,
#endif
#ifdef __NR_link
      __NR_link,
#endif
#ifdef __NR_symlink
      __NR_symlink,
#endif
#ifdef __NR_rename
      __NR_rename,
#endif
#ifdef __NR_mknod
      __NR_mknod,
#endif
      __NR_mkdirat,   __NR_linkat,  __NR_symlinkat, __NR_renameat,
      __NR_renameat2, __NR_mknodat, __NR_openat2};
  constexpr std::uint32_t kAllow = SECCOMP_RET_ALLOW;
  constexpr std::uint32_t kRefuse = SECCOMP_RET_ERRNO | EPERM;
  const auto field = [](std::size_t offset) {
    return sock_filter BPF_STMT(BPF_LD | BPF_W | BPF_ABS, static_cast<std::uint32_t>(offset));
  };
  const auto flags_low_word = [](int argument) {
    return static_cast<std::size_t>(offsetof(seccomp_data, args) + 8 * argument);
  };
  std::vector<sock_filter> program = {
      field(offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kArch, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, kAllow),
      field(offsetof(seccomp_data, nr)),
  };
  for (const long call : refused) {
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, kRefuse));
  }
  const std::vector<std::pair<long, int>> opening = {
#ifdef __NR_open
      {__NR_open, 1},
#endif
      {__NR_openat, 2}};
  for (const auto& [call, argument] : opening) {
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<std::uint32_t>(call), 0, 3));
    program.push_back(field(flags_low_word(argument)));
    program.push_back(BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, O_CREAT, 0, 1));
    program.push_back(BPF_STMT(BPF_RET | BPF_K, kRefuse));
    program.push_back(field(offsetof(seccomp_data, nr)));
  }
  program.push_back(BPF_STMT(BPF_RET | BPF_K, kAllow));
  const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
  // Every thread at once (TSYNC); a process may add a filter only without new privileges.
  if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) return false;
  return ::syscall(SYS_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_TSYNC, &filter) == 0;
}

namespace {

// RemoveAllStaging with the registry's lock held by the caller.
void RemoveRegistered() {
  std::error_code ignored;
  for (const auto& [path, kind] : Staging().paths) {
    if (kind == StagingKind::kFolder) {
      std::filesystem::remove_all(path, ignored);
      continue;
    }
    ::unlink(path.c_str());
    if (kind == StagingKind::kFileAndPackerTemp) RemovePackerTemps(path);
  }
}

}  // namespace

void RemoveAllStaging() {
  std::lock_guard<std::mutex> lock(Staging().mutex);
  RemoveRegistered();
}

void RemoveStagingOnSignals() {
  static std::once_flag started;
  std::call_once(started, [] {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal_number);
    // Blocked here, so every thread started later inherits it and only the waiting thread takes
    // these signals: it may then lock, list folders and remove at leisure.
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::thread([signals]() {
      int signal_number = 0;
      if (::sigwait(&signals, &signal_number) != 0) return;
      // The lock is kept until the process ends: no staging path is made or dropped meanwhile,
      // and no other name either once the filter holds.
      Staging().mutex.lock();
      StopNewNames();
      RemoveRegistered();
      ::signal(signal_number, SIG_DFL);
      ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
      ::raise(signal_number);
    }).detach();
  });
}

}  // namespace dosemap
