// dosemap-convert: one conversion run in the current directory, without the window.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/kmz.h"
#include "convert/conversion_run.h"

namespace {

constexpr const char* kUsage =
    "usage: dosemap-convert [--summary] [--strict | --kmz] CSV_BASE KML_BASE [YELLOW RED]\n"
    "Converts CSV_BASE.csv into KML_BASE.kml in the current directory. YELLOW and RED are the\n"
    "dose-rate thresholds (default 0.11 and 0.19).\n"
    "  --summary  after the run, print one line: records, placemarks, classes, highest dose\n"
    "  --strict   write standard KML 2.2 that every reader takes (shared styles, plain numbers)\n"
    "  --kmz      write the strict form with its own icon as KML_BASE.kmz, for use offline\n"
    "Exit status: 0 when the whole log was converted, 1 when the run stopped on a failure (the\n"
    "cause goes to stderr), 2 on a usage error.\n";

class Silent : public dosemap::Beeper {
 public:
  void Beep() override {}
};

struct Options {
  bool summary = false;
  bool strict = false;
  bool kmz = false;
  std::vector<std::string> texts;  // CSV_BASE KML_BASE YELLOW RED
};

int UsageError(const std::string& what) {
  std::fprintf(stderr, "dosemap-convert: %s\n%s", what.c_str(), kUsage);
  return 2;
}

// Returns -1 when the options are fine, else the exit status.
int Parse(int argc, char** argv, Options& options) {
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_end || (arg.rfind("--", 0) != 0 && arg != "-h")) {
      options.texts.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (arg == "--summary") {
      options.summary = true;
    } else if (arg == "--strict") {
      options.strict = true;
    } else if (arg == "--kmz") {
      options.kmz = true;
    } else {
      return UsageError("unknown option " + arg);
    }
  }
  if (options.strict && options.kmz) return UsageError("--kmz already writes the strict form");
  if (options.texts.size() != 2 && options.texts.size() != 4) {
    return UsageError("expected 2 or 4 arguments");
  }
  if (options.texts.size() == 2) {
    options.texts.push_back("0.11");
    options.texts.push_back("0.19");
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (const int status = Parse(argc, argv, options); status >= 0) return status;
  const std::string& kml_base = options.texts[1];
  // A KMZ's document is written beside it first, then packed.
  const std::string document_base = options.kmz ? kml_base + ".kmz-doc" : kml_base;
  std::unique_ptr<dosemap::MapWriter> map;
  if (options.kmz) {
    map = std::make_unique<dosemap::StrictMap>(dosemap::kKmzIconPath, kml_base);
  } else if (options.strict) {
    map = std::make_unique<dosemap::StrictMap>();
  } else {
    map = std::make_unique<dosemap::ClassicMap>();
  }
  dosemap::TextFiles files;
  Silent beeper;
  const dosemap::RunOutcome outcome =
      dosemap::ConversionRun(files, options.texts[0], document_base,
                             dosemap::FixedThresholds(options.texts[2], options.texts[3]), beeper, *map);
  int status = outcome.reached_end_of_log() ? 0 : 1;
  if (!outcome.reached_end_of_log()) std::fprintf(stderr, "dosemap-convert: %s\n", outcome.message.c_str());
  const std::filesystem::path document = document_base + ".kml";
  if (options.kmz && std::filesystem::exists(document)) {
    const std::string error = dosemap::WriteKmz(document, kml_base + ".kmz");
    if (error.empty()) {
      std::filesystem::remove(document);
    } else {  // the document stays, so nothing of the run is lost
      std::fprintf(stderr, "dosemap-convert: %s (the map is kept as %s)\n", error.c_str(),
                   document.c_str());
      status = 1;
    }
  }
  if (options.summary) std::printf("%s\n", dosemap::SummaryLine(outcome).c_str());
  return status;
}
