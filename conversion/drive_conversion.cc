#include "conversion/drive_conversion.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "common/error.h"
#include "common/file_paths.h"
#include "common/staged_file.h"
#include "maps/vector_tiles.h"

namespace dosemap {

DriveStatistics ConvertDrive(const DriveRequest& request, const ProgressCallback& progress,
                             CancelFlag cancel) {
  Validate(request);
  SurveyOptions survey = request.survey;
  for (PrivacyZone& zone : ReadZoneFiles(request)) survey.zones.push_back(std::move(zone));
  MapOptions map_options = request.map;
  map_options.yellow = survey.yellow;
  map_options.red = survey.red;
  map_options.cancel = cancel;
  map_options.zones = &survey.zones;
  const bool gridded = request.grid_m > 0;
  const std::uint32_t grid_min = std::max<std::uint32_t>(request.grid_min, 1);
  // Every file the run writes: a folder given as a log may hold them (the last run's map).
  std::vector<std::filesystem::path> outputs;
  for (const std::filesystem::path& map : request.maps) {
    for (std::filesystem::path& file : FilesWrittenBy(map, map_options))
      outputs.push_back(std::move(file));
  }
  if (!request.rejects.empty()) outputs.push_back(request.rejects);
  if (!request.hotspots_file.empty()) outputs.push_back(request.hotspots_file);
  DriveStatistics stats;
  std::int64_t skipped = 0;
  std::vector<OpenLog> logs = OpenLogs(request.logs, survey.format, &skipped, outputs);
  for (const std::filesystem::path& map : request.maps) {
    if (!MapFormOf(map)->copies_log_lines) continue;
    for (const OpenLog& log : logs) {
      if (!log.format->sentences)
        throw SurveyError(SurveyErrorKind::kUsage,
                          log.path + ": " + map.filename().string() +
                              " takes bGeigie-type and Czech logs only, not " +
                              std::string(log.format->name) + "; nothing was written");
    }
  }
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
  // With --compare, the cells of both periods instead.
  std::unique_ptr<ChangeAccumulator> change;
  struct ChangeSink : MeasurementSink {
    explicit ChangeSink(ChangeAccumulator& cells) : cells(cells) {}
    void Add(const Measurement& m, int) override { cells.Add(m); }
    ChangeAccumulator& cells;
  };
  std::unique_ptr<ChangeSink> change_sink;
  if (gridded && request.compare) {
    change = std::make_unique<ChangeAccumulator>(request.grid_m, *request.compare,
                                                 request.half_life_years);
    change_sink = std::make_unique<ChangeSink>(*change);
    sinks.push_back(change_sink.get());
    stats.set_period_given();  // the summary counts the records outside the period
  } else if (gridded) {
    cells = std::make_unique<GridAccumulator>(request.grid_m);
    cell_sink = std::make_unique<CellSink>(*cells);
    sinks.push_back(cell_sink.get());
  }
  // The kept measurements the tile forms leave out, for the summary.
  struct BeyondTiles : MeasurementSink {
    void Add(const Measurement& m, int) override {
      if (!(std::abs(m.latitude) <= kTileLatitudeLimit)) ++count;
    }
    std::int64_t count = 0;
  };
  std::unique_ptr<BeyondTiles> beyond_tiles;
  if (std::any_of(request.maps.begin(), request.maps.end(),
                  [](const auto& map) { return MapFormOf(map)->tiles; })) {
    beyond_tiles = std::make_unique<BeyondTiles>();
    sinks.push_back(beyond_tiles.get());
  }
  std::unique_ptr<HotspotFinder> finder;
  if (request.hotspots.enabled) {
    HotspotOptions hotspots = request.hotspots;
    hotspots.threads = request.survey.threads;
    finder = std::make_unique<HotspotFinder>(hotspots);
    sinks.push_back(finder.get());
  }
  std::unique_ptr<StagedFile> hotspots_file;
  try {
    for (const std::filesystem::path& path : request.maps) {
      const MapFormRow& form = *MapFormOf(path);
      maps.push_back(change    ? MakeChangeMap(path, form, map_options, {change.get(), grid_min})
                     : gridded ? form.make_grid(path, map_options, {cells.get(), grid_min})
                               : form.make(path, map_options));
      if (!gridded) sinks.push_back(maps.back().get());
    }
    if (!request.rejects.empty()) rejects = std::make_unique<RejectsFile>(request.rejects);
    if (!request.hotspots_file.empty())
      hotspots_file = std::make_unique<StagedFile>(request.hotspots_file);
  } catch (const FileError& error) {
    throw SurveyError(SurveyErrorKind::kCannotWriteMap, error.what());
  }
  stats.set_files(0, skipped);
  RunSurvey(logs, survey, sinks, rejects.get(), stats, progress, cancel);
  if (cells) stats.set_cells(cells->CellsWith(grid_min));
  if (beyond_tiles) stats.set_outside_tiles(beyond_tiles->count);
  if (change) {
    auto figures = std::make_shared<const ChangeFigures>(change->Figures(grid_min));
    stats.set_cells(figures->cells);
    stats.set_compare(std::move(figures));
  }
  if (finder) {
    stats.set_hotspots(std::make_shared<const HotspotResult>(finder->Find()));
    finder.reset();  // the maps are written without its store
  }
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
    if (hotspots_file) {
      WriteHotspots(*hotspots_file, request.hotspots_file, *stats.hotspots());
      hotspots_file->Close();
    }
    ThrowIfCancelled(cancel);  // the last moment a cancel leaves every old map
    for (std::size_t i = 0; i < maps.size(); ++i) {
      maps[i]->Commit();
      replaced += (replaced.empty() ? "" : ", ") + request.maps[i].string();
    }
    if (rejects) rejects->Commit();
    if (hotspots_file) hotspots_file->Commit();
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
