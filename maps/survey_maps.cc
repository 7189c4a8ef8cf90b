#include "maps/survey_maps.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>

#include "convert/kml_frame.h"
#include "convert/map_writer.h"
#include "maps/kmz.h"
#include "survey/civil_time.h"
#include "textfile/file_error.h"
#include "textfile/message_text.h"

namespace dosemap {
namespace {

constexpr std::size_t kRejectTextBytes = 200;

void AppendCsvField(std::string& row, std::string_view field);

void AppendNumber(std::string& out, double x) {
  char text[32];
  out.append(text, std::to_chars(text, text + sizeof text, x).ptr);
}

void AppendInteger(std::string& out, long long x) {
  char text[24];
  out.append(text, std::to_chars(text, text + sizeof text, x).ptr);
}

// A JSON string literal of text; bytes that aren't UTF-8 become U+FFFD.
std::string JsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The extent of the kept points, for the opening view.
struct Extent {
  bool any = false;
  double south = 0, west = 0, north = 0, east = 0;
  void Add(double lat, double lon) {
    if (!any) {
      south = north = lat, west = east = lon, any = true;
      return;
    }
    south = std::min(south, lat), north = std::max(north, lat);
    west = std::min(west, lon), east = std::max(east, lon);
  }
};

class GeoJsonMap : public SurveyMap {
 public:
  explicit GeoJsonMap(const std::filesystem::path& out) : file_(out) {
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
    f += IsoTime(m.time, m.utc);
    f += "\",\"dose_usvh\":";
    AppendNumber(f, m.dose_usvh);
    f += ",\"cpm\":";
    if (m.has_cpm) {
      AppendNumber(f, m.cpm);
    } else {
      f += "null";
    }
    f += ",\"class\":";
    f += static_cast<char>('0' + dose_class);
    f += ",\"color\":\"";
    f += HtmlColourOf(dose_class);
    f += '"';
    f += source_prefix_;
    AppendInteger(f, m.line);
    f += "\"}}";
    file_ << f;
  }
  void Finish() override {
    file_ << "\n]}\n";
    file_.Commit();
  }

