#ifndef DOSEMAP_MAPS_KML_DOCUMENT_H_
#define DOSEMAP_MAPS_KML_DOCUMENT_H_

// The KML document the .kml and .kmz forms share. Internal to maps/.
#include <algorithm>
#include <cmath>
#include <string>
#include <string_view>

#include "common/xml_text.h"
#include "dose/geodesy.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"

namespace dosemap {

inline constexpr const char* kKmlStart =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n";

// How a KML document draws its points.
struct KmlLook {
  std::string icon;          // the white square's href, which the styles tint
  std::string legend;        // the legend image's href; empty: no legend
  bool labels = false;       // the dose beside every point
  bool class_icons = false;  // a KMZ's: each class a style map onto its own pre-coloured icon
  bool time = false;         // a TimeStamp a point, for a reader's time slider
};

// The view on an extent from straight above: its middle (the narrower way round the antimeridian)
// and a range that shows it whole. Nothing: the whole Earth.
struct KmlView {
  double longitude = 0, latitude = 0, range = 20000000;
};
KmlView ViewOf(const Extent& extent);
std::string KmlLookAt(const KmlView& view);

// The shared parts every document of points starts with: the five classes as styles
// "dose1".."dose5" (the higher, the larger), the route's style and the typed Schema "dose".
std::string KmlStyles(const KmlLook& look);

// The legend as a ScreenOverlay in the map's lower left corner.
std::string KmlLegend(const std::string& href);

// A placemark: the dose as its name, a description for readers that show no data, its class's
// style and its figures (its time among them) as typed schema data. source: KmlSource of
// its log.
void AppendPlacemark(std::string& p, const Measurement& m, int dose_class, std::string_view source,
                     bool time = false);

// A log's route as thin grey lines under its points: a vertex every few metres, pieces of at
// most a few thousand vertices (so nothing grows with the drive), cut wherever the run says
// records were private so that no line runs through a privacy zone.
class KmlRoute {
 public:
  // Adds a point; appends a finished piece to out when the point completes one.
  void Add(double latitude, double longitude, std::string& out);
  // Ends the current piece: the next point starts a new one.
  void Break(std::string& out);
  // Vertices at least step_m apart (20 m unless set).
  void SetStep(double step_m) { step_m_ = step_m; }

 private:
  void AppendVertex(double latitude, double longitude);
  void Piece(std::string& out);

  std::string coordinates_;
  double step_m_ = 20;
  int vertices_ = 0;
  double last_latitude_ = 0, last_longitude_ = 0;        // the last vertex
  bool has_skipped_ = false;                             // a point since it, too close to it
  double skipped_latitude_ = 0, skipped_longitude_ = 0;  // the latest such point
};

// A grid's cells in KML 2.2: a Polygon placemark a cell, one shared style a class
// ("cell1".."cell5": a fill in the class colour and an outline), the mean to three digits as its
// name, a description, its figures as typed data (Schema "cell") and, with time, a TimeSpan from
// its first to its last time; the legend when legend_href is not empty.
std::unique_ptr<CellWriter> WriteKmlCellDocument(ByteSink& sink, const std::string& title,
                                                 const std::string& legend_href, bool time);
// The .kml row's: the legend beside the map (OUT_files/legend.png) unless --icon-url is given.
std::unique_ptr<CellWriter> WriteKmlCells(ByteSink& sink, const std::string& title,
                                          const MapOptions& options);
// Its shared styles and schema, and one cell's placemark.
std::string KmlCellStyles();
std::string KmlCellPlacemark(const GridCell& cell, const CellEdges& edges, int dose_class,
                             bool time = false);

// A comparison's cells in KML 2.2 (--compare): the document's start (its name, the six change
// classes as shared styles "change0".."change5", the typed Schema "change" and, when legend_href
// is not empty, the legend), a cell's Polygon placemark (its excess as its name, a description,
// its fields as typed data) and the end.
std::string KmlChangeStart(const std::string& title, const std::string& legend_href);
std::string KmlChangePlacemark(const ChangeCell& cell, const CellEdges& edges,
                               const CellChange& change);
inline constexpr const char* kKmlChangeEnd = "</Document>\n</kml>\n";

// A log's name as a placemark's source says it, with the colon before the line.
std::string KmlSource(const std::string& log_name);

// KML 2.2: the five classes as shared styles, the legend, a folder per log with its placemarks
// and its route, and a view on the whole extent.
class KmlDocument : public FormWriter {
 public:
  KmlDocument(ByteSink& file, const std::string& name, const KmlLook& look)
      : file_(file), time_(look.time) {
    file_ << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(name))
          << "</name>\n<open>1</open>\n<LookAt><longitude>";
    // The view comes from the extent, known at the end: room is kept here and filled in then.
    longitude_at_ = file_.offset();
    file_ << kPlaceholder << "</longitude><latitude>";
    latitude_at_ = file_.offset();
    file_ << kPlaceholder
          << "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt><range>";
    range_at_ = file_.offset();
    file_ << kPlaceholder << "</range></LookAt>\n" << KmlStyles(look);
    if (!look.legend.empty()) file_ << KmlLegend(look.legend);
  }
  void BeginLog(int, const std::string& name) override {
    EndFolder();
    file_ << "<Folder><name>" << XmlEscaped(XmlSafe(name)) << "</name>\n";
    in_folder_ = true;
    source_ = KmlSource(name);
  }
  void Add(const Measurement& m, int dose_class) override {
    extent_.Add(m.latitude, m.longitude);
    placemark_.clear();
    AppendPlacemark(placemark_, m, dose_class, source_, time_);
    route_.Add(m.latitude, m.longitude, placemark_);
    file_ << placemark_;
  }
  void Break() override {
    placemark_.clear();
    route_.Break(placemark_);
    file_ << placemark_;
  }
  void Finish(const DriveStatistics&) override {
    EndFolder();
    file_ << "</Document>\n</kml>\n";
    const KmlView view = ViewOf(extent_);
    Fill(longitude_at_, view.longitude);
    Fill(latitude_at_, view.latitude);
    Fill(range_at_, view.range);
  }

 private:
  static constexpr std::string_view kPlaceholder = "                        ";  // 24 blanks

  void EndFolder() {
    if (!in_folder_) return;
    Break();
    file_ << "</Folder>\n";
    in_folder_ = false;
  }

  void Fill(std::int64_t at, double x) {
    std::string text;
    AppendNumber(text, x);
    text.insert(0, kPlaceholder.size() - text.size(), ' ');  // XML takes blanks around a number
    file_.Patch(at, text);
  }

  ByteSink& file_;
  bool time_ = false;
  Extent extent_;
  std::int64_t longitude_at_ = 0, latitude_at_ = 0, range_at_ = 0;
  bool in_folder_ = false;
  std::string source_;
  std::string placemark_;
  KmlRoute route_;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_KML_DOCUMENT_H_
