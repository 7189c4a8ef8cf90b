// dosemap-convert: the window's conversion without the window (CSV_BASE KML_BASE), or any
// survey log into any map form (-o OUT LOG...).
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& arg : args) {
    if (arg == "--") break;
    if (arg == "--version") {
      return dosemap::cli::PrintOut("dosemap-convert " DOSEMAP_VERSION "\n") ? 0 : 1;
    }
    if (arg == "-o" || arg == "--output" || arg.rfind("--output=", 0) == 0) {
      return dosemap::cli::PathCommand(args);
    }
  }
  return dosemap::cli::LegacyCommand(args);
}
