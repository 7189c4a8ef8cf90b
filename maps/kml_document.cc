// The KML document's shared pieces: the class styles, the legend, a placemark and the route.
#include "maps/kml_document.h"

#include <charconv>
#include <memory>

#include "dose/dose_scale.h"
#include "maps/legend_image.h"

namespace dosemap {

namespace {

// A route's vertices are at least this far apart (a thin line needs no more), and a piece holds
// at most this many.
constexpr int kRouteMaxVertices = 4096;

// A coordinate to 1e-5 degrees (about a metre), its trailing zeros cut: enough for a line.
void AppendCoordinate(std::string& out, double x) {
  char text[32];
  char* end = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, 5).ptr;
  while (end[-1] == '0') --end;
  if (end[-1] == '.') --end;
  if (end - text == 2 && text[0] == '-' && text[1] == '0') {  // a tiny negative rounds to 0
    out += '0';
    return;
  }
  out.append(text, end);
}

// The style of a class, its icon at href; tint: the class's colour over a white icon.
void AppendClassStyle(std::string& styles, const std::string& id, int dose_class,
                      const std::string& href, bool tint, bool labels) {
  const ClassStyle& style = ClassStyleOf(dose_class);
  styles += "<Style id=\"" + id + "\"><IconStyle>";
  if (tint) styles += std::string("<color>") + style.kml_colour + "</color>";
  styles += std::string("<scale>") + style.icon_scale + "</scale><Icon><href>" + href +
            "</href></Icon></IconStyle><LabelStyle>";
  if (labels) {
    styles += std::string("<color>") + style.kml_colour + "</color><scale>" + style.icon_scale +
              "</scale>";
  } else {
    styles += "<scale>0</scale>";
  }
  styles += "</LabelStyle></Style>\n";
}

}  // namespace

std::string KmlStyles(const KmlLook& look) {
  const std::string href = XmlEscaped(XmlSafe(look.icon));
  std::string styles;
  for (int c = 1; c <= 5; ++c) {
    const std::string id = "dose" + std::to_string(c);
    if (!look.class_icons) {
      AppendClassStyle(styles, id, c, href, true, look.labels);
      continue;
    }
    // Readers that can't tint a white icon still show the class: normally the class's own
    // pre-coloured icon, the tinted white one when highlighted.
    AppendClassStyle(styles, id + "n", c, ClassIconPath(c), false, look.labels);
    AppendClassStyle(styles, id + "h", c, href, true, true);
    styles += "<StyleMap id=\"" + id + "\"><Pair><key>normal</key><styleUrl>#" + id +
              "n</styleUrl></Pair><Pair><key>highlight</key><styleUrl>#" + id +
              "h</styleUrl></Pair></StyleMap>\n";
  }
  styles +=
      "<Style id=\"route\"><LineStyle><color>b0707070</color><width>1.5</width></LineStyle>"
      "</Style>\n"
      "<Schema name=\"dose\" id=\"dose\">"
      "<SimpleField type=\"double\" name=\"dose_usvh\"><displayName>dose rate (\xC2\xB5Sv/h)"
      "</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_sigma_usvh\"><displayName>counting uncertainty "
      "(\xC2\xB5Sv/h, 1\xCF\x83)</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"cpm\"><displayName>count rate (cpm)</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"int\" name=\"class\"><displayName>class</displayName></SimpleField>"
      "<SimpleField type=\"string\" name=\"time\"><displayName>time</displayName></SimpleField>"
      "<SimpleField type=\"string\" name=\"source\"><displayName>log and line</displayName>"
      "</SimpleField></Schema>\n";
  return styles;
}

KmlView ViewOf(const Extent& extent) {
  KmlView view;
  if (!extent.any) return view;
  const bool crosses = extent.Crosses();
  const double west = crosses ? extent.west360 : extent.west;
  const double east = crosses ? extent.east360 : extent.east;
  view.longitude = (west + east) / 2;
  if (view.longitude > 180) view.longitude -= 360;
  view.latitude = (extent.south + extent.north) / 2;
  const double diagonal = GreatCircleMetres(extent.south, west, extent.north, east);
  view.range = std::max(500.0, std::round(diagonal * 1.5));
  return view;
}

