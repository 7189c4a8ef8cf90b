#ifndef DOSEMAP_CONVERSION_DRIVE_REQUEST_H_
#define DOSEMAP_CONVERSION_DRIVE_REQUEST_H_

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "maps/survey_maps.h"
#include "survey/change.h"
#include "survey/hotspots.h"
#include "survey/survey_run.h"

namespace dosemap {

// Every option of one conversion of the surveyor's path, typed, held once. The command line binds
// its options straight into these fields; the window fills the same fields from its boxes.
struct DriveRequest {
  std::vector<std::string> logs;            // "-" is standard input
  std::vector<std::filesystem::path> maps;  // each in the form of its extension
  std::filesystem::path rejects;            // --rejects; empty: rejected lines go nowhere
  std::vector<std::string> zone_files;      // --privacy-file, read when the conversion starts
  SurveyOptions survey;        // thresholds, --from, the readers' options, zones, quality, threads
  MapOptions map;              // the options of some forms only (their rows say which)
  double grid_m = 0;           // --grid: cells of about grid_m metres a side; 0: points
  std::uint32_t grid_min = 0;  // --grid-min: cells of fewer are left out; 0: not given (1)
  bool check = false;          // --check: each log judged on its own, no map written
  HotspotOptions hotspots;     // --hotspot-factor, --hotspot-join, --no-hotspots
  // --compare T: with --grid, the change per cell between the measurements before T and after.
  std::optional<std::int64_t> compare;
  double half_life_years = kCaesium137HalfLifeYears;  // --half-life
  bool half_life_given = false;
  std::filesystem::path hotspots_file;  // --hotspots: .csv or .geojson; empty: none
};

// Checks every rule that involves more than one option, before anything is opened: a log named,
// standard input once, every map of a known form, the thresholds in order, --grid-min only with
// --grid, --grid only with forms that have a grid, each form option only with forms that take it,
// and no output that is another output, a log or a zone file. With check: no map and nothing that
// only a map takes. Throws SurveyError kUsage (or
// kBadThresholds) with one line.
void Validate(const DriveRequest& request);

// The zones of the request's zone files, in order. Throws SurveyError kBadZone or
// kCannotReadZones.
std::vector<PrivacyZone> ReadZoneFiles(const DriveRequest& request);

}  // namespace dosemap

#endif  // DOSEMAP_CONVERSION_DRIVE_REQUEST_H_
