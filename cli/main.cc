// dosemap-convert: any survey log into any map form (-o OUT LOG...), or the window's conversion
// without the window (CSV_BASE KML_BASE).
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  dosemap::cli::CommandLine command_line;
  if (const int status = dosemap::cli::ParseCommandLine(args, command_line); status >= 0)
    return status;
  return command_line.path_form ? dosemap::cli::PathCommand(std::move(command_line.path))
                                : dosemap::cli::LegacyCommand(command_line.legacy);
}
