// Atom Fast tracks: the app's ";"-separated CSV export and its JSON array of readings.
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

constexpr double kSecondsPerMinute = 60;
constexpr double kMillisecondsPerSecond = 1000;
constexpr std::string_view kTimeColumn = "unix timestamp";

// The CSV export: a header names the columns ("doserate (uSv/h)", "horizontal accuracy (radius of
// 68% confidence [m])"); each is found by the start of its name.
class AtomfastCsvParser : public CopyableLineParser<AtomfastCsvParser> {
 public:
  std::int64_t headers_read() const override { return headers_; }
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    SplitFields(line, ';', false, fields_);
    if (StartsWith(fields_[0], kTimeColumn)) {
      ReadHeader();
      ++headers_;
      return;
    }
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    const auto field = [&](Column c) -> std::optional<std::string_view> {
      if (columns_[c] < 0 || static_cast<std::size_t>(columns_[c]) >= fields_.size())
        return std::nullopt;
      return fields_[columns_[c]];
    };
    ReadDecimalPosition(field(kLatitude), field(kLongitude), result);
    const auto time_text = field(kTime), dose_text = field(kDose);
    // A row cut off (the app stopped while writing it) lacks its last columns: it is not read as
    // if they were empty.
    if (!time_text || !dose_text || !field(kLatitude) || !field(kLongitude) ||
        fields_.size() < header_fields_) {
      result.reason = RejectReason::kFields;
      return;
    }
    // Optional numbers: missing or empty is none; present and not a number is a fault.
    bool bad = false;
    const auto optional = [&](Column c) -> std::optional<double> {
      const auto text = field(c);
      if (!text || text->empty()) return std::nullopt;
      const std::optional<double> x = NumberIn(*text);
      bad = bad || !x;
      return x;
    };
    const std::optional<double> dose = NumberIn(*dose_text), altitude = optional(kAltitude),
                                cps = optional(kCps), accuracy = optional(kAccuracy);
    if (!result.position_read || !dose || bad) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<double> seconds = NumberIn(*time_text);
    if (!seconds || !IsCivilSeconds(*seconds)) {
      result.reason = RejectReason::kTime;
      return;
    }
    m.time = static_cast<std::int64_t>(std::floor(*seconds));
    m.dose_usvh = *dose;
    m.has_cpm = cps.has_value();
    m.cpm = cps.value_or(0) * kSecondsPerMinute;
    m.has_altitude = altitude.has_value();
    m.altitude = altitude.value_or(0);
    m.has_accuracy = accuracy.has_value();
    m.accuracy_m = accuracy.value_or(0);
    CheckPosition(result);
  }

 private:
  enum Column { kTime, kDose, kLatitude, kLongitude, kAltitude, kCps, kAccuracy, kColumnCount };

  void ReadHeader() {
    header_fields_ = fields_.size();
    static constexpr std::string_view kStarts[kColumnCount] = {
        kTimeColumn, "doserate", "lat", "lng", "wgs84_alt", "cps", "horizontal accuracy"};
    for (int c = 0; c < kColumnCount; ++c) {
      columns_[c] = -1;
      for (std::size_t i = 0; i < fields_.size(); ++i) {
        // "cps" is not "cp_2s": a name is its start followed by the end or a blank.
        const std::string_view name = fields_[i];
        if (StartsWith(name, kStarts[c]) &&
            (name.size() == kStarts[c].size() || name[kStarts[c].size()] == ' ')) {
          columns_[c] = static_cast<int>(i);
          break;
        }
      }
    }
  }

  // Where the export has them, until a header says otherwise.
  int columns_[kColumnCount] = {0, 1, 2, 3, 4, 6, 8};
  std::size_t header_fields_ = 0;  // 0: no header read
  std::int64_t headers_ = 0;
  std::vector<std::string_view> fields_;
};

