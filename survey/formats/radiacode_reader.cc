// RadiaCode-type tracks: the Android tab-separated export.
#include <algorithm>
#include <cmath>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

// The TSV export's DoseRate is in µR/h; CountRate is in counts per second.
constexpr double kMicroRoentgenPerMicroSievert = 100;
constexpr double kSecondsPerMinute = 60;

class RadiacodeParser : public CopyableLineParser<RadiacodeParser> {
 public:
  std::int64_t headers_read() const override { return headers_; }
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    if (line.substr(0, 6) == "Track:") return;
    SplitFields(line, '\t', false, fields_);
    if (fields_[0] == "Timestamp") {  // the header: columns are found by name
      columns_.ReadHeader(fields_);
      ++headers_;
      return;
    }
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    const auto field = [&](int column) { return columns_.Field(fields_, column); };
    const auto latitude_text = field(kLatitude), longitude_text = field(kLongitude);
    // An export made under a comma locale writes its numbers with a decimal comma.
    ReadDecimalPosition(latitude_text, longitude_text, result, /*decimal_comma=*/true);
    const auto time_text = field(kTime), dose_text = field(kDoseRate),
               count_text = field(kCountRate);
    if (!latitude_text || !longitude_text || !time_text || !dose_text) {
      result.reason = RejectReason::kFields;
      return;
    }
    const std::optional<double> dose = CommaNumberIn(*dose_text);
    std::optional<double> count_rate, accuracy;
    if (count_text && !count_text->empty()) count_rate = CommaNumberIn(*count_text);
    const auto accuracy_text = field(kAccuracy);
    const bool has_accuracy = accuracy_text && !accuracy_text->empty();
    if (has_accuracy) accuracy = CommaNumberIn(*accuracy_text);
    if (!result.position_read || !dose || (count_text && !count_text->empty() && !count_rate) ||
        (has_accuracy && !accuracy)) {
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
    m.has_accuracy = has_accuracy;
    m.accuracy_m = accuracy.value_or(0);
    CheckPosition(result);
  }

 private:
  enum Column { kTime, kLatitude, kLongitude, kDoseRate, kCountRate, kAccuracy };
  // The Android export's columns, in its order, until a header says otherwise.
  NamedColumns columns_{{{"Time", 1},
                         {"Latitude", 2},
                         {"Longitude", 3},
                         {"DoseRate", 5},
                         {"CountRate", 6},
                         {"Accuracy", 4}}};
  std::vector<std::string_view> fields_;
  std::int64_t headers_ = 0;
};

// The Android app's export: its "Track:" line or its header.
int ToldBy(const LogHead& head) {
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    if (StartsWith(head.lines[i], "Track:") || StartsWith(head.lines[i], "Timestamp\tTime\t"))
      return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<LineParser> Parser(const ReaderOptions&) {
  return std::make_unique<RadiacodeParser>();
}

}  // namespace

extern const FormatRow kRadiacodeTsvFormat = {
    "radiacode", "RadiaCode-type track: the Android tab-separated export (DoseRate µR/h)", ToldBy,
    Parser, OpenLines<Parser>};

}  // namespace dosemap
