#include "maps/drive_conversion.h"

#include <memory>

#include "textfile/file_error.h"
#include "textfile/text_files.h"

namespace dosemap {

DriveRequest MakeDriveRequest(std::vector<std::string> logs,
                              std::vector<std::filesystem::path> maps, double yellow, double red,
                              const std::vector<std::string>& zone_files, SurveyOptions survey) {
  if (!(yellow < red))
    throw SurveyError(SurveyErrorKind::kBadThresholds, "--yellow must be below --red");
  for (const std::filesystem::path& map : maps) {
    if (MapFormOf(map) == nullptr) {
      throw SurveyError(
          SurveyErrorKind::kUsage,
          map.string() + ": the map's extension must be one of " + MapFormExtensions());
    }
  }
  survey.yellow = yellow;
  survey.red = red;
  for (const std::string& file : zone_files) ReadPrivacyFile(file, survey.zones);
  DriveRequest request;
  request.logs = std::move(logs);
  request.maps = std::move(maps);
  request.options = std::move(survey);
  return request;
}

DriveStatistics ConvertDrive(const DriveRequest& request, const ProgressCallback& progress,
                             CancelFlag cancel) {
  const MapOptions map_options{request.options.yellow,
                               request.options.red,
                               request.icon_url,
                               request.labels,
                               request.icons_beside,
                               cancel,
                               request.time};
  // Every file the run writes: no two outputs may be one file, and none may be a log.
  std::vector<std::filesystem::path> outputs;
  std::vector<std::string> written_by;
  for (const std::filesystem::path& map : request.maps) {
    for (const std::filesystem::path& file : FilesWrittenBy(map, map_options)) {
      outputs.push_back(file);
      written_by.push_back(map.string());
    }
  }
  if (!request.rejects.empty()) {
    outputs.push_back(request.rejects);
    written_by.push_back("--rejects");
  }
  for (const std::string& log : request.logs) {
    if (log == "-") continue;
    for (std::size_t i = 0; i < outputs.size(); ++i) {
      if (outputs[i] == request.rejects ? SamePlace(log, outputs[i]) : SameFile(log, outputs[i]))
        throw SurveyError(
            SurveyErrorKind::kUsage,
            outputs[i] == request.rejects
                ? log + ": is the rejects file itself; nothing was written"
                : log + ": is the map " + outputs[i].string() + " itself; nothing was written");
    }
  }
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    for (std::size_t j = i + 1; j < outputs.size(); ++j) {
      if (!SamePlace(outputs[i], outputs[j])) continue;
      if (written_by[j] == "--rejects" && outputs[i].string() == written_by[i])
        throw SurveyError(SurveyErrorKind::kUsage,
                          request.rejects.string() + ": is the map itself; nothing was written");
      throw SurveyError(SurveyErrorKind::kUsage, outputs[j].string() + ": written by both " +
                                                     written_by[i] + " and " + written_by[j] +
                                                     "; nothing was written");
    }
  }
  const bool gridded = request.grid_m > 0;
  for (const std::filesystem::path& path : request.maps) {
    const MapFormRow* form = MapFormOf(path);
    if (gridded && form != nullptr && form->make_grid == nullptr) {
      throw SurveyError(SurveyErrorKind::kUsage, path.string() + ": a ." + std::string(form->name) +
                                                     " map has no grid; nothing was written");
    }
  }
  DriveStatistics stats;
  std::int64_t skipped = 0;
  // A folder given as a log may hold this run's own outputs (the last run's map): never read.
  std::vector<OpenLog> logs = OpenLogs(request.logs, request.options.format, &skipped, outputs);
  std::vector<std::unique_ptr<SurveyMap>> maps;
  std::vector<MeasurementSink*> sinks;
  std::unique_ptr<RejectsFile> rejects;
  // The grid's cells, filled once as the run goes and written by every map when it is finished.
  std::unique_ptr<GridAccumulator> cells;
  struct CellSink : MeasurementSink {
    explicit CellSink(GridAccumulator& cells) : cells(cells) {}
    void Add(const Measurement& m, int) override { cells.Add(m); }
    GridAccumulator& cells;
  };
  std::unique_ptr<CellSink> cell_sink;
  if (gridded) {
    cells = std::make_unique<GridAccumulator>(request.grid_m);
    cell_sink = std::make_unique<CellSink>(*cells);
    sinks.push_back(cell_sink.get());
  }
  for (const std::filesystem::path& path : request.maps) {
    if (MapFormOf(path) == nullptr)
      throw SurveyError(SurveyErrorKind::kUsage, path.string() + ": not a map form dosemap writes");
  }
  try {
    for (const std::filesystem::path& path : request.maps) {
      const MapFormRow& form = *MapFormOf(path);
      maps.push_back(gridded ? form.make_grid(path, map_options, {cells.get(), request.grid_min})
                             : form.make(path, map_options));
      if (!gridded) sinks.push_back(maps.back().get());
    }
    if (!request.rejects.empty()) rejects = std::make_unique<RejectsFile>(request.rejects);
  } catch (const FileError& error) {
    throw SurveyError(SurveyErrorKind::kCannotWriteMap, error.what());
  }
  stats.set_files(0, skipped);
  RunSurvey(logs, request.options, sinks, rejects.get(), stats, progress, cancel);
  if (cells) stats.set_cells(cells->CellsWith(request.grid_min));
  if (progress) progress({stats.read(), 1, true});
  std::string replaced;
  try {
    // Every output is staged whole before any is put in place: a failure until here replaces
    // none; if a rename still fails, the message names what was replaced.
    for (const auto& map : maps) {
      map->Finish(stats);
      ThrowIfCancelled(cancel);
    }
    if (rejects) rejects->Finish();
    ThrowIfCancelled(cancel);  // the last moment a cancel leaves every old map
    for (std::size_t i = 0; i < maps.size(); ++i) {
      maps[i]->Commit();
      replaced += (replaced.empty() ? "" : ", ") + request.maps[i].string();
    }
    if (rejects) rejects->Commit();
  } catch (const FileError& error) {
    ThrowIfCancelled(cancel);  // the packer stopped because it was asked to
    throw SurveyError(SurveyErrorKind::kCannotWriteMap,
                      replaced.empty()
                          ? std::string(error.what())
                          : std::string(error.what()) + " (already replaced: " + replaced + ")");
  }
  return stats;
}

}  // namespace dosemap
