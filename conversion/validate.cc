#include <algorithm>
#include <cmath>

#include "common/file_paths.h"
#include "conversion/drive_request.h"

namespace dosemap {
namespace {

[[noreturn]] void Refuse(const std::string& message) {
  throw SurveyError(SurveyErrorKind::kUsage, message);
}

// No file the run writes may be another one it writes, a log it reads or a zone file.
void CheckOutputs(const DriveRequest& request) {
  std::vector<std::filesystem::path> outputs;
  std::vector<std::string> written_by;
  for (const std::filesystem::path& map : request.maps) {
    for (const std::filesystem::path& file : FilesWrittenBy(map, request.map)) {
      outputs.push_back(file);
      written_by.push_back(map.string());
    }
  }
  if (!request.hotspots_file.empty()) {
    for (const std::filesystem::path& map : request.maps) {
      if (SamePlace(request.hotspots_file, map)) Refuse("--hotspots names the map itself");
    }
    for (const std::string& log : request.logs) {
      if (log != "-" && SamePlace(request.hotspots_file, log))
        Refuse("--hotspots names a survey log");
    }
    for (const std::string& file : request.zone_files) {
      if (SamePlace(request.hotspots_file, file)) Refuse("--hotspots names a privacy file");
    }
    if (!request.rejects.empty() && SamePlace(request.hotspots_file, request.rejects))
      Refuse("--hotspots and --rejects name one file");
  }
  const bool rejects = !request.rejects.empty();
  if (rejects) {
    for (const std::filesystem::path& map : request.maps) {
      if (SamePlace(request.rejects, map)) Refuse("--rejects names the map itself");
    }
    for (const std::string& log : request.logs) {
      if (log != "-" && SamePlace(request.rejects, log)) Refuse("--rejects names a survey log");
    }
    outputs.push_back(request.rejects);
    written_by.push_back("--rejects");
  }
  for (const std::string& file : request.zone_files) {
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (!SamePlace(outputs[i], file)) continue;
      if (rejects && i + 1 == outputs.size()) Refuse("--rejects names a privacy file");
      Refuse(file + ": is the privacy file, written by " + written_by[i] + "; nothing was written");
    }
  }
  for (const std::string& log : request.logs) {
    if (log == "-") continue;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (!(rejects && i + 1 == outputs.size()) && SameFile(log, outputs[i]))
        Refuse(log + ": is the map " + outputs[i].string() + " itself; nothing was written");
    }
  }
  if (!request.hotspots_file.empty()) {
    outputs.push_back(request.hotspots_file);
    written_by.push_back("--hotspots");
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (SamePlace(outputs[i], outputs[j]))
        Refuse(outputs[j].string() + ": written by both " + written_by[i] + " and " +
               written_by[j] + "; nothing was written");
    }
  }
}

}  // namespace

void Validate(const DriveRequest& request) {
  if (request.logs.empty()) Refuse("no survey log named");
  if (std::count(request.logs.begin(), request.logs.end(), "-") > 1)
    Refuse("standard input can be read once");
  if (request.check) {
    if (!request.maps.empty()) Refuse("--check writes no map: it takes no -o");
    if (request.grid_m > 0 || request.grid_min != 0) Refuse("--check writes no map: no --grid");
    if (!request.hotspots_file.empty()) Refuse("--check writes no map: no --hotspots");
    if (request.map.max_zoom_given) Refuse("--check writes no map: no --max-zoom");
    if (request.compare) Refuse("--check writes no map: no --compare");
    for (const FormOption* option : FormOptions()) {
      if (option->Used(request.map))
        Refuse("--check writes no map: no " + std::string(option->name));
    }
  } else if (request.maps.empty()) {
    Refuse("no map to write");
  }
  for (const std::filesystem::path& map : request.maps) {
    if (MapFormOf(map) == nullptr)
      Refuse(map.string() + ": the map's extension must be one of " + MapFormExtensions());
  }
  if (!(request.survey.yellow < request.survey.red))
    throw SurveyError(SurveyErrorKind::kBadThresholds, "--yellow must be below --red");
  if (request.grid_min != 0 && !(request.grid_m > 0)) Refuse("--grid-min needs --grid");
  if (!request.hotspots_file.empty()) {
    if (!request.hotspots.enabled)
      Refuse("--hotspots needs the hotspots that --no-hotspots turns off");
    if (!IsHotspotsFileName(request.hotspots_file))
      Refuse(request.hotspots_file.string() +
             ": the hotspots file's extension must be .csv or .geojson; nothing was written");
  }
  if (!(request.hotspots.factor > 1) || !std::isfinite(request.hotspots.factor))
    Refuse("--hotspot-factor takes a number above 1");
  if (!(request.hotspots.join_m > 0) || !std::isfinite(request.hotspots.join_m))
    Refuse("--hotspot-join takes a number of metres above 0");
  const Period& period = request.survey.period;
  if (period.since && period.until && !(*period.since < *period.until))
    Refuse("--since must be before --until");
  if (request.half_life_given && !request.compare) Refuse("--half-life needs --compare");
  if (!(request.half_life_years > 0) || !std::isfinite(request.half_life_years))
    Refuse("--half-life takes a number of years above 0");
  if (request.compare) {
    if (!request.check && !(request.grid_m > 0)) Refuse("--compare needs --grid: it maps cells");
    if (!period.Contains(*request.compare))
      Refuse("--compare T must lie within the period of --since and --until");
  }
  if (request.map.max_zoom < 6 || request.map.max_zoom > 16)
    Refuse("--max-zoom takes a whole number from 6 to 16");
  for (const std::filesystem::path& map : request.maps) {
    const MapFormRow& form = *MapFormOf(map);
    if (request.map.max_zoom_given && !form.tiles)
      Refuse("--max-zoom is for .pmtiles and .mbtiles maps only, not " + map.filename().string());
    if (request.grid_m > 0 && form.make_grid == nullptr)
      Refuse(map.string() + ": a ." + std::string(form.name) +
             " map has no grid; nothing was written");
    if (form.copies_log_lines &&
        std::find(request.logs.begin(), request.logs.end(), "-") != request.logs.end())
      Refuse(map.string() + ": a cleaned log is copied out of log files, not standard input");
    for (const FormOption* option : FormOptions()) {
      if (option->Used(request.map) &&
          std::find(form.options.begin(), form.options.end(), option) == form.options.end())
        Refuse(std::string(option->name) + " is for " + FormsTaking(*option) + " maps only, not " +
               map.filename().string());
    }
  }
  CheckOutputs(request);
}

std::vector<PrivacyZone> ReadZoneFiles(const DriveRequest& request) {
  std::vector<PrivacyZone> zones;
  for (const std::string& file : request.zone_files) ReadPrivacyFile(file, zones);
  return zones;
}

}  // namespace dosemap
