// dosemap-convert [options] -o OUT LOG...: any survey log into any map form.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "cli/commands.h"
#include "maps/drive_conversion.h"
#include "survey/civil_time.h"
#include "survey/survey_run.h"
#include "textfile/file_error.h"
#include "textfile/number_text.h"
#include "textfile/text_files.h"

namespace dosemap::cli {
namespace {

constexpr const char* kUsage =
    "usage: dosemap-convert [options] -o OUT LOG...\n"
    "Maps survey logs of any supported format (told from their content; - is standard input).\n"
    "The form of OUT comes from its extension: .kml (KML 2.2, its icon beside it), .kmz "
    "(regionated\n"
    "above 5,000 points), .geojson, .gpx (a track a log), .csv, or .html (a report to open "
    "anywhere).\n"
    "  -o, --output OUT        the map to write\n"
    "  --from FORMAT           own, bgeigie, radiacode, safecast or ers, instead of telling\n"
    "  --yellow X, --red Y     the dose-rate thresholds in µSv/h (default 0.11 and 0.19)\n"
    "  --cpm-factor F          cpm per µSv/h for logs that only count (default 334)\n"
    "  --utc-offset +HH:MM     the zone of the own log's local times, to write them in UTC\n"
    "  --privacy LAT,LON,M     leave out everything within M metres of a place (repeatable)\n"
    "  --privacy-box S,W,N,E   leave out everything in a box (repeatable)\n"
    "  --privacy-file FILE     zones, one a line in either form; # starts a comment\n"
    "  --rejects FILE.csv      list every rejected line with its reason\n"
    "  --icon-url URL          a web icon instead of the icon written beside a .kml\n"
    "  --summary               print the drive's figures in one line\n"
    "  --summary=json          print them as one JSON object\n"
    "Exit status: 0 when the map was written (rejected lines included), 1 when a log can't be\n"
    "read or the map can't be written (one line on stderr), 2 on a usage error.\n"
    "Without -o: dosemap-convert [--summary] [--strict | --kmz] CSV_BASE KML_BASE [YELLOW RED]\n";

struct PathOptions {
  std::string out;
  std::vector<std::string> logs;
  SurveyOptions survey;
  std::vector<std::string> privacy_files;
  std::string rejects;
  std::string icon_url;
  bool summary = false;
  bool summary_json = false;
};

int UsageError(const std::string& what) {
  PrintError(what);
  std::fputs("Try 'dosemap-convert --help' for more information.\n", stderr);
  return 2;
}

std::optional<double> PositiveOrAnyNumber(const std::string& text, bool positive) {
  const ParsedNumber parsed = ParseNumber(text);
  if (parsed.status != NumberStatus::kNumber || !std::isfinite(parsed.value)) return std::nullopt;
  if (positive && !(parsed.value > 0)) return std::nullopt;
  return parsed.value;
}

// Returns -1 when the options are fine, else the exit status.
int Parse(const std::vector<std::string>& args, PathOptions& options) {
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_end || !IsOption(arg)) {
      options.logs.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_end = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--summary") {
      options.summary = true;
      continue;
    }
    if (arg == "--summary=json") {
      options.summary_json = true;
      continue;
    }
    if (arg.rfind("--summary=", 0) == 0) {
      return UsageError("--summary takes no form but json, not " + arg.substr(10));
    }
    std::string value;
    bool has_value = false;
    if (const std::size_t equals = arg.find('=');
        equals != std::string::npos && arg.rfind("--", 0) == 0) {
      value = arg.substr(equals + 1);
      arg.resize(equals);
      has_value = true;
    }
    const auto take = [&]() -> bool {
      if (has_value) return true;
      if (i + 1 >= args.size()) return false;
      value = args[++i];
      return true;
    };
    static const char* const kWithValue[] = {
        "-o",           "--output",  "--from",        "--yellow",       "--red",     "--cpm-factor",
        "--utc-offset", "--privacy", "--privacy-box", "--privacy-file", "--rejects", "--icon-url"};
    if (std::find(std::begin(kWithValue), std::end(kWithValue), arg) == std::end(kWithValue)) {
      return UsageError("unknown option " + arg);
    }
    if (!take()) return UsageError(arg + " needs a value");
    std::string why;
    if (arg == "-o" || arg == "--output") {
      options.out = value;
    } else if (arg == "--from") {
      options.survey.format = FormatNamed(value);
      if (options.survey.format == nullptr) return UsageError("--from takes " + FormatNames());
    } else if (arg == "--yellow" || arg == "--red") {
      const std::optional<double> threshold = PositiveOrAnyNumber(value, false);
      if (!threshold) return UsageError(arg + " takes a number");
      (arg == "--yellow" ? options.survey.yellow : options.survey.red) = *threshold;
    } else if (arg == "--cpm-factor") {
      const std::optional<double> factor = PositiveOrAnyNumber(value, true);
      if (!factor) return UsageError("--cpm-factor takes a number above 0");
      options.survey.reader.cpm_factor = *factor;
    } else if (arg == "--utc-offset") {
      options.survey.reader.utc_offset = ParseUtcOffset(value);
      if (!options.survey.reader.utc_offset)
        return UsageError("--utc-offset takes +HH:MM or -HH:MM");
    } else if (arg == "--privacy") {
      const std::optional<PrivacyZone> zone = ParseCircleZone(value, &why);
      if (!zone) return UsageError("--privacy: " + why);  // the value itself is not echoed
      options.survey.zones.push_back(*zone);
    } else if (arg == "--privacy-box") {
      const std::optional<PrivacyZone> zone = ParseBoxZone(value, &why);
      if (!zone) return UsageError("--privacy-box: " + why);
      options.survey.zones.push_back(*zone);
    } else if (arg == "--privacy-file") {
      options.privacy_files.push_back(value);
    } else if (arg == "--rejects") {
      options.rejects = value;
    } else if (arg == "--icon-url") {
      options.icon_url = value;
    }
  }
  if (options.out.empty()) return UsageError("-o needs the map to write");
  if (!MapFormOf(options.out)) {
    return UsageError(options.out + ": the map's extension must be one of " + MapFormExtensions());
  }
  if (options.logs.empty()) return UsageError("no survey log named");
  if (!(options.survey.yellow < options.survey.red))
    return UsageError("--yellow must be below --red");
  if (!options.rejects.empty()) {
    // The rejects file is a new output: it may not be the map, a log or a zone file.
    const auto same = [&](const std::string& other) {
      return SamePlace(options.rejects, other);
    };
    if (same(options.out)) return UsageError("--rejects names the map itself");
    for (const std::string& log : options.logs) {
      if (log != "-" && same(log)) return UsageError("--rejects names a survey log");
    }
    for (const std::string& file : options.privacy_files) {
      if (same(file)) return UsageError("--rejects names a privacy file");
    }
  }
  if (std::count(options.logs.begin(), options.logs.end(), "-") > 1)
    return UsageError("standard input can be read once");
  return -1;
}

