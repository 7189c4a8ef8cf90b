// The GeoJSON form: an RFC 7946 FeatureCollection of points.
#include <memory>
#include <nlohmann/json.hpp>

#include "dose/dose_scale.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"

namespace dosemap {
namespace {

// A JSON string literal of text; bytes that aren't UTF-8 become U+FFFD.
std::string JsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

class GeoJsonWriter : public FormWriter {
 public:
  explicit GeoJsonWriter(ByteSink& sink) : file_(sink) {
    file_ << "{\"type\":\"FeatureCollection\",\"features\":[";
  }
  void BeginLog(int, const std::string& name) override {
    const std::string quoted = JsonString(name);
    source_prefix_ = ",\"source\":" + quoted.substr(0, quoted.size() - 1) + ":";
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& f = feature_;
    f.assign(first_ ? "\n" : ",\n");
    first_ = false;
    f += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
    AppendNumber(f, m.longitude);
    f += ',';
    AppendNumber(f, m.latitude);
    if (m.has_altitude) {
      f += ',';
      AppendNumber(f, m.altitude);
    }
    f += "]},\"properties\":{\"time\":\"";
    AppendIsoTime(f, m.time, m.utc);
    f += "\",\"dose_usvh\":";
    AppendNumber(f, m.dose_usvh);
    f += ",\"dose_sigma_usvh\":";
    AppendNumberOr(f, m.dose_sigma_usvh, "null");
    f += ",\"cpm\":";
    if (m.has_cpm) {
      AppendNumber(f, m.cpm);
    } else {
      f += "null";
    }
    f += ",\"class\":";
    f += static_cast<char>('0' + dose_class);
    f += ",\"color\":\"";
    f += ClassStyleOf(dose_class).html_colour;
    f += '"';
    f += source_prefix_;
    AppendInteger(f, m.line);
    f += "\"}}";
    file_ << f;
  }
  void Finish(const DriveStatistics&) override { file_ << "\n]}\n"; }

 private:
  ByteSink& file_;
  std::string source_prefix_;
  std::string feature_;
  bool first_ = true;
};

// A Polygon a cell, its ring counter-clockwise and closed.
class GeoJsonCellWriter : public CellWriter {
 public:
  explicit GeoJsonCellWriter(ByteSink& sink) : file_(sink) {
    file_ << "{\"type\":\"FeatureCollection\",\"features\":[";
  }
  void Add(const GridCell& cell, const CellEdges& e, int dose_class) override {
    std::string& f = feature_;
    f.assign(first_ ? "\n" : ",\n");
    first_ = false;
    f += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Polygon\",\"coordinates\":";
    AppendGeoJsonRing(f, e);
    f += "},\"properties\":{\"count\":";
    AppendInteger(f, cell.count);
    f += ",\"dose_mean_usvh\":";
    AppendNumber(f, cell.dose_mean());
    f += ",\"dose_sigma_usvh\":";
    AppendNumberOr(f, cell.dose_sigma(), "null");
    f += ",\"dose_max_usvh\":";
    AppendNumber(f, cell.dose_max);
    f += ",\"dose_min_usvh\":";
    AppendNumber(f, cell.dose_min);
    f += ",\"first_time\":\"";
    AppendFirstTime(f, cell);
    f += "\",\"last_time\":\"";
    AppendLastTime(f, cell);
    f += "\",\"logs\":";
    AppendInteger(f, cell.logs);
    f += ",\"class\":";
    f += static_cast<char>('0' + dose_class);
    f += ",\"color\":\"";
    f += ClassStyleOf(dose_class).html_colour;
    f += "\"}}";
    file_ << f;
  }
  void Finish(const DriveStatistics&) override { file_ << "\n]}\n"; }

 private:
  ByteSink& file_;
  std::string feature_;
  bool first_ = true;
};

}  // namespace

const MapFormRow kGeoJsonForm = {
    "geojson",
    {".geojson", ""},
    "RFC 7946 points with time, dose_usvh, dose_sigma_usvh, cpm, class, color and source",
    WriteWith<GeoJsonWriter>,
    MakeStaged<kGeoJsonForm>,
    WriteCellsWith<GeoJsonCellWriter>,
    MakeStagedGrid<kGeoJsonForm>};

}  // namespace dosemap
