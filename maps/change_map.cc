// The map of a comparison (--compare): a cell a feature or a row, with its two periods' means,
// the ratio of them, the decay the time between explains and the excess over it.
#include <cmath>
#include <cstring>

#include "common/staged_file.h"
#include "maps/map_text.h"
#include "survey/change.h"

namespace dosemap {
namespace {

// The fields after a cell's edges, in the order both forms write them.
constexpr const char* kChangeFields =
    "count_a,count_b,dose_mean_a_usvh,dose_mean_b_usvh,time_a,time_b,ratio,decay_ratio,excess,"
    "class,color";

void AppendMeanTime(std::string& out, double mean) {
  AppendIsoTime(out, static_cast<std::int64_t>(std::round(mean)), true);
}

class ChangeMap : public SurveyMap {
 public:
  ChangeMap(const std::filesystem::path& out, bool geojson, const ChangeRequest& change)
      : file_(out), geojson_(geojson), change_(change) {}
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics&) override {
    if (geojson_) {
      file_ << "{\"type\":\"FeatureCollection\",\"features\":[";
    } else {
      file_ << std::string("lat_south,lon_west,lat_north,lon_east,") + kChangeFields + "\r\n";
    }
    const GridGeometry& geometry = change_.cells->geometry();
    const double half_life = change_.cells->half_life_years();
    bool first = true;
    std::string f;
    change_.cells->ForEachCell(change_.min_count, [&](const ChangeCell& cell) {
      const CellEdges e =
          geometry.EdgesOf(GridGeometry::RowOfKey(cell.key), GridGeometry::ColumnOfKey(cell.key));
      const CellChange change = cell.Change(half_life);
      f.clear();
      const char* null = geojson_ ? "null" : "";
      if (geojson_) {
        f += first ? "\n" : ",\n";
        f += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Polygon\",\"coordinates\":";
        AppendGeoJsonRing(f, e);
        f += "},\"properties\":{";
      } else {
        for (const double x : {e.south, e.west, e.north, e.east}) {
          AppendNumber(f, x);
          f += ',';
        }
      }
      first = false;
      const auto key = [&](const char* name) {
        if (!geojson_) {
          if (std::strcmp(name, "count_a") != 0) f += ',';
          return;
        }
        if (std::strcmp(name, "count_a") != 0) f += ',';
        f += '"';
        f += name;
        f += "\":";
      };
      const auto text = [&](const char* name, auto&& write) {
        key(name);
        if (geojson_) f += '"';
        write();
        if (geojson_) f += '"';
      };
      key("count_a");
      AppendInteger(f, cell.count[0]);
      key("count_b");
      AppendInteger(f, cell.count[1]);
      key("dose_mean_a_usvh");
      AppendNumber(f, cell.dose_mean(0));
      key("dose_mean_b_usvh");
      AppendNumber(f, cell.dose_mean(1));
      text("time_a", [&] { AppendMeanTime(f, cell.time_mean[0]); });
      text("time_b", [&] { AppendMeanTime(f, cell.time_mean[1]); });
      key("ratio");
      AppendNumberOr(f, change.ratio, null);
      key("decay_ratio");
      AppendNumber(f, change.decay_ratio);
      key("excess");
      AppendNumberOr(f, change.excess, null);
      key("class");
      f += static_cast<char>('0' + change.change_class);
      text("color", [&] { f += kChangeColours[change.change_class]; });
      f += geojson_ ? "}}" : "\r\n";
      file_ << f;
    });
    if (geojson_) file_ << "\n]}\n";
    file_.Close();
  }
  void Commit() override { file_.Commit(); }

 private:
  StagedFile file_;
  bool geojson_;
  ChangeRequest change_;
};

}  // namespace

std::unique_ptr<SurveyMap> MakeChangeMap(const std::filesystem::path& out, const MapFormRow& form,
                                         const MapOptions& options, const ChangeRequest& change) {
  if (&form == &kHtmlForm) return MakeHtmlChangeMap(out, options, change);
  if (&form == &kKmlForm) return MakeKmlChangeMap(out, options, change);
  if (&form == &kKmzForm) return MakeKmzChangeMap(out, options, change);
  if (&form != &kCsvForm && &form != &kGeoJsonForm) return nullptr;
  return std::make_unique<ChangeMap>(out, &form == &kGeoJsonForm, change);
}

void WriteChangeCells(
    const ChangeRequest& change,
    const std::function<void(const ChangeCell&, const CellEdges&, const CellChange&)>& take) {
  const GridGeometry& geometry = change.cells->geometry();
  const double half_life = change.cells->half_life_years();
  change.cells->ForEachCell(change.min_count, [&](const ChangeCell& cell) {
    take(cell,
         geometry.EdgesOf(GridGeometry::RowOfKey(cell.key), GridGeometry::ColumnOfKey(cell.key)),
         cell.Change(half_life));
  });
}

}  // namespace dosemap
