#include "maps/drive_conversion.h"

#include <memory>

#include "textfile/file_error.h"
#include "textfile/text_files.h"

namespace dosemap {

DriveStatistics ConvertDrive(const DriveRequest& request, const ProgressCallback& progress) {
  for (const std::string& log : request.logs) {
    if (log == "-") continue;
    for (const std::filesystem::path& map : request.maps) {
      if (SameFile(log, map))
        throw SurveyError(log + ": is the map " + map.string() + " itself; nothing was written");
    }
    if (!request.rejects.empty() && SamePlace(log, request.rejects)) {
      throw SurveyError(log + ": is the rejects file itself; nothing was written");
    }
  }
  for (const std::filesystem::path& map : request.maps) {
    if (!request.rejects.empty() && SamePlace(map, request.rejects))
      throw SurveyError(request.rejects.string() + ": is the map itself; nothing was written");
  }
  DriveStatistics stats;
  std::vector<OpenLog> logs = OpenLogs(request.logs, request.options.format);
  const MapOptions map_options{request.options.yellow, request.options.red, request.icon_url};
  std::vector<std::unique_ptr<SurveyMap>> maps;
  std::vector<MeasurementSink*> sinks;
  for (const std::filesystem::path& path : request.maps) {
    const MapFormRow* form = MapFormOf(path);
    if (form == nullptr)
      throw FileError(FileErrorKind::kCannotOpen,
                      path.string() + ": not a map form dosemap writes");
    maps.push_back(form->make(path, map_options));
    sinks.push_back(maps.back().get());
  }
  std::unique_ptr<RejectsFile> rejects;
  if (!request.rejects.empty()) rejects = std::make_unique<RejectsFile>(request.rejects);
  RunSurvey(logs, request.options, sinks, rejects.get(), stats, progress);
  // Every output is staged whole before any is put in place: a failure until here replaces none.
  for (const auto& map : maps) map->Finish(stats);
  if (rejects) rejects->Finish();
  std::string replaced;
  const auto commit = [&](const std::filesystem::path& path, const auto& put_in_place) {
    try {
      put_in_place();
    } catch (const FileError& error) {
      if (replaced.empty()) throw;
      throw FileError(error.kind(), std::string(error.what()) + " (already replaced: " + replaced + ")");
    }
    replaced += (replaced.empty() ? "" : ", ") + path.string();
  };
  for (std::size_t i = 0; i < maps.size(); ++i)
    commit(request.maps[i], [&] { maps[i]->Commit(); });
  if (rejects) commit(request.rejects, [&] { rejects->Commit(); });
  return stats;
}

}  // namespace dosemap