std::string KmlLookAt(const KmlView& view) {
  std::string text = "<LookAt><longitude>";
  AppendNumber(text, view.longitude);
  text += "</longitude><latitude>";
  AppendNumber(text, view.latitude);
  text += "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt><range>";
  AppendNumber(text, view.range);
  return text + "</range></LookAt>\n";
}

std::string KmlLegend(const std::string& href) {
  return "<ScreenOverlay><name>Legend</name><Icon><href>" + XmlEscaped(XmlSafe(href)) +
         "</href></Icon><overlayXY x=\"0\" y=\"0\" xunits=\"fraction\" yunits=\"fraction\"/>"
         "<screenXY x=\"10\" y=\"30\" xunits=\"pixels\" yunits=\"pixels\"/>"
         "<size x=\"0\" y=\"0\" xunits=\"pixels\" yunits=\"pixels\"/></ScreenOverlay>\n";
}

// A placemark: the dose as its name, a description for readers that show no data, its class's
// style and its figures as typed data. source: the log's escaped name and a colon. A TimeStamp
// only when asked for (--time): a globe with a clock (CesiumJS) would otherwise show only the
// points up to its time, not the drive; a time slider (Google Earth, QGIS) needs it.
void AppendPlacemark(std::string& p, const Measurement& m, int dose_class, std::string_view source,
                     bool time) {
  p += "<Placemark><name>";
  char label[32];  // the dose to three digits; the exact dose is in the data
  const std::string_view dose(
      label,
      std::to_chars(label, label + sizeof label, m.dose_usvh, std::chars_format::general, 3).ptr);
  p += dose;
  p += "</name><description>";
  p += dose;
  if (m.dose_sigma_usvh == m.dose_sigma_usvh) {  // its counting uncertainty, to two digits
    p += " \xC2\xB1 ";
    p.append(label, std::to_chars(label, label + sizeof label, m.dose_sigma_usvh,
                                  std::chars_format::general, 2)
                        .ptr);
  }
  p += " \xC2\xB5Sv/h, ";
  if (m.has_cpm) {
    AppendNumber(p, m.cpm);
    p += " cpm, ";
  }
  const std::size_t time_at = p.size();
  AppendIsoTime(p, m.time, m.utc);
  const std::size_t time_size = p.size() - time_at;
  p += ", ";
  p += source;
  AppendInteger(p, m.line);
  p += "</description>";
  if (time) {
    p += "<TimeStamp><when>";
    p.append(p, time_at, time_size);
    p += "</when></TimeStamp>";
  }
  p += "<styleUrl>#dose";
  p += static_cast<char>('0' + dose_class);
  p += "</styleUrl><ExtendedData><SchemaData schemaUrl=\"#dose\"><SimpleData name=\"dose_usvh\">";
  AppendNumber(p, m.dose_usvh);
  p += "</SimpleData>";
  if (m.dose_sigma_usvh == m.dose_sigma_usvh) {
    p += "<SimpleData name=\"dose_sigma_usvh\">";
    AppendNumber(p, m.dose_sigma_usvh);
    p += "</SimpleData>";
  }
  if (m.has_cpm) {
    p += "<SimpleData name=\"cpm\">";
    AppendNumber(p, m.cpm);
    p += "</SimpleData>";
  }
  p += "<SimpleData name=\"class\">";
  p += static_cast<char>('0' + dose_class);
  p += "</SimpleData><SimpleData name=\"time\">";
  p.append(p, time_at, time_size);
  p += "</SimpleData><SimpleData name=\"source\">";
  p += source;
  AppendInteger(p, m.line);
  p += "</SimpleData></SchemaData></ExtendedData><Point><coordinates>";
  AppendNumber(p, m.longitude);
  p += ',';
  AppendNumber(p, m.latitude);
  if (m.has_altitude) {
    p += ',';
    AppendNumber(p, m.altitude);
  }
  p += "</coordinates></Point></Placemark>\n";
}

