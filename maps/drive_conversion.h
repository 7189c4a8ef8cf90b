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
};

// Reads the logs once and writes every map. Each map is written beside its path and put in place
// only when all is done, so a failure leaves every old map as it was. Throws SurveyError for a
// log that can't be opened, read or told apart, FileError for a map that can't be written; a
// log that is one of the maps fails before anything is written.
DriveStatistics ConvertDrive(const DriveRequest& request,
                             const ProgressCallback& progress = nullptr);

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_DRIVE_CONVERSION_H_
