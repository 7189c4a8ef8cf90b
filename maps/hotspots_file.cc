// The hotspots file (--hotspots): a row or a feature a hotspot, in rank order.
#include <cstring>
#include <string>

#include "common/message_text.h"
#include "common/xml_text.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"
#include "survey/hotspots.h"

namespace dosemap {
namespace {

bool EndsWith(const std::string& name, const char* ending) {
  const std::size_t n = std::strlen(ending);
  return name.size() > n && name.compare(name.size() - n, n, ending) == 0;
}

// One hotspot as an RFC 4180 row: numbers as they are, the source as a guarded text cell, a
// figure with no value (a ratio over a background of 0) empty.
std::string CsvRow(const Hotspot& s) {
  std::string row;
  for (const char* field : kHotspotFields) {
    if (!row.empty()) row += ',';
    if (std::strcmp(field, "rank") == 0) {
      AppendInteger(row, s.rank);
    } else if (std::strcmp(field, "count") == 0) {
      AppendInteger(row, s.count);
    } else if (std::strcmp(field, "time") == 0) {
      AppendIsoTime(row, s.time, s.utc);
    } else if (std::strcmp(field, "source") == 0) {
      AppendCsvField(row, XmlSafe(OneLine(s.source)));
    } else {
      const double x = std::strcmp(field, "dose_usvh") == 0               ? s.dose_usvh
                       : std::strcmp(field, "peak_latitude") == 0         ? s.peak_latitude
                       : std::strcmp(field, "peak_longitude") == 0        ? s.peak_longitude
                       : std::strcmp(field, "latitude") == 0              ? s.latitude
                       : std::strcmp(field, "longitude") == 0             ? s.longitude
                       : std::strcmp(field, "radius_m") == 0              ? s.radius_m
                       : std::strcmp(field, "mean_usvh") == 0             ? s.mean_usvh
                       : std::strcmp(field, "local_background_usvh") == 0 ? s.local_background_usvh
                                                                          : s.ratio;
      const std::string text = HotspotFigure(x, field);
      if (text != "null") row += text;
    }
  }
  return row + "\r\n";
}

}  // namespace

bool IsHotspotsFileName(const std::filesystem::path& path) {
  const std::string name = path.filename().string();
  return EndsWith(name, ".csv") || EndsWith(name, ".geojson");
}

void WriteHotspots(ByteSink& sink, const std::filesystem::path& path, const HotspotResult& result) {
  if (EndsWith(path.filename().string(), ".csv")) {
    std::string header;
    for (const char* field : kHotspotFields) {
      if (!header.empty()) header += ',';
      header += field;
    }
    sink << header + "\r\n";
    for (const Hotspot& spot : result.hotspots) sink << CsvRow(spot);
    return;
  }
  sink << "{\"type\":\"FeatureCollection\",\"features\":[";
  bool first = true;
  for (const Hotspot& spot : result.hotspots) {
    std::string f = first ? "\n" : ",\n";
    first = false;
    f += "{\"type\":\"Feature\",\"geometry\":{\"type\":\"Point\",\"coordinates\":[";
    f += HotspotFigure(spot.longitude, "longitude");
    f += ',';
    f += HotspotFigure(spot.latitude, "latitude");
    f += "]},\"properties\":";
    f += HotspotJson(spot);
    f += '}';
    sink << f;
  }
  sink << "\n]}\n";
}

}  // namespace dosemap