 private:
  StagedFile file_;
  std::string source_prefix_;
  std::string feature_;
  bool first_ = true;
};

// KML 2.2: the five classes as shared styles, a folder per log, a placemark per measurement with
// its time (for time sliders), its figures as extended data, and a view on the whole extent.
class KmlDocument {
 public:
  KmlDocument(StagedFile& file, const std::string& name, const std::string& icon) : file_(file) {
    file_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n"
             "<Document>\n<name>"
          << XmlEscaped(XmlSafe(name)) << "</name>\n<open>1</open>\n<LookAt><longitude>";
    // The view comes from the extent, known at the end: room is kept here and filled in then.
    longitude_at_ = file_.offset();
    file_ << kPlaceholder << "</longitude><latitude>";
    latitude_at_ = file_.offset();
    file_ << kPlaceholder << "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt><range>";
    range_at_ = file_.offset();
    file_ << kPlaceholder << "</range></LookAt>\n";
    const std::string href = XmlEscaped(XmlSafe(icon));
    for (int c = 1; c <= 5; ++c) {
      const ClassStyle& style = ClassStyleOf(static_cast<DoseClass>(c));
      file_ << "<Style id=\"dose" << std::string(1, static_cast<char>('0' + c)) << "\"><IconStyle><color>"
            << style.colour << "</color><scale>" << style.scale << "</scale><Icon><href>" << href
            << "</href></Icon></IconStyle><LabelStyle><color>" << style.colour << "</color><scale>" << style.scale
            << "</scale></LabelStyle></Style>\n";
    }
  }
  void BeginLog(const std::string& name) {
    if (in_folder_) file_ << "</Folder>\n";
    file_ << "<Folder><name>" << XmlEscaped(XmlSafe(name)) << "</name>\n";
    in_folder_ = true;
    source_ = XmlEscaped(XmlSafe(name)) + ":";
  }
  void Add(const Measurement& m, int dose_class) {
    extent_.Add(m.latitude, m.longitude);
    std::string& p = placemark_;
    p.assign("<Placemark><name>");
    AppendNumber(p, m.dose_usvh);
    p += "</name><TimeStamp><when>";
    p += IsoTime(m.time, m.utc);
    p += "</when></TimeStamp><styleUrl>#dose";
    p += static_cast<char>('0' + dose_class);
    p += "</styleUrl><ExtendedData><Data name=\"dose_usvh\"><value>";
    AppendNumber(p, m.dose_usvh);
    p += "</value></Data><Data name=\"cpm\"><value>";
    if (m.has_cpm) AppendNumber(p, m.cpm);
    p += "</value></Data><Data name=\"class\"><value>";
    p += static_cast<char>('0' + dose_class);
    p += "</value></Data><Data name=\"source\"><value>";
    p += source_;
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
    file_ << p;
  }
  void End() {
    if (in_folder_) file_ << "</Folder>\n";
    file_ << "</Document>\n</kml>\n";
    double longitude = 0, latitude = 0, range = 20000000;  // nothing kept: the whole Earth
    if (extent_.any) {
      longitude = (extent_.west + extent_.east) / 2;
      latitude = (extent_.south + extent_.north) / 2;
      const double diagonal = GreatCircleMetres(extent_.south, extent_.west, extent_.north, extent_.east);
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

  StagedFile& file_;
  Extent extent_;
  std::int64_t longitude_at_ = 0, latitude_at_ = 0, range_at_ = 0;
  bool in_folder_ = false;
  std::string source_;
  std::string placemark_;
};

// The icon beside a .kml: "<stem>_files/square.png", and its path relative to the map.
std::string IconFolderName(const std::filesystem::path& out) { return out.stem().string() + "_files"; }

class KmlMap : public SurveyMap {
 public:
  KmlMap(const std::filesystem::path& out, const MapOptions& options)
      : out_(out),
        own_icon_(options.icon_url.empty()),
        file_(out),
        document_(file_, out.stem().string(),
                  own_icon_ ? IconFolderName(out) + "/square.png" : options.icon_url) {}
  void BeginLog(int, const std::string& name) override { document_.BeginLog(name); }
  void Add(const Measurement& m, int dose_class) override { document_.Add(m, dose_class); }
  void Finish() override {
    document_.End();
    if (own_icon_) WriteIcon();
    file_.Commit();
  }

 private:
  void WriteIcon() {
    const std::filesystem::path folder = out_.parent_path() / IconFolderName(out_);
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    if (error) throw FileError(FileErrorKind::kWriteFailed, folder.string() + ": cannot create: " + error.message());
    StagedFile icon(folder / "square.png");
    icon << SquareIconPng();
    icon.Commit();
  }

  std::filesystem::path out_;
  bool own_icon_;
  StagedFile file_;
  KmlDocument document_;
};

// A KMZ: the KML document with the icon inside the archive.
class KmzMap : public SurveyMap {
 public:
  explicit KmzMap(const std::filesystem::path& out)
      : out_(out), file_(std::filesystem::path(out.string() + ".doc")), document_(file_, out.stem().string(), kKmzIconPath) {}
  void BeginLog(int, const std::string& name) override { document_.BeginLog(name); }
  void Add(const Measurement& m, int dose_class) override { document_.Add(m, dose_class); }
  void Finish() override {
    document_.End();
    file_.Flush();
    WriteKmz(out_, {{"doc.kml", file_.staging(), {}}, {kKmzIconPath, {}, SquareIconPng()}});
  }

 private:
  std::filesystem::path out_;
  StagedFile file_;  // never committed: packed, then removed with the writer
  KmlDocument document_;
};

// GPX 1.1: a track a log, a track point a measurement with its elevation and time; dose, cpm and
// class as extensions in our own namespace.
class GpxMap : public SurveyMap {
 public:
  explicit GpxMap(const std::filesystem::path& out) : file_(out) {
    file_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<gpx version=\"1.1\" creator=\"dosemap\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
             "xmlns:dosemap=\"" << kGpxNamespace << "\">\n";
  }
  void BeginLog(int, const std::string& name) override {
    EndTrack();
    file_ << "<trk><name>" << XmlEscaped(XmlSafe(name)) << "</name><trkseg>\n";
    in_track_ = true;
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& p = point_;
    p.assign("<trkpt lat=\"");
    AppendNumber(p, m.latitude);
    p += "\" lon=\"";
    AppendNumber(p, m.longitude);
    p += "\">";
    if (m.has_altitude) {
      p += "<ele>";
      AppendNumber(p, m.altitude);
      p += "</ele>";
    }
    p += "<time>";
    p += IsoTime(m.time, m.utc);
    p += "</time><extensions><dosemap:dose_usvh>";
    AppendNumber(p, m.dose_usvh);
    p += "</dosemap:dose_usvh>";
    if (m.has_cpm) {
      p += "<dosemap:cpm>";
      AppendNumber(p, m.cpm);
      p += "</dosemap:cpm>";
    }
    p += "<dosemap:class>";
    p += static_cast<char>('0' + dose_class);
    p += "</dosemap:class></extensions></trkpt>\n";
    file_ << p;
  }
  void Finish() override {
    EndTrack();
    file_ << "</gpx>\n";
    file_.Commit();
  }

 private:
  void EndTrack() {
    if (in_track_) file_ << "</trkseg></trk>\n";
    in_track_ = false;
  }

  StagedFile file_;
  bool in_track_ = false;
  std::string point_;
};

// One normalised measurement a line, RFC 4180.
class CsvMap : public SurveyMap {
 public:
  explicit CsvMap(const std::filesystem::path& out) : file_(out) {
    file_ << "time,latitude,longitude,altitude,dose_usvh,cpm,class,source\r\n";
  }
  void BeginLog(int, const std::string& name) override {
    source_.clear();
    AppendCsvField(source_, name + ":");
    if (!source_.empty() && source_.back() == '"') source_.pop_back();  // the line goes inside the quotes
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& r = row_;
    r.assign(IsoTime(m.time, m.utc));
    r += ',';
    AppendNumber(r, m.latitude);
    r += ',';
    AppendNumber(r, m.longitude);
    r += ',';
    if (m.has_altitude) AppendNumber(r, m.altitude);
    r += ',';
    AppendNumber(r, m.dose_usvh);
    r += ',';
    if (m.has_cpm) AppendNumber(r, m.cpm);
    r += ',';
    r += static_cast<char>('0' + dose_class);
    r += ',';
    r += source_;
    AppendInteger(r, m.line);
    if (source_.front() == '"') r += '"';
    r += "\r\n";
    file_ << r;
  }
  void Finish() override { file_.Commit(); }

 private:
  StagedFile file_;
  std::string source_;
  std::string row_;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// RFC 4180: a field with a comma, a quote or a line end goes in quotes, its quotes doubled.
void AppendCsvField(std::string& row, std::string_view field) {
  if (field.find_first_of(",\"\r\n") == std::string_view::npos) {
    row.append(field);
    return;
  }
  row += '"';
  for (const char c : field) {
    if (c == '"') row += '"';
    row += c;
  }
  row += '"';
}

}  // namespace

std::unique_ptr<SurveyMap> MakeHtmlReport(const std::filesystem::path& out, const MapOptions& options);

std::optional<MapForm> MapFormOf(const std::filesystem::path& out) {
  const std::string extension = Lower(out.extension().string());
  if (extension == ".geojson") return MapForm::kGeoJson;
  if (extension == ".kml") return MapForm::kKml;
  if (extension == ".kmz") return MapForm::kKmz;
  if (extension == ".gpx") return MapForm::kGpx;
  if (extension == ".csv") return MapForm::kCsv;
  if (extension == ".html" || extension == ".htm") return MapForm::kHtml;
  return std::nullopt;
}

std::string HtmlColourOf(int dose_class) {
  const std::string_view kml = ClassStyleOf(static_cast<DoseClass>(dose_class)).colour;  // aabbggrr
  std::string html = "#";
  html.append(kml.substr(6, 2)).append(kml.substr(4, 2)).append(kml.substr(2, 2));
  return html;
}

std::unique_ptr<SurveyMap> MakeSurveyMap(MapForm form, const std::filesystem::path& out, const MapOptions& options) {
  switch (form) {
    case MapForm::kGeoJson:
      return std::make_unique<GeoJsonMap>(out);
    case MapForm::kKml:
      return std::make_unique<KmlMap>(out, options);
    case MapForm::kKmz:
      return std::make_unique<KmzMap>(out);
    case MapForm::kGpx:
      return std::make_unique<GpxMap>(out);
    case MapForm::kCsv:
      return std::make_unique<CsvMap>(out);
    case MapForm::kHtml:
      return MakeHtmlReport(out, options);
  }
  return nullptr;
}

RejectsFile::RejectsFile(const std::filesystem::path& path) : file_(path) { file_ << "file,line,reason,text\n"; }

void RejectsFile::Reject(const std::string& log_name, long line, RejectReason reason, std::string_view text) {
  row_.clear();
  AppendCsvField(row_, log_name);
  row_ += ',';
  AppendInteger(row_, line);
  row_ += ',';
  row_ += ReasonName(reason);
  row_ += ',';
  bool cut = false;
  if (text.size() > kRejectTextBytes) {
    std::size_t end = kRejectTextBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text = text.substr(0, end);
    cut = true;
  }
  std::string escaped = OneLine(text);
  if (cut) escaped += "\xE2\x80\xA6";
  AppendCsvField(row_, escaped);
  row_ += '\n';
  file_ << row_;
}

}  // namespace dosemap
