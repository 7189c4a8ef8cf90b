// The KML document's shared pieces: the class styles and a placemark.
#include "maps/kml_document.h"

#include <charconv>
#include <memory>

#include "dose/dose_scale.h"

namespace dosemap {

// The five classes as shared styles "dose1".."dose5", their icon at href.
std::string KmlStyles(const std::string& icon) {
  const std::string href = XmlEscaped(XmlSafe(icon));
  std::string styles;
  for (int c = 1; c <= 5; ++c) {
    const ClassStyle& style = ClassStyleOf(c);
    styles += "<Style id=\"dose";
    styles += static_cast<char>('0' + c);
    styles += "\"><IconStyle><color>";
    styles += style.kml_colour;
    styles += "</color><scale>";
    styles += style.icon_scale;
    styles += "</scale><Icon><href>";
    styles += href;
    styles += "</href></Icon></IconStyle><LabelStyle><color>";
    styles += style.kml_colour;
    styles += "</color><scale>";
    styles += style.icon_scale;
    styles += "</scale></LabelStyle></Style>\n";
  }
  return styles;
}

// A placemark: the dose as its name, its time (for time sliders), its class's style, its figures
// as extended data. source: the log's escaped name and a colon.
void AppendPlacemark(std::string& p, const Measurement& m, int dose_class,
                     std::string_view source) {
  p += "<Placemark><name>";
  char label[32];  // the label beside the icon: three digits; the exact dose is in the data
  p.append(
      label,
      std::to_chars(label, label + sizeof label, m.dose_usvh, std::chars_format::general, 3).ptr);
  p += "</name><TimeStamp><when>";
  AppendIsoTime(p, m.time, m.utc);
  p += "</when></TimeStamp><styleUrl>#dose";
  p += static_cast<char>('0' + dose_class);
  p += "</styleUrl><ExtendedData><Data name=\"dose_usvh\"><value>";
  AppendNumber(p, m.dose_usvh);
  p += "</value></Data><Data name=\"cpm\"><value>";
  if (m.has_cpm) AppendNumber(p, m.cpm);
  p += "</value></Data><Data name=\"class\"><value>";
  p += static_cast<char>('0' + dose_class);
  p += "</value></Data><Data name=\"source\"><value>";
  p += source;
  AppendInteger(p, m.line);
  p += "</value></Data></ExtendedData><Point><coordinates>";
  AppendNumber(p, m.longitude);
  p += ',';
  AppendNumber(p, m.latitude);
  if (m.has_altitude) {
    p += ',';
    AppendNumber(p, m.altitude);
  }
  p += "</coordinates></Point></Placemark>\n";
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
  return styles;
}

std::string KmlCellPlacemark(const GridCell& cell, const CellEdges& e, int dose_class) {
  std::string p = "<Placemark><name>";
  char label[32];
  p.append(label, std::to_chars(label, label + sizeof label, cell.dose_mean(),
                                std::chars_format::general, 3)
                      .ptr);
  p += "</name><TimeSpan><begin>";
  AppendFirstTime(p, cell);
  p += "</begin><end>";
  AppendLastTime(p, cell);
  p += "</end></TimeSpan><styleUrl>#cell";
  p += static_cast<char>('0' + dose_class);
  p += "</styleUrl><ExtendedData><Data name=\"count\"><value>";
  AppendInteger(p, cell.count);
  p += "</value></Data><Data name=\"dose_mean_usvh\"><value>";
  AppendNumber(p, cell.dose_mean());
  p += "</value></Data><Data name=\"dose_max_usvh\"><value>";
  AppendNumber(p, cell.dose_max);
  p += "</value></Data><Data name=\"dose_min_usvh\"><value>";
  AppendNumber(p, cell.dose_min);
  p += "</value></Data><Data name=\"logs\"><value>";
  AppendInteger(p, cell.logs);
  p += "</value></Data><Data name=\"class\"><value>";
  p += static_cast<char>('0' + dose_class);
  p += "</value></Data></ExtendedData><Polygon><outerBoundaryIs><LinearRing><coordinates>";
  const CellRing ring = RingOf(e);
  for (int i = 0; i < 5; ++i) {
    if (i > 0) p += ' ';
    AppendNumber(p, ring[i][0]);
    p += ',';
    AppendNumber(p, ring[i][1]);
  }
  p += "</coordinates></LinearRing></outerBoundaryIs></Polygon></Placemark>\n";
  return p;
}

namespace {

class KmlCellDocument : public CellWriter {
 public:
  KmlCellDocument(ByteSink& file, const std::string& name) : file_(file) {
    file_ << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(name))
          << "</name>\n<open>1</open>\n"
          << KmlCellStyles();
  }
  void Add(const GridCell& cell, const CellEdges& e, int dose_class) override {
    file_ << KmlCellPlacemark(cell, e, dose_class);
  }
  void Finish(const DriveStatistics&) override { file_ << "</Document>\n</kml>\n"; }

 private:
  ByteSink& file_;
};

}  // namespace

std::unique_ptr<CellWriter> WriteKmlCells(ByteSink& sink, const std::string& title,
                                          const MapOptions&) {
  return std::make_unique<KmlCellDocument>(sink, title);
}

}  // namespace dosemap
