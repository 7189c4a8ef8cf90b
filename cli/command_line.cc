#include "cli/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <utility>

#include "cli/commands.h"
#include "common/number_text.h"
#include "maps/survey_maps.h"
#include "survey/civil_time.h"
#include "survey/log_format.h"
#include "survey/privacy.h"

namespace dosemap::cli {
namespace {

constexpr const char* kUsage =
    "usage: dosemap-convert [options] -o OUT LOG...\n"
    "       dosemap-convert --check [options] LOG...\n"
    "       dosemap-convert [--summary] [--strict | --kmz] CSV_BASE KML_BASE [YELLOW RED]\n";

constexpr const char* kBothForms = "Both forms";
constexpr const char* kSurveyForm =
    "Mapping survey logs: -o OUT LOG... (- is standard input; the format of each log is told "
    "from its content)";
constexpr const char* kLegacyForm =
    "The window's conversion: CSV_BASE.csv into KML_BASE.kml in the current directory";

// What the options are bound to: the request itself, and what the front end keeps.
struct Bound {
  bool help = false, version = false, summary = false, summary_json = false;
  bool strict = false, kmz = false;
  std::string out;
  std::vector<std::string> args;
  DriveRequest request;
};

[[noreturn]] void Refuse(const std::string& message) {
  throw SurveyError(SurveyErrorKind::kUsage, message);
}

// A check of one option's every value, run as the library reads it: an empty value is a value
// left out by mistake (a variable that was not set), never the option not given. check may
// rewrite the text into what the library converts, or store what it parsed; it throws the option's
// one-line usage error.
CLI::Validator Checked(std::string name,
                       std::function<void(const std::string&, std::string&)> check) {
  return CLI::Validator(
      [name = std::move(name), check = std::move(check)](std::string& text) {
        if (text.empty()) Refuse(name + " takes a value, not an empty one");
        check(name, text);
        return std::string();
      },
      "");
}

// A number as the own log and the window write it ("-.5", "1e3"), finite and within [low, high];
// whole: an integer. Its text becomes the exact binary spelling the library converts.
CLI::Validator Number(std::string name, double low, double high, bool whole, std::string says) {
  return Checked(std::move(name), [=](const std::string& option, std::string& text) {
    const ParsedNumber parsed = ParseNumber(text);
    const double x = parsed.value;
    if (parsed.status != NumberStatus::kNumber || !std::isfinite(x) || x < low || x > high ||
        (whole && x != std::floor(x)))
      Refuse(option + " " + says);
    char exact[64];
    std::snprintf(exact, sizeof exact, whole ? "%.0f" : "%a", x);
    text = exact;
  });
}

// The one table of options: names, fields, checks, help texts and groups.
void Declare(CLI::App& app, Bound& b) {
  DriveRequest& r = b.request;
  SurveyOptions& survey = r.survey;
  app.set_help_flag();
  app.allow_extras();  // unknown options are reported as ours, in one line
  app.add_flag("-h,--help", b.help, "print this help and exit")->group(kBothForms);
  app.add_flag("--version", b.version, "print the version and exit")->group(kBothForms);
  app.add_flag("--summary", b.summary,
               "print the figures in one line (--summary=json: as one JSON object, -o only)")
      ->group(kBothForms);
  app.add_flag("--summary-json", b.summary_json)->group("");  // what --summary=json becomes
  const auto path = [&](CLI::Option* option, const char* type) {
    return option->type_name(type)->group(kSurveyForm);
  };
  const auto text = [&](const char* name) {
    return Checked(name, [](const std::string&, std::string&) {});
  };
  const auto stored = [&](const char* name, auto store) {
    return Checked(name,
                   [store](const std::string& option, std::string& text) { store(option, text); });
  };
  path(app.add_option("-o,--output", b.out, "the map to write; its form comes from its extension"),
       "OUT")
      ->check(text("-o"));
  path(app.add_option("--from")->description(
           "the logs' format, instead of telling it from each log"),
       "FORMAT")
      ->check(stored("--from", [&survey](const std::string& option, const std::string& name) {
        survey.format = FormatNamed(name);
        if (survey.format == nullptr) Refuse(option + " takes " + FormatNames());
      }));
  constexpr double kAny = std::numeric_limits<double>::max();
  path(app.add_option("--yellow", survey.yellow, "the yellow threshold in µSv/h (default 0.11)"),
       "X")
      ->check(Number("--yellow", -kAny, kAny, false, "takes a number"));
  path(app.add_option("--red", survey.red, "the red threshold in µSv/h, above X (default 0.19)"),
       "Y")
      ->check(Number("--red", -kAny, kAny, false, "takes a number"));
  path(app.add_option("--utc-offset")
           ->description("the zone of the own log's local times, to write them in UTC"),
       "+HH:MM")
      ->check(stored("--utc-offset", [&survey](const std::string& option, const std::string& t) {
        survey.reader.utc_offset = ParseUtcOffset(t);
        if (!survey.reader.utc_offset) Refuse(option + " takes +HH:MM or -HH:MM");
      }));
  for (const auto& [name, bound, help] :
       {std::tuple{"--since", &Period::since,
                   "keep only records at or after T (2024-05-01, 2024-05-01T09:00:00, with Z or "
                   "+HH:MM; UTC when no zone)"},
        {"--until", &Period::until, "keep only records before T"}}) {
    path(app.add_option(name)->description(help), "T")
        ->check(
            stored(name, [&survey, bound = bound](const std::string& option, const std::string& t) {
              survey.period.*bound = ParsePeriodTime(t);
              if (!(survey.period.*bound))
                Refuse(option +
                       " takes a date (2024-05-01) or a date and time (2024-05-01T09:00:00, "
                       "with Z or +HH:MM)");
            }));
  }
  path(app.add_option("--cpm-factor")
           ->description("cpm per µSv/h of logs that only count, of every format or of one "
                         "(repeatable; default each device's own: bgeigie 334, czechrad 328.5, "
                         "safecast 334)")
           ->allow_extra_args(false)
           ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
       "[FORMAT=]F")
      ->check(stored("--cpm-factor", [&survey](const std::string& option, const std::string& t) {
        const std::size_t equals = t.find('=');
        const ParsedNumber parsed =
            ParseNumber(equals == std::string::npos ? t : t.substr(equals + 1));
        if (parsed.status != NumberStatus::kNumber || !std::isfinite(parsed.value) ||
            !(parsed.value > 0))
          Refuse(option + " takes a number above 0, or FORMAT=NUMBER");
        if (equals == std::string::npos) {
          survey.reader.cpm_factor = parsed.value;
          return;
        }
        const FormatRow* format = FormatNamed(t.substr(0, equals));
        if (format == nullptr || !(format->cpm_factor > 0)) {
          std::string counting;
          for (const FormatRow* row : Formats()) {
            if (row->cpm_factor > 0)
              counting += (counting.empty() ? "" : ", ") + std::string(row->name);
          }
          Refuse(option + " FORMAT=F takes a format that counts: " + counting);
        }
        survey.reader.format_cpm_factors.emplace_back(format->name, parsed.value);
      }));
  // A zone is the user's own: a bad one is named by its option, never echoed.
  for (const auto& [name, type, help, parse] :
       {std::tuple{"--privacy", "LAT,LON,RADIUS_M",
                   "leave out everything within RADIUS_M metres of a place (repeatable)",
                   &ParseCircleZone},
        {"--privacy-box", "S,W,N,E",
         "leave out everything in a box; W > E crosses the antimeridian (repeatable)",
         &ParseBoxZone}}) {
    path(app.add_option(name)->description(help)->allow_extra_args(false)->multi_option_policy(
             CLI::MultiOptionPolicy::TakeAll),
         type)
        ->check(
            stored(name, [&survey, zone = parse](const std::string& option, const std::string& t) {
              try {
                survey.zones.push_back(zone(t));
              } catch (const SurveyError& error) {
                Refuse(option + ": " + error.what());
              }
            }));
  }
  path(app.add_option("--privacy-file", r.zone_files,
                      "zones, one a line in either form; # starts a comment (repeatable)")
           ->allow_extra_args(false),
       "FILE")
      ->check(text("--privacy-file"));
  path(app.add_option(
           "--max-accuracy", survey.quality.max_accuracy_m,
           "reject records whose reported accuracy is worse than M metres (default 100; 0: off)"),
       "M")
      ->check(Number("--max-accuracy", 0, kAny, false, "takes a number, 0 or above"));
  path(app.add_option("--max-speed", survey.quality.max_speed_kmh,
                      "reject a lone point reached and left faster than KMH km/h (default 300; 0: "
                      "off)"),
       "KMH")
      ->check(Number("--max-speed", 0, kAny, false, "takes a number, 0 or above"));
  app.add_flag("--check", r.check,
               "write no map: judge each log (a folder's files each) on its own and print a line "
               "a log, then the totals; exit 0 all clean, 3 some with rejected records, 1 some "
               "unreadable")
      ->group(kSurveyForm);
  app.add_flag("--keep-duplicates", survey.quality.keep_duplicates,
               "keep records whose time, position and dose were read before in the run")
      ->group(kSurveyForm);
  path(app.add_option("--grid", r.grid_m,
                      "map cells of about SIZE_M metres (10 to 100000) with the mean dose, not "
                      "points"),
       "SIZE_M")
      ->check(Number("--grid", kMinGridMetres, kMaxGridMetres, false,
                     "takes a number of metres from 10 to 100000"));
  path(app.add_option("--grid-min", r.grid_min,
                      "leave out cells of fewer than N measurements (default 1)"),
       "N")
      ->check(Number("--grid-min", 1, 4294967295.0, true, "takes a whole number, 1 or above"));
  path(app.add_option("--max-zoom")
           ->description("the highest zoom of .pmtiles and .mbtiles maps, where every measurement "
                         "is drawn (6 to 16, default 14)"),
       "Z")
      ->check(stored("--max-zoom", [&r](const std::string& option, const std::string& t) {
        const ParsedNumber parsed = ParseNumber(t);
        if (parsed.status != NumberStatus::kNumber || !(parsed.value >= 6) ||
            !(parsed.value <= 16) || parsed.value != std::floor(parsed.value))
          Refuse(option + " takes a whole number from 6 to 16");
        r.map.max_zoom = static_cast<int>(parsed.value);
        r.map.max_zoom_given = true;
      }));
  path(app.add_option("--rejects", r.rejects, "list every rejected record with its reason"),
       "FILE.csv")
      ->check(text("--rejects"));
  path(app.add_option("--compare")
           ->description(
               "with --grid: map the change per cell between the measurements before T and from T "
               "on, against radioactive decay"),
       "T")
      ->check(stored("--compare", [&r](const std::string& option, const std::string& t) {
        r.compare = ParsePeriodTime(t);
        if (!r.compare)
          Refuse(option +
                 " takes a date (2024-05-01) or a date and time (2024-05-01T09:00:00, with Z or "
                 "+HH:MM)");
      }));
  path(
      app.add_option("--half-life")
          ->description(
              "the half-life in years that --compare expects the dose to fall with (default 30.08, "
              "caesium-137)"),
      "YEARS")
      ->check(stored("--half-life", [&r](const std::string& option, const std::string& t) {
        const ParsedNumber parsed = ParseNumber(t);
        if (parsed.status != NumberStatus::kNumber || !std::isfinite(parsed.value) ||
            !(parsed.value > 0))
          Refuse(option + " takes a number of years above 0");
        r.half_life_years = parsed.value;
        r.half_life_given = true;
      }));
  path(app.add_option("--hotspots", r.hotspots_file,
                      "list the hotspots, ranked, as .csv or .geojson"),
       "FILE")
      ->check(text("--hotspots"));
  path(app.add_option("--hotspot-factor", r.hotspots.factor,
                      "a hot reading is at least F times the run's median dose (default 2)"),
       "F")
      ->check(Number("--hotspot-factor", -kAny, kAny, false, "takes a number above 1"));
  path(app.add_option("--hotspot-join", r.hotspots.join_m,
                      "hot readings at most M metres apart form one hotspot (default 100)"),
       "M")
      ->check(Number("--hotspot-join", -kAny, kAny, false, "takes a number of metres above 0"));
  app.add_flag("--no-hotspots{false}", r.hotspots.enabled,
               "look for no hotspots (for archives: saves about 22 bytes a kept record)")
      ->group(kSurveyForm);
  path(app.add_option("--threads", survey.threads,
                      "2 (the default): parse a log on two threads while the maps are written; "
                      "1: one thread. The maps are the same"),
       "N")
      ->check(stored("--threads", [](const std::string& option, const std::string& t) {
        if (t != "1" && t != "2") Refuse(option + " takes 1 or 2");
      }));
  // The options of some map forms only, from the forms' rows.
  for (const FormOption* option : FormOptions()) {
    const std::string name(option->name), help(option->help);
    const std::string group = "Only with " + FormsTaking(*option) + " maps (-o)";
    if (option->flag != nullptr) {
      app.add_flag(name, r.map.*(option->flag), help)->group(group);
    } else {
      app.add_option(name, r.map.*(option->text), help)
          ->type_name(std::string(option->value_name))
          ->check(text(option->name.data()))
          ->group(group);
    }
  }
  app.add_flag("--strict", b.strict, "write standard KML 2.2 that every reader takes")
      ->group(kLegacyForm);
  app.add_flag("--kmz", b.kmz, "write the strict form with its own icon as KML_BASE.kmz")
      ->group(kLegacyForm);
  app.add_option("args", b.args, "LOG... with -o; else CSV_BASE KML_BASE [YELLOW RED]")
      ->type_name("");
}

int UsageError(const std::string& what) {
  PrintError(what);
  std::fputs(kUsage, stderr);
  std::fputs("Try 'dosemap-convert --help' for more information.\n", stderr);
  return 2;
}

bool IsNumber(const std::string& text) {
  const ParsedNumber parsed = ParseNumber(text);
  return parsed.status == NumberStatus::kNumber && std::isfinite(parsed.value);
}

// The surveyor's form: every option checked, alone and with the others; nothing opened yet.
int CheckPathForm(const CLI::App& app, Bound& b, PathOptions& options) {
  for (const char* legacy : {"--strict", "--kmz"}) {
    if (app.count(legacy) > 0)
      return UsageError(legacy + std::string(" belongs to the form without -o"));
  }
  options.summary = b.summary;
  options.summary_json = b.summary_json;
  options.request = std::move(b.request);
  options.request.logs = std::move(b.args);
  if (!options.request.check) options.request.maps = {b.out};
  // What the request asks can't be done: said in its one line, as a failed conversion says it.
  try {
    Validate(options.request);
  } catch (const SurveyError& error) {
    PrintError(error.what());
    return ExitStatusOf(error.kind());
  }
  return -1;
}

// The window's conversion: the options of the surveyor's form have no place in it.
int CheckLegacyForm(const CLI::App& app, const Bound& b, LegacyOptions& options) {
  for (const CLI::Option* option : app.get_options()) {
    const std::string& group = option->get_group();
    if (option->count() > 0 && (group == kSurveyForm || group.rfind("Only with ", 0) == 0))
      return UsageError(option->get_name() + " needs -o OUT (the surveyor's form)");
  }
  if (b.summary_json) return UsageError("--summary=json needs -o OUT (the surveyor's form)");
  if (b.strict && b.kmz) return UsageError("--kmz already writes the strict form");
  options.summary = b.summary;
  options.strict = b.strict;
  options.kmz = b.kmz;
  options.texts = b.args;
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
  Bound bound;
  Declare(app, bound);
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
      "error;\nwith --check, 3 when every log was read and some have rejected records.\n";
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
    if (!options_end && arg.rfind("-.", 0) == 0 && IsNumber(arg)) {
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
  Bound bound;
  Declare(app, bound);
  try {
    app.parse(library_args);
  } catch (const CLI::ParseError& error) {
    return UsageError(error.what());
  } catch (const SurveyError& error) {  // a value refused by its option's check
    return UsageError(error.what());
  }
  for (const std::string& extra : app.remaining()) {
    if (extra != "--") return UsageError("unknown option " + extra);
  }
  for (std::string& text : bound.args) {
    const auto it = std::find_if(respelled.begin(), respelled.end(),
                                 [&](const auto& pair) { return pair.first == text; });
    if (it != respelled.end()) text = it->second, respelled.erase(it);
  }
  if (bound.help) {
    return PrintOut(HelpText()) ? 0 : 1;
  }
  if (bound.version) return PrintOut("dosemap-convert " DOSEMAP_VERSION "\n") ? 0 : 1;
  command_line.path_form = !bound.out.empty() || std::count(args.begin(), args.end(), "-o") > 0 ||
                           std::count(args.begin(), args.end(), "--output") > 0;
  if (bound.request.check) {
    if (command_line.path_form) return UsageError("--check writes no map: it takes no -o");
    command_line.path_form = command_line.check_form = true;
    return CheckPathForm(app, bound, command_line.path);
  }
  if (command_line.path_form) {
    if (bound.out.empty()) return UsageError("-o needs the map to write");
    return CheckPathForm(app, bound, command_line.path);
  }
  return CheckLegacyForm(app, bound, command_line.legacy);
}

}  // namespace dosemap::cli
