#ifndef DOSEMAP_MAPS_MAP_TEXT_H_
#define DOSEMAP_MAPS_MAP_TEXT_H_

// What the map forms share. Internal to maps/.
#include <array>
#include <charconv>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "dose/dose_scale.h"
#include "maps/survey_maps.h"
#include "survey/civil_time.h"
#include "survey/measurement.h"

namespace dosemap {

// The shortest text that reads back as the same double, appended.
inline void AppendNumber(std::string& out, double x) {
  char text[32];
  // Whole numbers (counts, many altitudes) take the much cheaper integer path: same text.
  if (x > -1e15 && x < 1e15 && x != 0 && x == static_cast<double>(static_cast<long long>(x))) {
    out.append(text, std::to_chars(text, text + sizeof text, static_cast<long long>(x)).ptr);
    return;
  }
  out.append(text, std::to_chars(text, text + sizeof text, x).ptr);
}

// A number that may be missing (NaN): the number, or none (what the form writes for a null).
inline void AppendNumberOr(std::string& out, double x, std::string_view none) {
  if (x == x) {
    AppendNumber(out, x);
  } else {
    out += none;
  }
}

inline void AppendInteger(std::string& out, long long x) {
  char text[24];
  out.append(text, std::to_chars(text, text + sizeof text, x).ptr);
}

// A text cell (never a number) as RFC 4180 writes it, guarded against spreadsheet formulas.
void AppendCsvField(std::string& row, std::string_view field);

// The extent of the kept points, for the opening view. Longitudes are also kept from 0 to 360, so
// that a drive across the antimeridian (Fiji) is seen the narrower way round.
struct Extent {
  bool any = false;
  double south = 0, west = 0, north = 0, east = 0;
  double west360 = 0, east360 = 0;
  void Add(double lat, double lon) {
    const double lon360 = lon < 0 ? lon + 360 : lon;
    if (!any) {
      south = north = lat, west = east = lon, west360 = east360 = lon360, any = true;
      return;
    }
    south = std::min(south, lat), north = std::max(north, lat);
    west = std::min(west, lon), east = std::max(east, lon);
    west360 = std::min(west360, lon360), east360 = std::max(east360, lon360);
  }
  // True when the points lie closer together across the antimeridian: west360..east360 is then
  // the narrower span.
  bool Crosses() const { return east360 - west360 < east - west - 1e-9; }
};

// A map whose one file is a form's bytes: written to a staging file beside out, renamed over it
// by Commit.
class StagedMap : public SurveyMap {
 public:
  StagedMap(const std::filesystem::path& out, const MapFormRow& row, const MapOptions& options)
      : file_(out), writer_(row.write(file_, out.stem().string(), options)) {}
  void LogOpened(const OpenLog& log) override { writer_->LogOpened(log); }
  void BeginLog(int log, const std::string& name) override { writer_->BeginLog(log, name); }
  void Add(const Measurement& m, int dose_class) override { writer_->Add(m, dose_class); }
  void Break() override { writer_->Break(); }
  void Finish(const DriveStatistics& statistics) override {
    writer_->Finish(statistics);
    file_.Close();
  }
  void Commit() override { file_.Commit(); }

 private:
  StagedFile file_;
  std::unique_ptr<FormWriter> writer_;
};

// A row's write for a form whose writer takes the sink alone.
template <class Writer>
std::unique_ptr<FormWriter> WriteWith(ByteSink& sink, const std::string&, const MapOptions&) {
  return std::make_unique<Writer>(sink);
}

// A row's make for a form whose one file is its bytes.
template <const MapFormRow& kRow>
std::unique_ptr<SurveyMap> MakeStaged(const std::filesystem::path& out, const MapOptions& options) {
  return std::make_unique<StagedMap>(out, kRow, options);
}

// A grid map whose one file is a form's bytes: the cells written when it is finished.
class StagedGridMap : public SurveyMap {
 public:
  StagedGridMap(const std::filesystem::path& out, const MapFormRow& row, const MapOptions& options,
                const GridRequest& grid)
      : file_(out),
        writer_(row.write_cells(file_, out.stem().string(), options)),
        grid_(grid),
        scale_{options.yellow, options.red} {}
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics& statistics) override {
    WriteCells(*grid_.cells, grid_.min_count, scale_, *writer_);
    writer_->Finish(statistics);
    file_.Close();
  }
  void Commit() override { file_.Commit(); }

