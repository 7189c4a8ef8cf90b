#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <thread>

#include "cli/commands.h"
#include "maps/staged_file.h"
#include "textfile/message_text.h"

namespace dosemap::cli {
namespace {

// Fixed storage the signal handler can read without allocating.
constexpr int kMaxRemoved = 4;
constexpr std::size_t kMaxPath = 4096;
char removed_paths[kMaxRemoved][kMaxPath];
volatile sig_atomic_t removed_count = 0;

extern "C" void RemoveAndDie(int signal_number) {
  for (int i = 0; i < removed_count; ++i) ::unlink(removed_paths[i]);
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

void PrintError(const std::string& message) {
  std::fprintf(stderr, "dosemap-convert: %s\n", OneLine(message).c_str());
}

bool PrintOut(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return true;
  PrintError(std::string("cannot write to standard output: ") + std::strerror(errno));
  return false;
}

bool IsOption(const std::string& arg) {
  if (arg.size() < 2 || arg[0] != '-') return false;
  return !(arg[1] == '.' || (arg[1] >= '0' && arg[1] <= '9'));
}

void RemoveOnInterrupt(const std::vector<std::string>& paths) {
  removed_count = 0;
  int count = 0;
  for (const std::string& path : paths) {
    if (count == kMaxRemoved || path.size() >= kMaxPath) continue;
    std::memcpy(removed_paths[count], path.c_str(), path.size() + 1);
    ++count;
  }
  removed_count = count;
  if (count == 0) return;
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal_number, RemoveAndDie);
}

void RemoveStagingOnInterrupt() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&signals, signal_number);
  // Blocked here, before any other thread exists, so every thread inherits it and only the
  // waiting thread takes these signals: it may then lock, list folders and remove at leisure.
  ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread([signals]() {
    int signal_number = 0;
    if (::sigwait(&signals, &signal_number) != 0) return;
    RemoveAllStaging();
    ::signal(signal_number, SIG_DFL);
    ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    ::raise(signal_number);
  }).detach();
}

}  // namespace dosemap::cli
