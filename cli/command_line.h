#ifndef DOSEMAP_CLI_COMMAND_LINE_H_
#define DOSEMAP_CLI_COMMAND_LINE_H_

#include <string>
#include <vector>

#include "conversion/drive_request.h"

namespace dosemap::cli {

// dosemap-convert [options] -o OUT LOG...: the request, its options bound straight into it.
struct PathOptions {
  DriveRequest request;
  bool summary = false;
  bool summary_json = false;
};

// dosemap-convert [--summary] [--strict | --kmz] CSV_BASE KML_BASE [YELLOW RED]
struct LegacyOptions {
  bool summary = false;
  bool strict = false;
  bool kmz = false;
  std::vector<std::string> texts;  // CSV_BASE KML_BASE YELLOW RED, as typed
};

struct CommandLine {
  bool path_form = false;   // -o was given, or --check
  bool check_form = false;  // --check: a verdict a log, no map
  PathOptions path;
  LegacyOptions legacy;
};

// Reads the arguments after the program name: both forms' options from one table. Returns -1
// when a form is to run; else the exit status, having printed what --help or --version asks
// (0), or a usage error in one line with the usage after it on stderr (2). An argument that is a
// number ("-0.5") is a value, never an option.
int ParseCommandLine(const std::vector<std::string>& args, CommandLine& command_line);

// What --help prints: both forms, every option, and the formats and map forms from their rows.
std::string HelpText();

}  // namespace dosemap::cli

#endif  // DOSEMAP_CLI_COMMAND_LINE_H_
