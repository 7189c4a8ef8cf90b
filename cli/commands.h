#ifndef DOSEMAP_CLI_COMMANDS_H_
#define DOSEMAP_CLI_COMMANDS_H_

#include <string>
#include <vector>

#include "cli/command_line.h"

namespace dosemap::cli {

// The two forms of dosemap-convert, each with its parsed options. Each returns the exit status:
// 0 done, 1 failed (one line on stderr).
int LegacyCommand(const LegacyOptions& options);
int PathCommand(PathOptions options);
// --check LOG...: a line a log and the totals on stdout; 0 all clean, 3 some with rejected records,
// 1 some unreadable (or a failure), 2 a usage error.
int CheckCommand(const PathOptions& options);

// Prints "dosemap-convert: <message>" as one line on stderr, control bytes escaped.
void PrintError(const std::string& message);

// Writes text to stdout and flushes it; false (with the cause printed) when it can't be stored.
bool PrintOut(const std::string& text);

// Removes the given files if the process is interrupted or terminated, then dies of the signal
// as usual (staged files remove themselves). The paths are copied; an empty list disarms it.
void RemoveOnInterrupt(const std::vector<std::string>& paths);

// Removes every staging file and folder of the path form if the process is interrupted or
// terminated (SIGINT, SIGTERM, SIGHUP), then dies of the signal as usual. Call once, first.
void RemoveStagingOnInterrupt();

}  // namespace dosemap::cli

#endif  // DOSEMAP_CLI_COMMANDS_H_