// One line of progress on a terminal, rewritten in place, once a run has taken a second.
class Progress {
 public:
  Progress() : shown_(::isatty(2) == 1), start_(std::chrono::steady_clock::now()) {}
  ~Progress() {
    if (printed_) std::fputs("\r\033[K", stderr);
  }
  void Update(std::int64_t records, double share) {
    if (!shown_ || std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    printed_ = true;
    if (share >= 0) {
      std::fprintf(stderr, "\r%lld records, %d%%\033[K", static_cast<long long>(records),
                   static_cast<int>(share * 100));
    } else {
      std::fprintf(stderr, "\r%lld records\033[K", static_cast<long long>(records));
    }
  }

 private:
  bool shown_;
  bool printed_ = false;
  std::chrono::steady_clock::time_point start_;
};

}  // namespace

int PathCommand(const std::vector<std::string>& args) {
  PathOptions options;
  if (const int status = Parse(args, options); status >= 0) return status;
  RemoveStagingOnInterrupt();
  for (const std::string& file : options.privacy_files) {
    std::string error;
    if (!ReadPrivacyFile(file, options.survey.zones, &error)) {
      PrintError(error);
      return error.find(": line ") != std::string::npos ? 2 : 1;
    }
  }
  DriveRequest request{
      options.logs, {options.out}, options.rejects, options.survey, options.icon_url};
  DriveStatistics stats;
  try {
    Progress progress;
    stats = ConvertDrive(
        request, [&](std::int64_t records, double share) { progress.Update(records, share); });
  } catch (const SurveyError& error) {
    PrintError(error.what());
    return 1;
  } catch (const FileError& error) {
    PrintError(error.what());
    return 1;
  }
  if (options.summary && !PrintOut(stats.Line() + "\n")) return 1;
  if (options.summary_json && !PrintOut(stats.Json() + "\n")) return 1;
  return 0;
}

}  // namespace dosemap::cli