  // Every cell of at least min_count into writer, with its edges and the class of its mean.
  static void WriteCells(GridAccumulator& cells, std::uint32_t min_count, const DoseScale& scale,
                         CellWriter& writer);

 private:
  StagedFile file_;
  std::unique_ptr<CellWriter> writer_;
  GridRequest grid_;
  DoseScale scale_;
};

// A cell's outline as lon,lat corners, counter-clockwise and closed (RFC 7946, KML alike).
using CellRing = std::array<std::array<double, 2>, 5>;
inline CellRing RingOf(const CellEdges& e) {
  return {{{e.west, e.south},
           {e.east, e.south},
           {e.east, e.north},
           {e.west, e.north},
           {e.west, e.south}}};
}

// A cell's outline as a GeoJSON Polygon's coordinates, "[[[w,s],[e,s],...]]".
inline void AppendGeoJsonRing(std::string& out, const CellEdges& e) {
  const CellRing ring = RingOf(e);
  out += "[[";
  for (int i = 0; i < 5; ++i) {
    out += i == 0 ? "[" : ",[";
    AppendNumber(out, ring[i][0]);
    out += ',';
    AppendNumber(out, ring[i][1]);
    out += ']';
  }
  out += "]]";
}

// A cell's outline as a KML Polygon, "<Polygon>...<coordinates>w,s e,s ...</coordinates>...".
inline void AppendKmlPolygon(std::string& out, const CellEdges& e) {
  out += "<Polygon><outerBoundaryIs><LinearRing><coordinates>";
  const CellRing ring = RingOf(e);
  for (int i = 0; i < 5; ++i) {
    if (i > 0) out += ' ';
    AppendNumber(out, ring[i][0]);
    out += ',';
    AppendNumber(out, ring[i][1]);
  }
  out += "</coordinates></LinearRing></outerBoundaryIs></Polygon>";
}

// "2026-11-21T01:30:00Z" of a cell's first and last times.
inline void AppendFirstTime(std::string& out, const GridCell& cell) {
  AppendIsoTime(out, cell.first_time, cell.first_utc);
}
inline void AppendLastTime(std::string& out, const GridCell& cell) {
  AppendIsoTime(out, cell.last_time, cell.last_utc);
}

template <class Writer>
std::unique_ptr<CellWriter> WriteCellsWith(ByteSink& sink, const std::string&, const MapOptions&) {
  return std::make_unique<Writer>(sink);
}

template <const MapFormRow& kRow>
std::unique_ptr<SurveyMap> MakeStagedGrid(const std::filesystem::path& out,
                                          const MapOptions& options, const GridRequest& grid) {
  return std::make_unique<StagedGridMap>(out, kRow, options, grid);
}

// "<stem>_files": the folder beside a map that holds what it shows (icons, legend, viewer).
std::string IconFolderName(const std::filesystem::path& out);
// Refuses a path that is a symbolic link: nothing is written through one. Throws FileError.
void RefuseLink(const std::filesystem::path& path);
// bytes staged as name in folder beside a map (made if need be; never through a link), ready for
// Commit. Throws FileError.
std::unique_ptr<StagedFile> StagePicture(const std::filesystem::path& folder, const char* name,
                                         std::string_view bytes);

// The rows, each beside its form's writer.
extern const MapFormRow kKmlForm, kKmzForm, kGeoJsonForm, kGpxForm, kCsvForm, kHtmlForm, kLogForm,
    kPmtilesForm, kMbtilesForm;
// The options of the KML forms, on their rows.
extern const FormOption kLabelsOption, kTimeOption, kIconUrlOption, kIconsBesideOption;

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_MAP_TEXT_H_
