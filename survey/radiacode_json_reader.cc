// RadiaCode-type tracks: the iOS app's JSON export (.rctrk), read as a stream.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <istream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "survey/civil_time.h"
#include "survey/json_stream.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

// µR/h when the track says so; CountRate is in counts per second.
constexpr double kMicroRoentgenPerMicroSievert = 100;
constexpr double kSecondsPerMinute = 60;

}  // namespace

namespace {

// How much of a marker's values the privacy check reads.
constexpr std::size_t kMaxEvidenceBytes = 1024;

// A marker kept for sorting: 48 bytes. Its accuracy was checked as it was read.
struct StoredMarker {
  std::int64_t time;
  double latitude, longitude, dose_usvh, cpm;
  std::uint32_t index;
  bool has_cpm;
};

// Reads the track's events: the markers array of the top-level object, each marker's numbers.
class TrackReader : public JsonEvents {
 public:
  TrackReader(const MarkerHandler& handle, std::deque<StoredMarker>& kept, double max_accuracy_m)
      : handle_(handle), kept_(kept), max_accuracy_m_(max_accuracy_m) {}

  bool saw_markers() const { return saw_markers_; }

  // The iOS app writes doseRate in µSv/h, unless the track says "sv": false (or "isSievert":
  // false): µR/h. The key may stand after the markers, so the unit applies when they are handed
  // out.
  double dose_divisor() const { return micro_roentgen_ ? kMicroRoentgenPerMicroSievert : 1; }

  bool Boolean(bool value) override {
    if (depth_ == 1 && !value && (key_ == "sv" || key_ == "isSievert")) micro_roentgen_ = true;
    return Scalar(Value::kOther, 0, {});
  }

 private:
  enum Field { kLat, kLon, kDate, kDose, kCount, kAccuracy, kFieldCount };

  // depth_: 1 inside the top-level object, 2 inside markers, 3 inside a marker, more below.
  bool Open(bool object) override {
    ++depth_;
    if (depth_ == 1) {
      if (!object) error_ = "no \"markers\" array";
      return object;
    }
    if (depth_ == 2) {
      in_markers_ = !object && key_ == "markers";
      saw_markers_ = saw_markers_ || in_markers_;
    } else if (depth_ == 3 && in_markers_) {
      BeginMarker();
      marker_is_object_ = object;
    } else if (depth_ == 4 && in_markers_ && marker_is_object_) {
      Note(Value::kOther, 0, {});  // a nested value where a number belongs
    }
    return true;
  }

  bool Close() override {
    if (depth_ == 3 && in_markers_) EndMarker();
    if (depth_ == 2) in_markers_ = false;
    --depth_;
    return true;
  }

  bool Scalar(Value value, double x, std::string_view text) override {
    if (depth_ == 2 && in_markers_) {  // a marker that is no object
      BeginMarker();
      marker_is_object_ = false;
      EndMarker();
    } else if (depth_ == 3 && in_markers_ && marker_is_object_) {
      Note(value, x, text);
    }
    return true;
  }

  void BeginMarker() {
    ++index_;
    for (State& state : fields_) state = State::kMissing;
    evidence_.clear();
  }

  void Note(Value value, double x, std::string_view text) {
    static constexpr std::string_view kNames[kFieldCount] = {"lat",      "lon",       "date",
                                                             "doseRate", "countRate", "acc"};
    if (value == Value::kNumber) {
      char digits[32];
      text =
          std::string_view(digits, std::to_chars(digits, digits + sizeof digits, x).ptr - digits);
      Evidence(text);
    } else if (value == Value::kOther) {
      Evidence(text);
    }
    for (int f = 0; f < kFieldCount; ++f) {
      if (key_ != kNames[f]) continue;
      if (value == Value::kNull) {
        fields_[f] = State::kMissing;
      } else if (value == Value::kNumber && std::isfinite(x)) {
        fields_[f] = State::kNumber;
        numbers_[f] = x;
      } else {
        fields_[f] = State::kBad;
      }
    }
  }

  void Evidence(std::string_view text) {
    if (evidence_.size() + text.size() + 1 > kMaxEvidenceBytes) return;
    evidence_.append(text).push_back(';');
  }

