#ifndef DOSEMAP_MAPS_SURVEY_MAPS_H_
#define DOSEMAP_MAPS_SURVEY_MAPS_H_

#include <filesystem>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "common/byte_sink.h"
#include "common/staged_file.h"
#include "survey/change.h"
#include "survey/grid.h"
#include "survey/survey_run.h"

namespace dosemap {

struct MapOptions {
  double yellow = 0.11;  // for the legend
  double red = 0.19;
  std::string icon_url;         // a web icon instead of our own files beside the map (KML)
  bool labels = false;          // the KML forms' dose label beside every point
  bool icons_beside = false;    // a KMZ's icons also written beside it, for readers that look there
  CancelFlag cancel = nullptr;  // long writers (the KMZ) stop soon after it is set
  bool time = false;            // KML: a TimeStamp a point and a TimeSpan a cell (--time)
  // The run's privacy zones, for a form that copies the logs' comment lines; null: none.
  const std::vector<PrivacyZone>* zones = nullptr;
  int max_zoom = 14;            // the tile forms' highest zoom (--max-zoom), 6 to 16
  bool max_zoom_given = false;  // only the tile forms take --max-zoom
};

// An option that only some map forms take, declared on the rows of the forms that take it, the way
// GDAL's drivers declare their creation options. The command line declares each from its row,
// binds it to its field, and refuses it with a form that does not take it.
struct FormOption {
  std::string_view name;                    // "--labels"
  std::string_view value_name;              // "URL"; empty: a flag
  std::string_view help;                    // one line for --help
  bool MapOptions::*flag = nullptr;         // a flag's field
  std::string MapOptions::*text = nullptr;  // a value's field
  bool Used(const MapOptions& options) const {
    return flag != nullptr ? options.*flag : !(options.*text).empty();
  }
};

// A map form's bytes written to a sink as the run goes: each log begun before its measurements,
// then Finish with the drive's figures.
class FormWriter : public MeasurementSink {
 public:
  virtual void Finish(const DriveStatistics& statistics) = 0;
};

// A map the survey run writes as it goes. Finish completes it in its staging files, replacing
// nothing; Commit then puts it in place. A map dropped before Commit leaves any old file at its
// path as it was, and no staging file.
class SurveyMap : public MeasurementSink {
 public:
  virtual void Finish(const DriveStatistics& statistics) = 0;
  virtual void Commit() = 0;
};

// A map form's bytes of a grid: its cells in order (south to north, then west to east), then the
// drive's figures.
class CellWriter {
 public:
  virtual ~CellWriter() = default;
  virtual void Add(const GridCell& cell, const CellEdges& edges, int dose_class) = 0;
  virtual void Finish(const DriveStatistics& statistics) = 0;
};

// What --grid asks for: the cells of at least min_count measurements.
struct GridRequest {
  GridAccumulator* cells = nullptr;
  std::uint32_t min_count = 1;
};

// What --compare asks for: the cells of at least min_count measurements in both periods.
struct ChangeRequest {
  ChangeAccumulator* cells = nullptr;
  std::uint32_t min_count = 1;
};

// A map form: what --help and the error messages say of it, and how to write it.
struct MapFormRow {
  std::string_view name;           // "geojson"
  std::string_view extensions[2];  // ".geojson"; the second may be empty
  std::string_view description;    // one line for --help
  // The form's bytes over a sink (a KMZ's: its single document); title names the map.
  std::unique_ptr<FormWriter> (*write)(ByteSink& sink, const std::string& title,
                                       const MapOptions& options);
  // The map at out, staged beside it. Throws FileError when it can't be staged.
  std::unique_ptr<SurveyMap> (*make)(const std::filesystem::path& out, const MapOptions& options);
  // The same of a grid's cells; both null for a form that has no grid (GPX). The map takes no
  // measurement: it writes the grid's cells when it is finished.
  std::unique_ptr<CellWriter> (*write_cells)(ByteSink& sink, const std::string& title,
                                             const MapOptions& options);
  std::unique_ptr<SurveyMap> (*make_grid)(const std::filesystem::path& out,
                                          const MapOptions& options, const GridRequest& grid);
  // The files the map at out also writes beside it (its icons); null: none.
  void (*companions)(const std::filesystem::path& out, const MapOptions& options,
                     std::vector<std::filesystem::path>& files) = nullptr;
  // The options only this form and some others take.
  std::span<const FormOption* const> options = {};
  // The form copies the kept records' own lines out of the log files (the cleaned log): it takes
  // logs of sentences only (FormatRow::sentences), read from files, never standard input.
  bool copies_log_lines = false;
  // The form is a pyramid of vector tiles: it takes --max-zoom and has no --grid of its own.
  bool tiles = false;
};

// Every map form, in the order --help lists them.
std::span<const MapFormRow* const> MapForms();

// The form of an output path by its extension (any case), or null.
const MapFormRow* MapFormOf(const std::filesystem::path& out);

// Every file a map at out writes: the map, then its companions.
std::vector<std::filesystem::path> FilesWrittenBy(const std::filesystem::path& out,
                                                  const MapOptions& options);

// Every option some form takes, each once, in the order of the rows.
std::vector<const FormOption*> FormOptions();

// ".kml and .kmz": the extensions of the forms that take an option, for --help and messages.
std::string FormsTaking(const FormOption& option);

// ".kml, .kmz, ..." of every form, for messages.
std::string MapFormExtensions();

// The namespace of our GPX extensions (dose_usvh, cpm, class).
inline constexpr const char* kGpxNamespace = "urn:dosemap:gpx:1";

struct HotspotResult;

// The change map (--compare) at out in form, one with a grid, staged beside it. Its cells
// are written when it is finished. Throws FileError when it can't be staged.
std::unique_ptr<SurveyMap> MakeChangeMap(const std::filesystem::path& out, const MapFormRow& form,
                                         const MapOptions& options, const ChangeRequest& change);
// Each comparison form's map.
std::unique_ptr<SurveyMap> MakeHtmlChangeMap(const std::filesystem::path& out,
                                             const MapOptions& options,
                                             const ChangeRequest& change);
std::unique_ptr<SurveyMap> MakeKmlChangeMap(const std::filesystem::path& out,
                                            const MapOptions& options, const ChangeRequest& change);
std::unique_ptr<SurveyMap> MakeKmzChangeMap(const std::filesystem::path& out,
                                            const MapOptions& options, const ChangeRequest& change);
// Every compared cell of change in order, with its edges and its change.
void WriteChangeCells(
    const ChangeRequest& change,
    const std::function<void(const ChangeCell&, const CellEdges&, const CellChange&)>& take);

// Whether path names a hotspots file (--hotspots): .csv or .geojson.
bool IsHotspotsFileName(const std::filesystem::path& path);
// The hotspots file's bytes, in the form of path's extension: a CSV row (RFC 4180, the fields of
// kHotspotFields, only the header when there are none) or a GeoJSON Point at its centre a
// hotspot, in rank order.
void WriteHotspots(ByteSink& sink, const std::filesystem::path& path, const HotspotResult& result);

// The rejects file's bytes: "file,line,reason,text", the text escaped and cut at 200 bytes.
class RejectsWriter : public RejectSink {
 public:
  explicit RejectsWriter(ByteSink& sink);
  void Reject(const std::string& log_name, long line, RejectReason reason,
              std::string_view text) override;

 private:
  ByteSink& sink_;
  std::string row_;
};

// The rejects file, staged beside its path, completed by Finish and put in place by Commit.
class RejectsFile : public RejectSink {
 public:
  explicit RejectsFile(const std::filesystem::path& path) : file_(path), writer_(file_) {}
  void Reject(const std::string& log_name, long line, RejectReason reason,
              std::string_view text) override {
    writer_.Reject(log_name, line, reason, text);
  }
  void Finish() { file_.Close(); }
  void Commit() { file_.Commit(); }

 private:
  StagedFile file_;
  RejectsWriter writer_;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_SURVEY_MAPS_H_