// A header whose first column is the Unix time.
int ToldByCsv(const LogHead& head) {
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    if (StartsWith(head.lines[i], kTimeColumn)) return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<LineParser> CsvParser(const ReaderOptions&) {
  return std::make_unique<AtomfastCsvParser>();
}

// Reads the JSON array's elements as they come: {"d": µSv/h, "lat", "lng", "t": Unix ms, ...}.
class ElementReader : public JsonEvents {
 public:
  explicit ElementReader(const MarkerHandler& handle) : handle_(handle) {}

 private:
  enum Field { kDose, kLat, kLng, kTime, kFieldCount };

  // depth_: 1 inside the array, 2 inside an element, more below.
  bool Open(bool object) override {
    ++depth_;
    if (depth_ == 1 && object) {
      error_ = "not an array of readings";
      return false;
    }
    if (depth_ == 2) {
      Begin();
      element_is_object_ = object;
    } else if (depth_ == 3 && element_is_object_) {
      fields_.Note(key_, Value::kOther, 0, {});  // a nested value where a number belongs
    }
    return true;
  }

  bool Close() override {
    if (depth_ == 2) End();
    --depth_;
    return true;
  }

  bool Scalar(Value value, double x, std::string_view text) override {
    if (depth_ == 0) {
      error_ = "not an array of readings";
      return false;
    }
    if (depth_ == 1) {  // an element that is no object
      Begin();
      element_is_object_ = false;
      End();
    } else if (depth_ == 2 && element_is_object_) {
      fields_.Note(key_, value, x, text);
    }
    return true;
  }

  void Begin() {
    ++index_;
    fields_.Begin();
    cut_reason_ = RejectReason::kNone;
  }

  void End() {
    RecordResult result;
    Measurement& m = result.measurement;
    m.line = index_;
    const auto number = [this](Field f) { return fields_.number(f); };
    if (number(kLat) && number(kLng)) {
      result.position_read = true;
      m.latitude = fields_.value(kLat);
      m.longitude = fields_.value(kLng);
    }
    if (cut_reason_ != RejectReason::kNone) {
      result.reason = cut_reason_;  // a value past any real track's length
    } else if (!element_is_object_ || fields_.any_missing()) {
      result.reason = RejectReason::kFields;
    } else if (!number(kLat) || !number(kLng) || !number(kDose)) {
      result.reason = RejectReason::kNumber;
    } else if (!number(kTime) || !IsCivilSeconds(fields_.value(kTime) / kMillisecondsPerSecond)) {
      result.reason = RejectReason::kTime;
    } else {
      m.time = static_cast<std::int64_t>(std::floor(fields_.value(kTime) / kMillisecondsPerSecond));
      m.dose_usvh = fields_.value(kDose);
      CheckPosition(result);
    }
    handle_(result, fields_.evidence());
  }

  const MarkerHandler& handle_;
  int depth_ = 0;
  bool element_is_object_ = false;
  long index_ = 0;
  JsonFields<kFieldCount> fields_{{"d", "lat", "lng", "t"}};
};

class JsonSource : public RecordSource {
 public:
  explicit JsonSource(LineReader& reader) : reader_(reader) {}
  ReadEnd Read(const RecordHandler& handle) override {
    std::string text;
    const MarkerHandler take = [&](RecordResult& result, std::string_view evidence) {
      const long line = result.measurement.line;
      text = "(element " + std::to_string(line) + ")";
      handle(result, line, text, evidence);
    };
    ElementReader elements(take);
    const ByteSource next = [this]() { return reader_.NextBytes(); };
    return {ParseJsonStream(next, elements)};
  }

 private:
  LineReader& reader_;
};

// An array whose first element has a dose and a latitude.
int ToldByJson(const LogHead& head) {
  if (head.first != '[' || head.lines.empty()) return -1;
  const std::string_view text = head.lines[0];
  const std::size_t open = text.find('{'), close = text.find('}');
  if (open == std::string_view::npos) return -1;
  const std::string_view element =
      text.substr(open, close == std::string_view::npos ? close : close - open);
  return element.find("\"d\"") != std::string_view::npos &&
                 element.find("\"lat\"") != std::string_view::npos
             ? 0
             : -1;
}

std::unique_ptr<RecordSource> OpenJson(LineReader& reader, const ReaderOptions&) {
  return std::make_unique<JsonSource>(reader);
}

}  // namespace

extern const FormatRow kAtomfastCsvFormat = {
    "atomfast", "Atom Fast track: the app's ;-separated CSV export (doserate µSv/h, cps)",
    ToldByCsv, CsvParser, OpenLines<CsvParser>};

extern const FormatRow kAtomfastJsonFormat = {
    "atomfast", "Atom Fast track: the JSON array of readings (d µSv/h, t Unix ms)", ToldByJson,
    nullptr, OpenJson};

}  // namespace dosemap
