#ifndef DOSEMAP_MAPS_DRIVE_CONVERSION_H_
#define DOSEMAP_MAPS_DRIVE_CONVERSION_H_

#include <filesystem>
#include <string>
#include <vector>

#include "maps/survey_maps.h"
#include "survey/survey_run.h"

namespace dosemap {

// What one conversion is asked to do: the logs ("-" is standard input), the maps to write (each
// in the form of its extension), and where rejected lines go (empty: nowhere).
struct DriveRequest {
  std::vector<std::string> logs;
  std::vector<std::filesystem::path> maps;
  std::filesystem::path rejects;
  SurveyOptions options;
  std::string icon_url;
  bool labels = false;        // the KML forms' dose labels
  bool icons_beside = false;  // a KMZ's icons also beside it
  bool time = false;          // the KML forms' TimeStamps and TimeSpans
  // --grid: maps of cells about grid_m metres a side, each of at least grid_min measurements;
  // 0: maps of points.
  double grid_m = 0;
  std::uint32_t grid_min = 1;
};

// The request for logs into maps with the thresholds and zone files the user gave, as both the
// window and the command line make it: the thresholds in order (yellow below red), every map of a
// known form, and every zone file read into survey.zones. Throws SurveyError (kBadThresholds,
// kUsage, kBadZone, kCannotReadZones); nothing is written.
DriveRequest MakeDriveRequest(std::vector<std::string> logs,
                              std::vector<std::filesystem::path> maps, double yellow, double red,
                              const std::vector<std::string>& zone_files,
                              SurveyOptions survey = {});

// Reads the logs once and writes every map. Every output is staged beside its path and put in
// place only when all are whole, so a failure leaves every old map as it was. Throws SurveyError
// of its kind for a log that can't be opened, read or told apart, a map that can't be written,
// and outputs that are a log or one another (kUsage), the last before anything is written.
// cancel, when set by another thread, stops it within a fraction of a second in any phase
// (SurveyError kCancelled), leaving every old map whole and no staging file.
DriveStatistics ConvertDrive(const DriveRequest& request,
                             const ProgressCallback& progress = nullptr,
                             CancelFlag cancel = nullptr);

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_DRIVE_CONVERSION_H_