void KmlRoute::Add(double latitude, double longitude, std::string& out) {
  if (vertices_ > 0 && std::abs(longitude - last_longitude_) > 180) Break(out);  // the short way
  if (vertices_ == 0) {
    AppendVertex(latitude, longitude);
    return;
  }
  const double rad = 3.14159265358979323846 / 180;
  const double north = (latitude - last_latitude_) * 111320;
  const double east = (longitude - last_longitude_) * 111320 * std::cos(latitude * rad);
  if (north * north + east * east < step_m_ * step_m_) {
    has_skipped_ = true, skipped_latitude_ = latitude, skipped_longitude_ = longitude;
    return;
  }
  AppendVertex(latitude, longitude);
  if (vertices_ >= kRouteMaxVertices) {
    Piece(out);
    AppendVertex(latitude, longitude);  // the next piece goes on from here
  }
}

void KmlRoute::Break(std::string& out) {
  if (has_skipped_) AppendVertex(skipped_latitude_, skipped_longitude_);
  Piece(out);
}

void KmlRoute::AppendVertex(double latitude, double longitude) {
  if (vertices_ > 0) coordinates_ += ' ';
  AppendCoordinate(coordinates_, longitude);
  coordinates_ += ',';
  AppendCoordinate(coordinates_, latitude);
  ++vertices_;
  last_latitude_ = latitude, last_longitude_ = longitude;
  has_skipped_ = false;
}

void KmlRoute::Piece(std::string& out) {
  if (vertices_ >= 2) {
    out +=
        "<Placemark><styleUrl>#route</styleUrl><LineString><tessellate>1</tessellate>"
        "<coordinates>";
    out += coordinates_;
    out += "</coordinates></LineString></Placemark>\n";
  }
  coordinates_.clear();
  vertices_ = 0;
  has_skipped_ = false;
}

std::string KmlSource(const std::string& log_name) { return XmlEscaped(XmlSafe(log_name)) + ":"; }

std::string KmlCellStyles() {
  std::string styles;
  for (int c = 1; c <= 5; ++c) {
    const ClassStyle& style = ClassStyleOf(c);
    styles += "<Style id=\"cell";
    styles += static_cast<char>('0' + c);
    styles += "\"><LineStyle><color>";
    styles += style.kml_colour;
    styles += "</color><width>1</width></LineStyle><PolyStyle><color>";
    styles += style.kml_colour;
    styles += "</color></PolyStyle></Style>\n";
  }
  styles +=
      "<Schema name=\"cell\" id=\"cell\">"
      "<SimpleField type=\"int\" name=\"count\"><displayName>measurements</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_mean_usvh\"><displayName>mean dose rate "
      "(\xC2\xB5Sv/h)</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_sigma_usvh\"><displayName>uncertainty of the "
      "mean (\xC2\xB5Sv/h, 1\xCF\x83)</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_max_usvh\"><displayName>highest (\xC2\xB5Sv/h)"
      "</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_min_usvh\"><displayName>lowest (\xC2\xB5Sv/h)"
      "</displayName></SimpleField>"
      "<SimpleField type=\"int\" name=\"logs\"><displayName>logs</displayName></SimpleField>"
      "<SimpleField type=\"int\" name=\"class\"><displayName>class</displayName></SimpleField>"
      "<SimpleField type=\"string\" name=\"first_time\"><displayName>first time</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"string\" name=\"last_time\"><displayName>last time</displayName>"
      "</SimpleField></Schema>\n";
  return styles;
}

