// Our own .csv and .geojson maps, read back: maps of earlier drives merge and grid without their
// logs. Times, doses, count rates and positions come back exactly (the maps write the shortest
// text of each double, and it reads back as the same double).
#include <charconv>
#include <cmath>
#include <istream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "survey/civil_time.h"
#include "survey/json_stream.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

// Maps of this version carry each dose's uncertainty after it; earlier ones do not.
constexpr std::string_view kCsvHeader =
    "time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source";
constexpr std::string_view kCsvHeaderWithoutSigma =
    "time,latitude,longitude,altitude,dose_usvh,cpm,class,source";

// A map's time: "2026-11-21T01:30:00Z" in UTC, or "2026-11-21T10:30:00" as the log had it.
bool ReadMapTime(std::string_view text, Measurement& m) {
  const bool utc = text.size() == 20 && text.back() == 'Z';
  if (!utc && text.size() != 19) return false;
  const std::optional<std::int64_t> time = ParseCivilTime(text);
  if (!time) return false;
  m.time = *time;
  m.utc = utc;
  return true;
}

class CsvMapParser : public CopyableLineParser<CsvMapParser> {
 public:
  std::int64_t headers_read() const override { return headers_; }
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    if (StartsWith(line, kCsvHeader) || StartsWith(line, kCsvHeaderWithoutSigma)) {
      sigma_ = StartsWith(line, kCsvHeader);
      ++headers_;
      return;
    }
    SplitFields(line, ',', true, fields_);
    // Without the uncertainty's column, the fields are those of a map with it, less that one.
    if (!sigma_ && fields_.size() >= 5) fields_.insert(fields_.begin() + 5, std::string_view());
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    if (fields_.size() >= 3) ReadDecimalPosition(fields_[1], fields_[2], result);
    if (fields_.size() != 9) {
      result.reason = RejectReason::kFields;
      return;
    }
    const std::optional<double> dose = NumberIn(fields_[4]);
    std::optional<double> altitude, sigma, cpm;
    if (!fields_[3].empty()) altitude = NumberIn(fields_[3]);
    if (!fields_[5].empty()) sigma = NumberIn(fields_[5]);
    if (!fields_[6].empty()) cpm = NumberIn(fields_[6]);
    if (!result.position_read || !dose || (!fields_[3].empty() && !altitude) ||
        (!fields_[5].empty() && !sigma) || (!fields_[6].empty() && !cpm)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    if (!ReadMapTime(fields_[0], m)) {
      result.reason = RejectReason::kTime;
      return;
    }
    m.dose_usvh = *dose;
    if (sigma) m.dose_sigma_usvh = *sigma;
    m.has_altitude = altitude.has_value();
    m.altitude = altitude.value_or(0);
    m.has_cpm = cpm.has_value();
    m.cpm = cpm.value_or(0);
    CheckPosition(result);
  }

 private:
  std::vector<std::string_view> fields_;
  bool sigma_ = true;
  std::int64_t headers_ = 0;
};

int ToldByCsv(const LogHead& head) {
  return !head.lines.empty() && (StartsWith(head.lines[0], kCsvHeader) ||
                                 StartsWith(head.lines[0], kCsvHeaderWithoutSigma))
             ? 0
             : -1;
}

std::unique_ptr<LineParser> CsvParser(const ReaderOptions&) {
  return std::make_unique<CsvMapParser>();
}

constexpr std::size_t kMaxEvidenceBytes = 1024;

// Reads the features of a FeatureCollection as they come.
class FeatureReader : public JsonEvents {
 public:
  explicit FeatureReader(const MarkerHandler& handle) : handle_(handle) {}
  bool saw_features() const { return saw_features_; }

 private:
  // Where the parser is: the path of containers from the top-level object down.
  enum class At { kTop, kFeatures, kFeature, kGeometry, kCoordinates, kProperties, kOther };

  bool Open(bool object) override {
    const At parent = path_.empty() ? At::kOther : path_.back();
    At at = At::kOther;
    if (path_.empty()) {
      if (!object) {
        error_ = "not a FeatureCollection";
        return false;
      }
      at = At::kTop;
    } else if (parent == At::kTop && !object && key_ == "features") {
      at = At::kFeatures;
      saw_features_ = true;
    } else if (parent == At::kFeatures) {
      Begin();
      at = object ? At::kFeature : At::kOther;
      if (!object) well_formed_ = false;
    } else if (parent == At::kFeature && object && key_ == "geometry") {
      at = At::kGeometry;
    } else if (parent == At::kFeature && object && key_ == "properties") {
      at = At::kProperties;
    } else if (parent == At::kGeometry && !object && key_ == "coordinates") {
      at = At::kCoordinates;
      coordinates_ = 0;
    } else if (parent == At::kCoordinates || parent == At::kProperties) {
      well_formed_ = false;  // a container where a number belongs
    }
    path_.push_back(at);
    return true;
  }

  bool Close() override {
    path_.pop_back();
    if (!path_.empty() && path_.back() == At::kFeatures) End();
    return true;
  }

