#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "cli/commands.h"
#include "maps/survey_maps.h"
#include "survey/civil_time.h"
#include "survey/log_format.h"
#include "survey/privacy.h"
#include "textfile/number_text.h"
#include "textfile/text_files.h"

namespace dosemap::cli {
namespace {

constexpr const char* kUsage =
    "usage: dosemap-convert [options] -o OUT LOG...\n"
    "       dosemap-convert [--summary] [--strict | --kmz] CSV_BASE KML_BASE [YELLOW RED]\n";

constexpr const char* kBothForms = "Both forms";
constexpr const char* kSurveyForm =
    "Mapping survey logs: -o OUT LOG... (- is standard input; the format of each log is told "
    "from its content)";
constexpr const char* kLegacyForm =
    "The window's conversion: CSV_BASE.csv into KML_BASE.kml in the current directory";

// The options' values as typed.
struct Typed {
  bool help = false, version = false, summary = false, summary_json = false;
  bool strict = false, kmz = false, keep_duplicates = false, labels = false, icons_beside = false,
       time = false;
  std::string out, from, yellow, red, utc_offset, rejects, icon_url, max_accuracy, max_speed, grid,
      grid_min, threads;
  std::vector<std::string> cpm_factor, privacy, privacy_box, privacy_files, args;
};

// The one table of options: names, values, help texts and groups.
void Declare(CLI::App& app, Typed& t) {
  app.set_help_flag();
  app.allow_extras();  // unknown options are reported as ours, in one line
  app.add_flag("-h,--help", t.help, "print this help and exit")->group(kBothForms);
  app.add_flag("--version", t.version, "print the version and exit")->group(kBothForms);
  app.add_flag("--summary", t.summary,
               "print the figures in one line (--summary=json: as one JSON object, -o only)")
      ->group(kBothForms);
  app.add_flag("--summary-json", t.summary_json)->group("");  // what --summary=json becomes
  const auto value = [&](const char* name, std::string& target, const char* type,
                         const char* text) {
    app.add_option(name, target, text)->type_name(type)->group(kSurveyForm);
  };
  const auto repeated = [&](const char* name, std::vector<std::string>& target, const char* type,
                            const char* text) {
    app.add_option(name, target, text)
        ->type_name(type)
        ->allow_extra_args(false)
        ->group(kSurveyForm);
  };
  value("-o,--output", t.out, "OUT", "the map to write; its form comes from its extension");
  value("--from", t.from, "FORMAT", "the logs' format, instead of telling it from each log");
  value("--yellow", t.yellow, "X", "the yellow threshold in µSv/h (default 0.11)");
  value("--red", t.red, "Y", "the red threshold in µSv/h, above X (default 0.19)");
  value("--utc-offset", t.utc_offset, "+HH:MM",
        "the zone of the own log's local times, to write them in UTC");
  repeated("--cpm-factor", t.cpm_factor, "[FORMAT=]F",
           "cpm per µSv/h of logs that only count, of every format or of one (repeatable; "
           "default each device's own: bgeigie 334, czechrad 328.5, safecast 334)");
  repeated("--privacy", t.privacy, "LAT,LON,RADIUS_M",
           "leave out everything within RADIUS_M metres of a place (repeatable)");
  repeated("--privacy-box", t.privacy_box, "S,W,N,E",
           "leave out everything in a box; W > E crosses the antimeridian (repeatable)");
  repeated("--privacy-file", t.privacy_files, "FILE",
           "zones, one a line in either form; # starts a comment (repeatable)");
  value("--max-accuracy", t.max_accuracy, "M",
        "reject records whose reported accuracy is worse than M metres (default 100; 0: off)");
  value("--max-speed", t.max_speed, "KMH",
        "reject a lone point reached and left faster than KMH km/h (default 300; 0: off)");
  app.add_flag("--keep-duplicates", t.keep_duplicates,
               "keep records whose time, position and dose were read before in the run")
      ->group(kSurveyForm);
  value("--grid", t.grid, "SIZE_M",
        "map cells of about SIZE_M metres (10 to 100000) with the mean dose, not points");
  value("--grid-min", t.grid_min, "N", "leave out cells of fewer than N measurements (default 1)");
  value("--rejects", t.rejects, "FILE.csv", "list every rejected record with its reason");
  value("--threads", t.threads, "N",
        "2 (the default): read each log on a thread of its own while the maps are written; 1: "
        "one thread. The maps are the same");
  value("--icon-url", t.icon_url, "URL",
        "a web icon instead of the icon and legend written beside a .kml");
  app.add_flag("--labels", t.labels, "show the dose beside every point of a .kml or .kmz")
      ->group(kSurveyForm);
  app.add_flag("--time", t.time,
               "give a .kml's or .kmz's points a TimeStamp and cells a TimeSpan, for a time slider "
               "(off: a globe with a clock shows the whole drive)")
      ->group(kSurveyForm);
  app.add_flag("--icons-beside", t.icons_beside,
               "also write a .kmz's icons into files/ beside it (for Marble)")
      ->group(kSurveyForm);
  app.add_flag("--strict", t.strict, "write standard KML 2.2 that every reader takes")
      ->group(kLegacyForm);
  app.add_flag("--kmz", t.kmz, "write the strict form with its own icon as KML_BASE.kmz")
      ->group(kLegacyForm);
  app.add_option("args", t.args, "LOG... with -o; else CSV_BASE KML_BASE [YELLOW RED]")
      ->type_name("");
}

int UsageError(const std::string& what) {
  PrintError(what);
  std::fputs(kUsage, stderr);
  std::fputs("Try 'dosemap-convert --help' for more information.\n", stderr);
  return 2;
}

std::optional<double> NumberOf(const std::string& text, bool above_zero) {
  const ParsedNumber parsed = ParseNumber(text);
  if (parsed.status != NumberStatus::kNumber || !std::isfinite(parsed.value)) return std::nullopt;
  if (above_zero && !(parsed.value > 0)) return std::nullopt;
  return parsed.value;
}

// The surveyor's form: every value checked, nothing opened yet.
int CheckPathForm(const Typed& t, PathOptions& options) {
  if (t.strict || t.kmz)
    return UsageError((t.strict ? "--strict" : "--kmz") +
                      std::string(" belongs to the form without -o"));
  options.out = t.out;
  options.logs = t.args;
  options.summary = t.summary;
  options.summary_json = t.summary_json;
  options.privacy_files = t.privacy_files;
  options.rejects = t.rejects;
  options.icon_url = t.icon_url;
  options.labels = t.labels;
  options.icons_beside = t.icons_beside;
  options.time = t.time;
  SurveyOptions& survey = options.survey;
  if (!t.from.empty()) {
    survey.format = FormatNamed(t.from);
    if (survey.format == nullptr) return UsageError("--from takes " + FormatNames());
  }
  for (const auto& [name, text, target] :
       {std::tuple{"--yellow", &t.yellow, &survey.yellow}, {"--red", &t.red, &survey.red}}) {
    if (text->empty()) continue;
    const std::optional<double> threshold = NumberOf(*text, false);
    if (!threshold) return UsageError(std::string(name) + " takes a number");
    *target = *threshold;
  }
  for (const std::string& text : t.cpm_factor) {
    const std::size_t equals = text.find('=');
    const std::optional<double> factor =
        NumberOf(equals == std::string::npos ? text : text.substr(equals + 1), true);
    if (!factor) return UsageError("--cpm-factor takes a number above 0, or FORMAT=NUMBER");
    if (equals == std::string::npos) {
      survey.reader.cpm_factor = *factor;
      continue;
    }
    const FormatRow* format = FormatNamed(text.substr(0, equals));
    if (format == nullptr || !(format->cpm_factor > 0)) {
      std::string counting;
      for (const FormatRow* row : Formats()) {
        if (row->cpm_factor > 0)
          counting += (counting.empty() ? "" : ", ") + std::string(row->name);
      }
      return UsageError("--cpm-factor FORMAT=F takes a format that counts: " + counting);
    }
    survey.reader.format_cpm_factors.emplace_back(format->name, *factor);
  }
  for (const auto& [name, text, target] :
       {std::tuple{"--max-accuracy", &t.max_accuracy, &survey.quality.max_accuracy_m},
        {"--max-speed", &t.max_speed, &survey.quality.max_speed_kmh}}) {
    if (text->empty()) continue;
    const std::optional<double> limit = NumberOf(*text, false);
    if (!limit || *limit < 0) return UsageError(std::string(name) + " takes a number, 0 or above");
    *target = *limit;
  }
  survey.quality.keep_duplicates = t.keep_duplicates;
  if (!t.threads.empty()) {
    if (t.threads != "1" && t.threads != "2") return UsageError("--threads takes 1 or 2");
    survey.threads = t.threads == "1" ? 1 : 2;
  }
  if (!t.grid.empty()) {
    const std::optional<double> size = NumberOf(t.grid, true);
    if (!size || *size < kMinGridMetres || *size > kMaxGridMetres)
      return UsageError("--grid takes a number of metres from 10 to 100000");
    options.grid_m = *size;
  }
  if (!t.grid_min.empty()) {
    const std::optional<double> count = NumberOf(t.grid_min, true);
    if (!count || *count < 1 || *count != std::floor(*count) || *count > 4294967295.0)
      return UsageError("--grid-min takes a whole number, 1 or above");
    if (t.grid.empty()) return UsageError("--grid-min needs --grid");
    options.grid_min = static_cast<std::uint32_t>(*count);
  }
  if (!t.utc_offset.empty()) {
    survey.reader.utc_offset = ParseUtcOffset(t.utc_offset);
    if (!survey.reader.utc_offset) return UsageError("--utc-offset takes +HH:MM or -HH:MM");
  }
  // A zone is the user's own: a bad one is named by its option, never echoed.
  for (const auto& [name, texts, parse] : {std::tuple{"--privacy", &t.privacy, &ParseCircleZone},
                                           {"--privacy-box", &t.privacy_box, &ParseBoxZone}}) {
    for (const std::string& text : *texts) {
      try {
        survey.zones.push_back(parse(text));
      } catch (const SurveyError& error) {
        return UsageError(std::string(name) + ": " + error.what());
      }
    }
  }
  if (options.logs.empty()) return UsageError("no survey log named");
  if (std::count(options.logs.begin(), options.logs.end(), "-") > 1)
    return UsageError("standard input can be read once");
  if (!options.rejects.empty()) {
    // The rejects file is a new output: it may not be the map, a log or a zone file.
    const auto same = [&](const std::string& other) { return SamePlace(options.rejects, other); };
    if (same(options.out)) return UsageError("--rejects names the map itself");
    for (const std::string& log : options.logs) {
      if (log != "-" && same(log)) return UsageError("--rejects names a survey log");
    }
    for (const std::string& file : options.privacy_files) {
      if (same(file)) return UsageError("--rejects names a privacy file");
    }
  }
  return -1;
}

// The window's conversion: the options of the surveyor's form have no place in it.
int CheckLegacyForm(const Typed& t, LegacyOptions& options) {
  for (const auto& [name, used] : {std::pair{"--from", !t.from.empty()},
                                   {"--yellow", !t.yellow.empty()},
                                   {"--red", !t.red.empty()},
                                   {"--cpm-factor", !t.cpm_factor.empty()},
                                   {"--utc-offset", !t.utc_offset.empty()},
                                   {"--privacy", !t.privacy.empty()},
                                   {"--privacy-box", !t.privacy_box.empty()},
                                   {"--privacy-file", !t.privacy_files.empty()},
                                   {"--max-accuracy", !t.max_accuracy.empty()},
                                   {"--max-speed", !t.max_speed.empty()},
                                   {"--keep-duplicates", t.keep_duplicates},
                                   {"--threads", !t.threads.empty()},
                                   {"--grid", !t.grid.empty()},
                                   {"--grid-min", !t.grid_min.empty()},
                                   {"--rejects", !t.rejects.empty()},
                                   {"--icon-url", !t.icon_url.empty()},
                                   {"--labels", t.labels},
                                   {"--icons-beside", t.icons_beside},
                                   {"--time", t.time},
                                   {"--summary=json", t.summary_json}}) {
    if (used) return UsageError(std::string(name) + " needs -o OUT (the surveyor's form)");
  }
  if (t.strict && t.kmz) return UsageError("--kmz already writes the strict form");
  options.summary = t.summary;
  options.strict = t.strict;
  options.kmz = t.kmz;
  options.texts = t.args;
  if (options.texts.size() != 2 && options.texts.size() != 4)
    return UsageError("expected 2 or 4 arguments");
  if (options.texts.size() == 2) {
    options.texts.push_back("0.11");
    options.texts.push_back("0.19");
  }
  return -1;
}

}  // namespace

std::string HelpText() {
  CLI::App app{""};
  Typed typed;
  Declare(app, typed);
  std::string options = app.help();
  // Our own usage lines stand in for the library's, and say what the positionals are.
  const std::size_t groups = options.find("\n\nBoth forms:");
  options = groups == std::string::npos ? options : options.substr(groups + 2);
  for (std::size_t at; (at = options.find("\n\n\n")) != std::string::npos;) options.erase(at, 1);
  std::string text = kUsage;
  text +=
      "Maps radiation survey logs. With -o, any device log of a known format into any map "
      "form;\nwithout, the window's own CSV log into its KML.\n\n" +
      options + "\nFORMAT (--from), told from a log's content when not given:\n";
  std::vector<std::string_view> named;
  for (const FormatRow* format : Formats()) {
    text += "  " + std::string(format->name);
    text.append(format->name.size() < 14 ? 16 - format->name.size() : 2, ' ');
    text += std::string(format->description) + "\n";
  }
  text += "\nOUT's extension chooses the map form:\n";
  for (const MapFormRow* form : MapForms()) {
    std::string extensions(form->extensions[0]);
    if (!form->extensions[1].empty()) extensions += ", " + std::string(form->extensions[1]);
    text += "  " + extensions;
    text.append(extensions.size() < 14 ? 16 - extensions.size() : 2, ' ');
    text += std::string(form->description) + "\n";
  }
  text +=
      "\nExit status: 0 when the map was written (rejected records included), 1 when a log can't "
      "be\nread or a map can't be written (one line on stderr; nothing is replaced), 2 on a usage "
      "error.\n";
  return text;
}

int ParseCommandLine(const std::vector<std::string>& args, CommandLine& command_line) {
  // A number such as "-.5" is a value, as "-0.5" is to the library: it is given that spelling
  // and gets its own back after parsing. "--summary=json" becomes a flag of its own.
  std::vector<std::string> library_args;
  std::vector<std::pair<std::string, std::string>> respelled;
  bool options_end = false;
  for (const std::string& arg : args) {
    std::string given = arg;
    if (!options_end && arg.rfind("-.", 0) == 0 && NumberOf(arg, false)) {
      given = "-0" + arg.substr(1);
      respelled.emplace_back(given, arg);
    } else if (!options_end && arg == "--summary=json") {
      given = "--summary-json";
    } else if (!options_end && arg.rfind("--summary=", 0) == 0) {
      return UsageError("--summary takes no form but json, not " + arg.substr(10));
    } else if (!options_end && arg == "--summary-json") {
      return UsageError("unknown option " + arg);
    }
    options_end = options_end || arg == "--";
    library_args.push_back(given);
  }
  std::reverse(library_args.begin(), library_args.end());  // the library takes them from the back
  CLI::App app{""};
  Typed typed;
  Declare(app, typed);
  try {
    app.parse(library_args);
  } catch (const CLI::ParseError& error) {
    return UsageError(error.what());
  }
  for (const std::string& extra : app.remaining()) {
    if (extra != "--") return UsageError("unknown option " + extra);
  }
  // An empty value is a value left out by mistake (a variable that was not set), never the
  // option not given.
  for (const CLI::Option* option : app.get_options()) {
    if (option->get_type_size() == 0 || option->get_positional()) continue;
    for (const std::string& result : option->results()) {
      if (result.empty())
        return UsageError(option->get_name() + " takes a value, not an empty one");
    }
  }
  for (std::string& text : typed.args) {
    const auto it = std::find_if(respelled.begin(), respelled.end(),
                                 [&](const auto& pair) { return pair.first == text; });
    if (it != respelled.end()) text = it->second, respelled.erase(it);
  }
  if (typed.help) {
    return PrintOut(HelpText()) ? 0 : 1;
  }
  if (typed.version) return PrintOut("dosemap-convert " DOSEMAP_VERSION "\n") ? 0 : 1;
  command_line.path_form = !typed.out.empty() || std::count(args.begin(), args.end(), "-o") > 0 ||
                           std::count(args.begin(), args.end(), "--output") > 0;
  if (command_line.path_form) {
    if (typed.out.empty()) return UsageError("-o needs the map to write");
    return CheckPathForm(typed, command_line.path);
  }
  return CheckLegacyForm(typed, command_line.legacy);
}

}  // namespace dosemap::cli