  void EndMarker() {
    RecordResult result;
    Measurement& m = result.measurement;
    m.line = index_;
    const auto number = [this](Field f) { return fields_[f] == State::kNumber; };
    if (number(kLat) && number(kLon)) {
      result.position_read = true;
      m.latitude = numbers_[kLat];
      m.longitude = numbers_[kLon];
    }
    if (!marker_is_object_ || fields_[kLat] == State::kMissing ||
        fields_[kLon] == State::kMissing || fields_[kDate] == State::kMissing ||
        fields_[kDose] == State::kMissing) {
      result.reason = RejectReason::kFields;
    } else if (!number(kLat) || !number(kLon) || !number(kDose) || fields_[kCount] == State::kBad ||
               fields_[kAccuracy] == State::kBad) {
      result.reason = RejectReason::kNumber;
    } else if (!number(kDate) || !IsCivilSeconds(numbers_[kDate])) {
      result.reason = RejectReason::kTime;
    } else {
      m.time = static_cast<std::int64_t>(std::floor(numbers_[kDate]));
      m.dose_usvh = numbers_[kDose];  // the unit applies at the end
      m.has_cpm = number(kCount);
      m.cpm = m.has_cpm ? numbers_[kCount] * kSecondsPerMinute : 0;
      m.has_accuracy = number(kAccuracy);
      m.accuracy_m = m.has_accuracy ? numbers_[kAccuracy] : 0;
      CheckPosition(result);
      // Markers are stored without their accuracy: it is checked now.
      if (result.reason == RejectReason::kNone && AccuracyTooPoor(m, max_accuracy_m_))
        result.reason = RejectReason::kAccuracy;
    }
    if (result.reason != RejectReason::kNone) {
      handle_(result, evidence_);  // rejected markers go at once: only kept ones wait
      return;
    }
    kept_.push_back({m.time, m.latitude, m.longitude, m.dose_usvh, m.cpm,
                     static_cast<std::uint32_t>(index_), m.has_cpm});
  }

  enum class State { kMissing, kNumber, kBad };
  const MarkerHandler& handle_;
  std::deque<StoredMarker>& kept_;
  double max_accuracy_m_;
  int depth_ = 0;
  bool in_markers_ = false, saw_markers_ = false, marker_is_object_ = false;
  bool micro_roentgen_ = false;
  long index_ = 0;
  State fields_[kFieldCount] = {};
  double numbers_[kFieldCount] = {};
  std::string evidence_;
};

}  // namespace

void ReadRadiacodeJson(const ByteSource& next_bytes, const ReaderOptions& options,
                       const MarkerHandler& handle) {
  std::deque<StoredMarker> kept;  // grows in small blocks: no copy of the whole to grow
  TrackReader reader(handle, kept, options.max_accuracy_m);
  ParseJsonStream(next_bytes, reader);
  if (!reader.saw_markers()) throw std::runtime_error("no \"markers\" array");
  // The app writes markers out of order: the track is its markers in time order, ties by index.
  std::sort(kept.begin(), kept.end(), [](const StoredMarker& a, const StoredMarker& b) {
    return a.time != b.time ? a.time < b.time : a.index < b.index;
  });
  const double divisor = reader.dose_divisor();
  for (const StoredMarker& s : kept) {
    RecordResult result;
    Measurement& m = result.measurement;
    result.position_read = true;
    m.time = s.time, m.latitude = s.latitude, m.longitude = s.longitude;
    m.dose_usvh = s.dose_usvh / divisor, m.cpm = s.cpm, m.has_cpm = s.has_cpm, m.line = s.index;
    handle(result, {});
  }
}

std::vector<RecordResult> ParseRadiacodeJson(std::string_view text, const ReaderOptions& options) {
  std::vector<RecordResult> results;
  bool given = false;
  ReadRadiacodeJson(
      [&]() {
        const std::string_view all = given ? std::string_view() : text;
        given = true;
        return all;
      },
      options, [&](RecordResult& result, std::string_view) { results.push_back(result); });
  return results;
}

namespace {

class JsonSource : public RecordSource {
 public:
  JsonSource(LineReader& reader, const ReaderOptions& options)
      : reader_(reader), options_(options) {}
  void Read(const RecordHandler& handle) override {
    std::string text;
    ReadRadiacodeJson([this]() { return reader_.NextBytes(); }, options_,
                      [&](RecordResult& result, std::string_view evidence) {
                        const long line = result.measurement.line;
                        text = "(marker " + std::to_string(line) + ")";
                        handle(result, line, text, evidence);
                      });
  }

 private:
  LineReader& reader_;
  ReaderOptions options_;
};

// A JSON object first, unless it is a FeatureCollection (a map of ours, read back).
int ToldBy(const LogHead& head) {
  if (head.first != '{') return -1;
  for (const std::string_view line : head.lines) {
    if (line.find("\"FeatureCollection\"") != std::string_view::npos) return -1;
  }
  return 0;
}

std::unique_ptr<RecordSource> Open(LineReader& reader, const ReaderOptions& options) {
  return std::make_unique<JsonSource>(reader, options);
}

}  // namespace

extern const FormatRow kRadiacodeJsonFormat = {
    "radiacode", "RadiaCode-type track: the iOS JSON export (doseRate µSv/h; markers by time)",
    ToldBy, nullptr, Open};

}  // namespace dosemap