std::string KmlCellPlacemark(const GridCell& cell, const CellEdges& e, int dose_class, bool time) {
  std::string p = "<Placemark><name>";
  char label[32];
  const std::string_view mean(label, std::to_chars(label, label + sizeof label, cell.dose_mean(),
                                                   std::chars_format::general, 3)
                                         .ptr);
  p += mean;
  // For readers that show no data: the figures in words.
  p += "</name><description>mean ";
  p += mean;
  p += " \xC2\xB5Sv/h of ";
  AppendInteger(p, cell.count);
  p += ", from ";
  const std::size_t first_at = p.size();
  AppendFirstTime(p, cell);
  const std::size_t first_size = p.size() - first_at;
  p += " to ";
  const std::size_t last_at = p.size();
  AppendLastTime(p, cell);
  const std::size_t last_size = p.size() - last_at;
  p += "</description>";
  if (time) {
    p += "<TimeSpan><begin>";
    p.append(p, first_at, first_size);
    p += "</begin><end>";
    p.append(p, last_at, last_size);
    p += "</end></TimeSpan>";
  }
  p += "<styleUrl>#cell";
  p += static_cast<char>('0' + dose_class);
  p += "</styleUrl><ExtendedData><SchemaData schemaUrl=\"#cell\"><SimpleData name=\"count\">";
  AppendInteger(p, cell.count);
  p += "</SimpleData><SimpleData name=\"dose_mean_usvh\">";
  AppendNumber(p, cell.dose_mean());
  if (const double sigma = cell.dose_sigma(); sigma == sigma) {
    p += "</SimpleData><SimpleData name=\"dose_sigma_usvh\">";
    AppendNumber(p, sigma);
  }
  p += "</SimpleData><SimpleData name=\"dose_max_usvh\">";
  AppendNumber(p, cell.dose_max);
  p += "</SimpleData><SimpleData name=\"dose_min_usvh\">";
  AppendNumber(p, cell.dose_min);
  p += "</SimpleData><SimpleData name=\"logs\">";
  AppendInteger(p, cell.logs);
  p += "</SimpleData><SimpleData name=\"class\">";
  p += static_cast<char>('0' + dose_class);
  p += "</SimpleData><SimpleData name=\"first_time\">";
  p.append(p, first_at, first_size);
  p += "</SimpleData><SimpleData name=\"last_time\">";
  p.append(p, last_at, last_size);
  p += "</SimpleData></SchemaData></ExtendedData>";
  AppendKmlPolygon(p, e);
  p += "</Placemark>\n";
  return p;
}

std::string KmlChangeStart(const std::string& title, const std::string& legend_href) {
  std::string start = kKmlStart;
  start += "<Document>\n<name>" + XmlEscaped(XmlSafe(title)) + "</name>\n<open>1</open>\n";
  for (int c = 0; c <= 5; ++c) {
    // KML writes a colour as aabbggrr: the fill at 80 %, a thin dark outline.
    const std::string_view html = kChangeColours[c];
    std::string colour = "cc";
    for (const std::size_t at : {5, 3, 1}) colour += html.substr(at, 2);
    start += "<Style id=\"change";
    start += static_cast<char>('0' + c);
    start += "\"><LineStyle><color>ff333333</color><width>1</width></LineStyle><PolyStyle><color>" +
             colour + "</color></PolyStyle></Style>\n";
  }
  start +=
      "<Schema name=\"change\" id=\"change\">"
      "<SimpleField type=\"int\" name=\"count_a\"><displayName>measurements before</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"int\" name=\"count_b\"><displayName>measurements after</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_mean_a_usvh\"><displayName>mean before "
      "(\xC2\xB5Sv/h)</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"dose_mean_b_usvh\"><displayName>mean after "
      "(\xC2\xB5Sv/h)</displayName></SimpleField>"
      "<SimpleField type=\"string\" name=\"time_a\"><displayName>mean time before</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"string\" name=\"time_b\"><displayName>mean time after</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"double\" name=\"ratio\"><displayName>after / before</displayName>"
      "</SimpleField>"
      "<SimpleField type=\"double\" name=\"decay_ratio\"><displayName>decay alone"
      "</displayName></SimpleField>"
      "<SimpleField type=\"double\" name=\"excess\"><displayName>excess over decay"
      "</displayName></SimpleField>"
      "<SimpleField type=\"int\" name=\"class\"><displayName>class</displayName></SimpleField>"
      "<SimpleField type=\"string\" name=\"color\"><displayName>colour</displayName>"
      "</SimpleField></Schema>\n";
  if (!legend_href.empty()) start += KmlLegend(legend_href);
  return start;
}

