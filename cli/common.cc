#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/commands.h"
#include "common/message_text.h"
#include "common/staged_file.h"

namespace dosemap::cli {
namespace {

// The legacy forms' staging paths, registered until the next call.
std::vector<std::unique_ptr<StagingPath>> legacy_staging;

}  // namespace

void PrintError(const std::string& message) {
  std::fprintf(stderr, "dosemap-convert: %s\n", OneLine(message).c_str());
}

bool PrintOut(const std::string& text) {
  if (std::fputs(text.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return true;
  PrintError(std::string("cannot write to standard output: ") + std::strerror(errno));
  return false;
}

void RemoveOnInterrupt(const std::vector<std::string>& paths) {
  legacy_staging.clear();
  for (const std::string& path : paths)
    legacy_staging.push_back(std::make_unique<StagingPath>(path, StagingKind::kFile));
  RemoveStagingOnInterrupt();
}

void RemoveStagingOnInterrupt() { RemoveStagingOnSignals(); }

}  // namespace dosemap::cli
