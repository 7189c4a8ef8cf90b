// The GeoJSON, GPX and CSV forms of the path form, the rejects file, and the choice of form.
#include "maps/survey_maps.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "dose/dose_scale.h"
#include "textfile/number_text.h"
#include "textfile/xml_text.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"
#include "textfile/message_text.h"

namespace dosemap {
namespace {

constexpr std::size_t kRejectTextBytes = 200;

void AppendCsvField(std::string& row, std::string_view field);

// A JSON string literal of text; bytes that aren't UTF-8 become U+FFFD.
std::string JsonString(const std::string& text) {
  return nlohmann::json(text).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

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
    AppendIsoTime(f, m.time, m.utc);
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
    file_.Close();
  }
  void Commit() override { file_.Commit(); }

 private:
  StagedFile file_;
  std::string source_prefix_;
  std::string feature_;
  bool first_ = true;
};

// GPX 1.1: a track a log, a track point a measurement with its elevation and time; dose, cpm and
// class as extensions in our own namespace.
class GpxMap : public SurveyMap {
 public:
  explicit GpxMap(const std::filesystem::path& out) : file_(out) {
    file_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<gpx version=\"1.1\" creator=\"dosemap\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
             "xmlns:dosemap=\""
          << kGpxNamespace << "\">\n";
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
    AppendIsoTime(p, m.time, m.utc);
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
    file_.Close();
  }
  void Commit() override { file_.Commit(); }

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
    if (!source_.empty() && source_.back() == '"')
      source_.pop_back();  // the line goes inside the quotes
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& r = row_;
    r.clear();
    AppendIsoTime(r, m.time, m.utc);
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
  void Finish() override { file_.Close(); }
  void Commit() override { file_.Commit(); }

 private:
  StagedFile file_;
  std::string source_;
  std::string row_;
};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// A text cell (never a number) as RFC 4180 writes it: with a comma, a quote or a line end it goes
// in quotes, its quotes doubled. One that a spreadsheet would take for a formula (=, +, -, @, a
// tab or a CR first) gets a leading ', the common guard.
void AppendCsvField(std::string& row, std::string_view field) {
  const bool formula = !field.empty() && std::string_view("=+-@\t\r").find(field.front()) !=
                                             std::string_view::npos;
  const bool quoted = field.find_first_of(",\"\r\n") != std::string_view::npos;
  if (quoted) row += '"';
  if (formula) row += '\'';
  for (const char c : field) {
    if (c == '"') row += '"';
    row += c;
  }
  if (quoted) row += '"';
}

}  // namespace

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

std::string HtmlColourOf(int dose_class) { return ClassStyleOf(dose_class).html_colour; }

std::unique_ptr<SurveyMap> MakeSurveyMap(MapForm form, const std::filesystem::path& out,
                                         const MapOptions& options) {
  switch (form) {
    case MapForm::kGeoJson:
      return std::make_unique<GeoJsonMap>(out);
    case MapForm::kKml:
      return MakeKmlMap(out, options);
    case MapForm::kKmz:
      return MakeKmzMap(out);
    case MapForm::kGpx:
      return std::make_unique<GpxMap>(out);
    case MapForm::kCsv:
      return std::make_unique<CsvMap>(out);
    case MapForm::kHtml:
      return MakeHtmlReport(out, options);
  }
  return nullptr;
}

RejectsFile::RejectsFile(const std::filesystem::path& path) : file_(path) {
  file_ << "file,line,reason,text\n";
}

void RejectsFile::Reject(const std::string& log_name, long line, RejectReason reason,
                         std::string_view text) {
  row_.clear();
  AppendCsvField(row_, log_name);
  row_ += ',';
  AppendInteger(row_, line);
  row_ += ',';
  row_ += ReasonName(reason);
  row_ += ',';
  const bool cut = text.size() > kRejectTextBytes;
  std::string escaped = OneLine(CutUtf8(text, kRejectTextBytes));
  if (cut) escaped += "\xE2\x80\xA6";
  AppendCsvField(row_, escaped);
  row_ += '\n';
  file_ << row_;
}

}  // namespace dosemap
