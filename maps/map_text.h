#ifndef DOSEMAP_MAPS_MAP_TEXT_H_
#define DOSEMAP_MAPS_MAP_TEXT_H_

// Pieces of map text that the map writers share. Internal to maps/.
#include <charconv>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "maps/staged_file.h"
#include "maps/survey_maps.h"
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

inline void AppendInteger(std::string& out, long long x) {
  char text[24];
  out.append(text, std::to_chars(text, text + sizeof text, x).ptr);
}

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

// The five classes as shared styles "dose1".."dose5", their icon at href.
std::string KmlStyles(const std::string& icon);

// A placemark: the dose as its label, its time (for time sliders), its class's style, its figures
// as extended data. source: KmlSource of its log.
void AppendPlacemark(std::string& p, const Measurement& m, int dose_class, std::string_view source);

// A log's name as a placemark's source says it, with the colon before the line.
std::string KmlSource(const std::string& log_name);

inline constexpr const char* kKmlStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n";

// The .kml and .kmz writers.
std::unique_ptr<SurveyMap> MakeKmlMap(const std::filesystem::path& out, const MapOptions& options);
std::unique_ptr<SurveyMap> MakeKmzMap(const std::filesystem::path& out);
// The .html report.
std::unique_ptr<SurveyMap> MakeHtmlReport(const std::filesystem::path& out,
                                          const MapOptions& options);

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_MAP_TEXT_H_