std::string KmlChangePlacemark(const ChangeCell& cell, const CellEdges& e,
                               const CellChange& change) {
  std::string p = "<Placemark><name>";
  std::string excess;
  if (change.excess == change.excess) {
    char text[32];
    if (change.excess > 0) excess += '+';
    excess.append(
        text,
        std::to_chars(text, text + sizeof text, change.excess, std::chars_format::general, 3).ptr);
  } else {
    excess = "\xE2\x80\x94";  // no ratio: an em dash
  }
  p += excess;
  const auto time = [](double mean) {
    return IsoTime(static_cast<std::int64_t>(std::round(mean)), true);
  };
  const std::string time_a = time(cell.time_mean[0]), time_b = time(cell.time_mean[1]);
  // For readers that show no data: the figures in words.
  p += "</name><description>excess over decay ";
  p += excess;
  p += "; mean ";
  AppendNumber(p, cell.dose_mean(0));
  p += " \xC2\xB5Sv/h of ";
  AppendInteger(p, cell.count[0]);
  p += " around " + time_a + ", then ";
  AppendNumber(p, cell.dose_mean(1));
  p += " \xC2\xB5Sv/h of ";
  AppendInteger(p, cell.count[1]);
  p += " around " + time_b + "</description><styleUrl>#change";
  p += static_cast<char>('0' + change.change_class);
  p += "</styleUrl><ExtendedData><SchemaData schemaUrl=\"#change\">";
  const auto field = [&p](const char* name, const auto& write) {
    p += "<SimpleData name=\"";
    p += name;
    p += "\">";
    write();
    p += "</SimpleData>";
  };
  field("count_a", [&] { AppendInteger(p, cell.count[0]); });
  field("count_b", [&] { AppendInteger(p, cell.count[1]); });
  field("dose_mean_a_usvh", [&] { AppendNumber(p, cell.dose_mean(0)); });
  field("dose_mean_b_usvh", [&] { AppendNumber(p, cell.dose_mean(1)); });
  field("time_a", [&] { p += time_a; });
  field("time_b", [&] { p += time_b; });
  // A field with no value (no ratio) is left out, as typed readers take no empty double.
  if (change.ratio == change.ratio) field("ratio", [&] { AppendNumber(p, change.ratio); });
  field("decay_ratio", [&] { AppendNumber(p, change.decay_ratio); });
  if (change.excess == change.excess) field("excess", [&] { AppendNumber(p, change.excess); });
  field("class", [&] { p += static_cast<char>('0' + change.change_class); });
  field("color", [&] { p += kChangeColours[change.change_class]; });
  p += "</SchemaData></ExtendedData>";
  AppendKmlPolygon(p, e);
  p += "</Placemark>\n";
  return p;
}

namespace {

class KmlCellDocument : public CellWriter {
 public:
  KmlCellDocument(ByteSink& file, const std::string& name, const std::string& legend_href,
                  bool time)
      : file_(file), time_(time) {
    file_ << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(name))
          << "</name>\n<open>1</open>\n"
          << KmlCellStyles();
    if (!legend_href.empty()) file_ << KmlLegend(legend_href);
  }
  void Add(const GridCell& cell, const CellEdges& e, int dose_class) override {
    file_ << KmlCellPlacemark(cell, e, dose_class, time_);
  }
  void Finish(const DriveStatistics&) override { file_ << "</Document>\n</kml>\n"; }

 private:
  ByteSink& file_;
  bool time_;
};

}  // namespace

std::unique_ptr<CellWriter> WriteKmlCellDocument(ByteSink& sink, const std::string& title,
                                                 const std::string& legend_href, bool time) {
  return std::make_unique<KmlCellDocument>(sink, title, legend_href, time);
}

std::unique_ptr<CellWriter> WriteKmlCells(ByteSink& sink, const std::string& title,
                                          const MapOptions& options) {
  return WriteKmlCellDocument(
      sink, title, options.icon_url.empty() ? title + "_files/legend.png" : "", options.time);
}

}  // namespace dosemap
