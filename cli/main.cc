// dosemap-convert: one conversion run in the current directory, without the window.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "convert/conversion_run.h"

namespace {

constexpr const char* kUsage =
    "usage: dosemap-convert CSV_BASE KML_BASE [YELLOW RED]\n"
    "Converts CSV_BASE.csv into KML_BASE.kml in the current directory. YELLOW and RED are the\n"
    "dose-rate thresholds (default 0.11 and 0.19). Exit status: 0 when the whole log was\n"
    "converted, 1 when the run stopped on a failure (the cause goes to stderr), 2 on a usage error.\n";

class Silent : public dosemap::Beeper {
 public:
  void Beep() override {}
};

int UsageError(const char* what) {
  std::fprintf(stderr, "dosemap-convert: %s\n%s", what, kUsage);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> texts;
  bool options_end = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (!options_end && (arg == "--help" || arg == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!options_end && arg == "--") {
      options_end = true;
    } else if (!options_end && arg.rfind("--", 0) == 0) {
      return UsageError(("unknown option " + arg).c_str());
    } else {
      texts.push_back(arg);
    }
  }
  if (texts.size() != 2 && texts.size() != 4) return UsageError("expected 2 or 4 arguments");
  if (texts.size() == 2) {
    texts.push_back("0.11");
    texts.push_back("0.19");
  }
  dosemap::TextFiles files;
  Silent beeper;
  const dosemap::RunOutcome outcome = dosemap::ConversionRun(
      files, texts[0], texts[1], dosemap::FixedThresholds(texts[2], texts[3]), beeper);
  if (outcome.reached_end_of_log()) return 0;
  std::fprintf(stderr, "dosemap-convert: %s\n", outcome.message.c_str());
  return 1;
}