  bool Scalar(Value value, double x, std::string_view text) override {
    if (path_.empty()) {
      error_ = "not a FeatureCollection";
      return false;
    }
    const At at = path_.back();
    if (at == At::kFeatures) {  // a feature that is no object
      Begin();
      well_formed_ = false;
      End();
      return true;
    }
    char digits[32];
    if (value == Value::kNumber)
      text =
          std::string_view(digits, std::to_chars(digits, digits + sizeof digits, x).ptr - digits);
    if ((at == At::kCoordinates || at == At::kProperties) && value != Value::kNull &&
        evidence_.size() + text.size() + 1 <= kMaxEvidenceBytes) {
      evidence_.append(text).push_back(';');
    }
    const bool number = value == Value::kNumber && std::isfinite(x);
    if (at == At::kCoordinates) {
      if (coordinates_ < 3) {
        position_[coordinates_] = x;
        position_ok_[coordinates_] = number;
      }
      ++coordinates_;
      coordinate_count_ = coordinates_;
    } else if (at == At::kProperties) {
      if (key_ == "time") {
        has_time_ = value == Value::kOther;
        time_text_ = text;
      } else if (key_ == "dose_usvh") {
        dose_state_ = value == Value::kNull ? 0 : number ? 1 : 2;
        dose_ = x;
      } else if (key_ == "cpm") {
        cpm_state_ = value == Value::kNull ? 0 : number ? 1 : 2;
        cpm_ = x;
      } else if (key_ == "dose_sigma_usvh") {
        sigma_state_ = value == Value::kNull ? 0 : number ? 1 : 2;
        sigma_ = x;
      }
    }
    return true;
  }

  void Begin() {
    ++index_;
    well_formed_ = true;
    coordinate_count_ = coordinates_ = 0;
    position_ok_[0] = position_ok_[1] = position_ok_[2] = false;
    has_time_ = false;
    time_text_.clear();
    dose_state_ = cpm_state_ = sigma_state_ = 0;
    evidence_.clear();
    cut_reason_ = RejectReason::kNone;
  }

  void End() {
    RecordResult result;
    Measurement& m = result.measurement;
    m.line = index_;
    if (coordinate_count_ >= 2 && position_ok_[0] && position_ok_[1]) {
      result.position_read = true;
      m.longitude = position_[0];
      m.latitude = position_[1];
    }
    if (cut_reason_ != RejectReason::kNone) {
      result.reason = cut_reason_;  // a value past any map's length
    } else if (!well_formed_ || coordinate_count_ < 2 || coordinate_count_ > 3 ||
               dose_state_ == 0) {
      result.reason = RejectReason::kFields;
    } else if (!result.position_read || (coordinate_count_ == 3 && !position_ok_[2]) ||
               dose_state_ != 1 || cpm_state_ == 2 || sigma_state_ == 2) {
      result.reason = RejectReason::kNumber;
    } else if (!has_time_ || !ReadMapTime(time_text_, m)) {
      result.reason = RejectReason::kTime;
    } else {
      m.dose_usvh = dose_;
      if (sigma_state_ == 1) m.dose_sigma_usvh = sigma_;
      m.has_cpm = cpm_state_ == 1;
      m.cpm = m.has_cpm ? cpm_ : 0;
      m.has_altitude = coordinate_count_ == 3;
      m.altitude = m.has_altitude ? position_[2] : 0;
      CheckPosition(result);
    }
    handle_(result, evidence_);
  }

  const MarkerHandler& handle_;
  std::vector<At> path_;
  long index_ = 0;
  bool saw_features_ = false, well_formed_ = true, has_time_ = false;
  int coordinates_ = 0, coordinate_count_ = 0;
  double position_[3] = {};
  bool position_ok_[3] = {};
  std::string time_text_;
  int dose_state_ = 0, cpm_state_ = 0,  // 0: missing or null, 1: a number, 2: something else
      sigma_state_ = 0;
  double dose_ = 0, cpm_ = 0, sigma_ = 0;
  std::string evidence_;
};

class GeoJsonSource : public RecordSource {
 public:
  explicit GeoJsonSource(LineReader& reader) : reader_(reader) {}
  ReadEnd Read(const RecordHandler& handle) override {
    std::string text;
    const MarkerHandler take = [&](RecordResult& result, std::string_view evidence) {
      const long line = result.measurement.line;
      text = "(feature " + std::to_string(line) + ")";
      handle(result, line, text, evidence);
    };
    FeatureReader features(take);
    const ByteSource next = [this]() { return reader_.NextBytes(); };
    std::string not_a_map = ParseJsonStream(next, features);
    if (not_a_map.empty() && !features.saw_features()) not_a_map = "no \"features\" array";
    return {not_a_map};
  }

 private:
  LineReader& reader_;
};

// A FeatureCollection whose features carry a dose.
int ToldByGeoJson(const LogHead& head) {
  if (head.first != '{') return -1;
  bool collection = false;
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    collection =
        collection || head.lines[i].find("\"FeatureCollection\"") != std::string_view::npos;
    if (collection && head.lines[i].find("\"dose_usvh\"") != std::string_view::npos)
      return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<RecordSource> OpenGeoJson(LineReader& reader, const ReaderOptions&) {
  return std::make_unique<GeoJsonSource>(reader);
}

}  // namespace

extern const FormatRow kCsvMapFormat = {
    "csv", "a .csv map that -o wrote, read back (times, doses, cpm and positions exactly)",
    ToldByCsv, CsvParser, OpenLines<CsvParser>};

extern const FormatRow kGeoJsonMapFormat = {"geojson",
                                            "a .geojson map that -o wrote, read back (the same)",
                                            ToldByGeoJson, nullptr, OpenGeoJson};

}  // namespace dosemap
