#ifndef DOSEMAP_MAPS_KML_DOCUMENT_H_
#define DOSEMAP_MAPS_KML_DOCUMENT_H_

// The KML document the .kml and .kmz forms share. Internal to maps/.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "dose/geodesy.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"
#include "textfile/xml_text.h"

namespace dosemap {

inline constexpr const char* kKmlStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n";

// The five classes as shared styles "dose1".."dose5", their icon at href.
std::string KmlStyles(const std::string& icon);

// A placemark: the dose as its label, its time (for time sliders), its class's style, its figures
// as extended data. source: KmlSource of its log.
void AppendPlacemark(std::string& p, const Measurement& m, int dose_class, std::string_view source);

// A grid's cells in KML 2.2: a Polygon placemark a cell, one shared style a class ("cell1".."cell5":
// a fill in the class colour and an outline), the mean to three digits as its name, a TimeSpan
// from its first to its last time and its figures as extended data.
std::unique_ptr<CellWriter> WriteKmlCells(ByteSink& sink, const std::string& title,
                                          const MapOptions& options);
// Its shared styles and one cell's placemark.
std::string KmlCellStyles();
std::string KmlCellPlacemark(const GridCell& cell, const CellEdges& edges, int dose_class);

// A log's name as a placemark's source says it, with the colon before the line.
std::string KmlSource(const std::string& log_name);

// KML 2.2: the five classes as shared styles, a folder per log, a placemark per measurement, and
// a view on the whole extent.
class KmlDocument : public FormWriter {
 public:
  KmlDocument(ByteSink& file, const std::string& name, const std::string& icon) : file_(file) {
    file_ << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(name))
          << "</name>\n<open>1</open>\n<LookAt><longitude>";
    // The view comes from the extent, known at the end: room is kept here and filled in then.
    longitude_at_ = file_.offset();
    file_ << kPlaceholder << "</longitude><latitude>";
    latitude_at_ = file_.offset();
    file_ << kPlaceholder
          << "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt><range>";
    range_at_ = file_.offset();
    file_ << kPlaceholder << "</range></LookAt>\n" << KmlStyles(icon);
  }
  void BeginLog(int, const std::string& name) override {
    if (in_folder_) file_ << "</Folder>\n";
    file_ << "<Folder><name>" << XmlEscaped(XmlSafe(name)) << "</name>\n";
    in_folder_ = true;
    source_ = KmlSource(name);
  }
  void Add(const Measurement& m, int dose_class) override {
    extent_.Add(m.latitude, m.longitude);
    placemark_.clear();
    AppendPlacemark(placemark_, m, dose_class, source_);
    file_ << placemark_;
  }
  void Finish(const DriveStatistics&) override {
    if (in_folder_) file_ << "</Folder>\n";
    file_ << "</Document>\n</kml>\n";
    double longitude = 0, latitude = 0, range = 20000000;  // nothing kept: the whole Earth
    if (extent_.any) {
      const bool crosses = extent_.Crosses();
      const double west = crosses ? extent_.west360 : extent_.west;
      const double east = crosses ? extent_.east360 : extent_.east;
      longitude = (west + east) / 2;
      if (longitude > 180) longitude -= 360;
      latitude = (extent_.south + extent_.north) / 2;
      const double diagonal = GreatCircleMetres(extent_.south, west, extent_.north, east);
      range = std::max(500.0, std::round(diagonal * 1.5));
    }
    Fill(longitude_at_, longitude);
    Fill(latitude_at_, latitude);
    Fill(range_at_, range);
  }

 private:
  static constexpr std::string_view kPlaceholder = "                        ";  // 24 blanks

  void Fill(std::int64_t at, double x) {
    std::string text;
    AppendNumber(text, x);
    text.insert(0, kPlaceholder.size() - text.size(), ' ');  // XML takes blanks around a number
    file_.Patch(at, text);
  }

  ByteSink& file_;
  Extent extent_;
  std::int64_t longitude_at_ = 0, latitude_at_ = 0, range_at_ = 0;
  bool in_folder_ = false;
  std::string source_;
  std::string placemark_;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_KML_DOCUMENT_H_
