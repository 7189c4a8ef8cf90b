// RadiaCode-type tracks: the iOS app's JSON export (.rctrk), read as a stream.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <deque>
#include <istream>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/error.h"
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
      fields_.Note(key_, Value::kOther, 0, {});  // a nested value where a number belongs
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
      fields_.Note(key_, value, x, text);
    }
    return true;
  }

  void BeginMarker() {
    ++index_;
    fields_.Begin();
    cut_reason_ = RejectReason::kNone;
  }

  void EndMarker() {
    RecordResult result;
    Measurement& m = result.measurement;
    m.line = index_;
    const auto number = [this](Field f) { return fields_.number(f); };
    if (number(kLat) && number(kLon)) {
      result.position_read = true;
      m.latitude = fields_.value(kLat);
      m.longitude = fields_.value(kLon);
    }
    if (cut_reason_ != RejectReason::kNone) {
      result.reason = cut_reason_;  // a value past any real track's length
    } else if (!marker_is_object_ || fields_.state(kLat) == FieldState::kMissing ||
               fields_.state(kLon) == FieldState::kMissing ||
               fields_.state(kDate) == FieldState::kMissing ||
               fields_.state(kDose) == FieldState::kMissing) {
      result.reason = RejectReason::kFields;
    } else if (!number(kLat) || !number(kLon) || !number(kDose) ||
               fields_.state(kCount) == FieldState::kBad ||
               fields_.state(kAccuracy) == FieldState::kBad) {
      result.reason = RejectReason::kNumber;
    } else if (!number(kDate) || !IsCivilSeconds(fields_.value(kDate))) {
      result.reason = RejectReason::kTime;
    } else {
      m.time = static_cast<std::int64_t>(std::floor(fields_.value(kDate)));
      m.dose_usvh = fields_.value(kDose);  // the unit applies at the end
      m.has_cpm = number(kCount);
      m.cpm = m.has_cpm ? fields_.value(kCount) * kSecondsPerMinute : 0;
      m.has_accuracy = number(kAccuracy);
      m.accuracy_m = m.has_accuracy ? fields_.value(kAccuracy) : 0;
      CheckPosition(result);
      // Markers are stored without their accuracy: it is checked now.
      if (result.reason == RejectReason::kNone && AccuracyTooPoor(m, max_accuracy_m_))
        result.reason = RejectReason::kAccuracy;
    }
    if (result.reason != RejectReason::kNone) {
      handle_(result, fields_.evidence());  // rejected markers go at once: only kept ones wait
      return;
    }
    kept_.push_back({m.time, m.latitude, m.longitude, m.dose_usvh, m.cpm,
                     static_cast<std::uint32_t>(index_), m.has_cpm});
  }

  const MarkerHandler& handle_;
  std::deque<StoredMarker>& kept_;
  double max_accuracy_m_;
  int depth_ = 0;
  bool in_markers_ = false, saw_markers_ = false, marker_is_object_ = false;
  bool micro_roentgen_ = false;
  long index_ = 0;
  JsonFields<kFieldCount> fields_{{"lat", "lon", "date", "doseRate", "countRate", "acc"}};
};

}  // namespace

std::string ReadRadiacodeJson(const ByteSource& next_bytes, const ReaderOptions& options,
                              const MarkerHandler& handle) {
  std::deque<StoredMarker> kept;  // grows in small blocks: no copy of the whole to grow
  TrackReader reader(handle, kept, options.max_accuracy_m);
  std::string not_a_track = ParseJsonStream(next_bytes, reader);
  if (not_a_track.empty() && !reader.saw_markers()) not_a_track = "no \"markers\" array";
  if (!not_a_track.empty()) return not_a_track;
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
  return "";
}

std::vector<RecordResult> ParseRadiacodeJson(std::string_view text, const ReaderOptions& options) {
  std::vector<RecordResult> results;
  bool given = false;
  const std::string not_a_track = ReadRadiacodeJson(
      [&]() {
        const std::string_view all = given ? std::string_view() : text;
        given = true;
        return all;
      },
      options, [&](RecordResult& result, std::string_view) { results.push_back(result); });
  if (!not_a_track.empty()) throw SurveyError(SurveyErrorKind::kUnknownFormat, not_a_track);
  return results;
}

namespace {

class JsonSource : public RecordSource {
 public:
  JsonSource(LineReader& reader, const ReaderOptions& options)
      : reader_(reader), options_(options) {}
  ReadEnd Read(const RecordHandler& handle) override {
    std::string text;
    return {ReadRadiacodeJson([this]() { return reader_.NextBytes(); }, options_,
                              [&](RecordResult& result, std::string_view evidence) {
                                const long line = result.measurement.line;
                                text = "(marker " + std::to_string(line) + ")";
                                handle(result, line, text, evidence);
                              })};
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
