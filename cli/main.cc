// dosemap-convert: any survey log into any map form (-o OUT LOG...), or the window's conversion
// without the window (CSV_BASE KML_BASE).
#include <exception>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/commands.h"
#include "common/error.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  dosemap::cli::CommandLine command_line;
  if (const int status = dosemap::cli::ParseCommandLine(args, command_line); status >= 0)
    return status;
  try {
    if (command_line.check_form) return dosemap::cli::CheckCommand(command_line.path);
    return command_line.path_form ? dosemap::cli::PathCommand(std::move(command_line.path))
                                  : dosemap::cli::LegacyCommand(command_line.legacy);
  } catch (const dosemap::Error& error) {
    dosemap::cli::PrintError(error.what());
    return error.exit_status();
  } catch (
      const std::exception& error) {  // out of memory, a library's own: one line, never a crash
    dosemap::cli::PrintError(error.what());
    return 1;
  }
}
