// The measurement database's CSV export: "Captured Time,Latitude,Longitude,Value,Unit,...".
#include <algorithm>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {

extern const FormatRow kSafecastFormat;

namespace {

class SafecastParser : public CopyableLineParser<SafecastParser> {
 public:
  std::int64_t headers_read() const override { return headers_; }
  explicit SafecastParser(const ReaderOptions& options)
      : factor_(CpmFactorOf(options, kSafecastFormat)), index_(FormatIndexOf(kSafecastFormat)) {}

  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    SplitFields(line, ',', true, fields_);
    if (fields_[0] == "Captured Time") {  // the header: columns are found by name
      columns_.ReadHeader(fields_);
      ++headers_;
      return;
    }
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    const auto field = [&](int column) { return columns_.Field(fields_, column); };
    const auto latitude_text = field(kLatitude), longitude_text = field(kLongitude);
    ReadDecimalPosition(latitude_text, longitude_text, result);
    const auto time_text = field(kTime), value_text = field(kValue), unit = field(kUnit);
    const auto height_text = field(kHeight);
    if (!latitude_text || !longitude_text || !time_text || !value_text || !unit) {
      result.reason = RejectReason::kFields;
      return;
    }
    const std::optional<double> value = NumberIn(*value_text);
    std::optional<double> height;
    if (height_text && !height_text->empty()) height = NumberIn(*height_text);
    const bool counts = *unit == "cpm" || *unit == "CPM";
    const bool dose =
        *unit == "usv" || *unit == "uSv/h" || *unit == "\xC2\xB5Sv/h" || *unit == "\xCE\xBCSv/h";
    if (!result.position_read || !value || (!counts && !dose)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<std::int64_t> time = ParseCivilTime(*time_text);
    if (!time) {
      result.reason = RejectReason::kTime;
      return;
    }
    m.time = *time;
    m.utc = true;
    m.has_cpm = counts;
    m.cpm = counts ? *value : 0;
    m.dose_usvh = counts ? *value / factor_ : *value;
    m.counted_by = counts ? index_ : 0;
    if (counts) m.dose_sigma_usvh = CountingSigma(m.dose_usvh, *value, factor_);
    m.has_altitude = height.has_value();
    m.altitude = height.value_or(0);
    CheckPosition(result);
  }

 private:
  enum Column { kTime, kLatitude, kLongitude, kValue, kUnit, kHeight };
  NamedColumns columns_{{{"Captured Time", 0},
                         {"Latitude", 1},
                         {"Longitude", 2},
                         {"Value", 3},
                         {"Unit", 4},
                         {"Height", 8}}};
  double factor_;
  std::uint8_t index_;
  std::vector<std::string_view> fields_;
  std::int64_t headers_ = 0;
};

// Its header.
int ToldBy(const LogHead& head) {
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    if (StartsWith(head.lines[i], "Captured Time,")) return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<LineParser> Parser(const ReaderOptions& options) {
  return std::make_unique<SafecastParser>(options);
}

}  // namespace

extern const FormatRow kSafecastFormat = {
    "safecast", "the measurement database's CSV export (cpm / --cpm-factor, or µSv/h)", ToldBy,
    Parser, OpenLines<Parser>, false,
    // Its cpm rows come from bGeigie-type devices: the database converts them with 334.
    334};

}  // namespace dosemap
