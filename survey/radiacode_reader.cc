// RadiaCode-type tracks: the Android tab-separated export and the iOS JSON export (.rctrk).
#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "survey/civil_time.h"
#include "survey/readers.h"

namespace dosemap {
namespace {

// DoseRate is in µR/h, CountRate in counts per second.
constexpr double kMicroRoentgenPerMicroSievert = 100;
constexpr double kSecondsPerMinute = 60;

class RadiacodeParser : public LineParser {
 public:
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    if (line.substr(0, 6) == "Track:") return;
    SplitFields(line, '\t', false, fields_);
    if (fields_[0] == "Timestamp") {  // the header: columns are found by name
      columns_.ReadHeader(fields_);
      return;
    }
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    const auto field = [&](int column) { return columns_.Field(fields_, column); };
    const auto latitude_text = field(kLatitude), longitude_text = field(kLongitude);
    ReadDecimalPosition(latitude_text, longitude_text, result);
    const auto time_text = field(kTime), dose_text = field(kDoseRate),
               count_text = field(kCountRate);
    if (!latitude_text || !longitude_text || !time_text || !dose_text) {
      result.reason = RejectReason::kFields;
      return;
    }
    const std::optional<double> dose = NumberIn(*dose_text);
    std::optional<double> count_rate;
    if (count_text && !count_text->empty()) count_rate = NumberIn(*count_text);
    if (!result.position_read || !dose || (count_text && !count_text->empty() && !count_rate)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<std::int64_t> time = ParseCivilTime(*time_text);
    if (!time) {
      result.reason = RejectReason::kTime;
      return;
    }
    m.time = *time;
    m.dose_usvh = *dose / kMicroRoentgenPerMicroSievert;
    m.has_cpm = count_rate.has_value();
    m.cpm = count_rate.value_or(0) * kSecondsPerMinute;
    CheckPosition(result);
  }

 private:
  enum Column { kTime, kLatitude, kLongitude, kDoseRate, kCountRate };
  // The Android export's columns, in its order, until a header says otherwise.
  NamedColumns columns_{
      {{"Time", 1}, {"Latitude", 2}, {"Longitude", 3}, {"DoseRate", 5}, {"CountRate", 6}}};
  std::vector<std::string_view> fields_;
};

std::optional<double> JsonNumber(const nlohmann::json& marker, const char* key, bool* missing) {
  const auto at = marker.find(key);
  if (at == marker.end() || at->is_null()) {
    *missing = true;
    return std::nullopt;
  }
  if (!at->is_number()) return std::nullopt;
  const double value = at->get<double>();
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace

std::unique_ptr<LineParser> MakeRadiacodeParser(const ReaderOptions&) {
  return std::make_unique<RadiacodeParser>();
}

std::vector<RecordResult> ParseRadiacodeJson(std::string_view text, const ReaderOptions&) {
  const nlohmann::json track = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (track.is_discarded()) throw std::runtime_error("not valid JSON");
  const auto markers = track.is_object() ? track.find("markers") : track.end();
  if (markers == track.end() || !markers->is_array())
    throw std::runtime_error("no \"markers\" array");
  std::vector<RecordResult> results;
  results.reserve(markers->size());
  long index = 0;
  for (const nlohmann::json& marker : *markers) {
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    m.line = ++index;
    if (!marker.is_object()) {
      result.reason = RejectReason::kFields;
      continue;
    }
    bool missing = false;
    const std::optional<double> latitude = JsonNumber(marker, "lat", &missing);
    const std::optional<double> longitude = JsonNumber(marker, "lon", &missing);
    if (latitude && longitude) {
      result.position_read = true;
      m.latitude = *latitude;
      m.longitude = *longitude;
    }
    const std::optional<double> date = JsonNumber(marker, "date", &missing);
    const std::optional<double> dose = JsonNumber(marker, "doseRate", &missing);
    bool no_count = false;
    const std::optional<double> count_rate = JsonNumber(marker, "countRate", &no_count);
    if (missing) {
      result.reason = RejectReason::kFields;
    } else if (!latitude || !longitude || !dose || (!no_count && !count_rate)) {
      result.reason = RejectReason::kNumber;
    } else if (!date || std::abs(*date) > 1e12) {
      result.reason = RejectReason::kTime;
    } else {
      m.time = static_cast<std::int64_t>(std::floor(*date));
      m.dose_usvh = *dose / kMicroRoentgenPerMicroSievert;
      m.has_cpm = count_rate.has_value();
      m.cpm = count_rate.value_or(0) * kSecondsPerMinute;
      CheckPosition(result);
    }
  }
  // The app writes markers out of order: the track is its markers in time order (ties by
  // index). Markers without a usable time follow, by index.
  const auto timed_end =
      std::stable_partition(results.begin(), results.end(),
                            [](const RecordResult& r) { return r.reason == RejectReason::kNone; });
  std::stable_sort(results.begin(), timed_end, [](const RecordResult& a, const RecordResult& b) {
    return a.measurement.time < b.measurement.time;
  });
  return results;
}

}  // namespace dosemap
