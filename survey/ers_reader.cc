// ERS, the European radiometric and spectrometry exchange format.
#include <string>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

// ERS: records start "PA " and hold ";"-separated "KEY value" pairs. Other lines are the header.
class ErsParser : public LineParser {
 public:
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line.substr(first, 3) != "PA ") return;
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    SplitFields(line.substr(first), ';', false, fields_);
    std::string_view date, clock, date_time, north, east, altitude_text, height_text, dose_text;
    for (const std::string_view pair : fields_) {
      const std::size_t blank = pair.find(' ');
      const std::string_view key = pair.substr(0, blank);
      std::string_view value =
          blank == std::string_view::npos ? std::string_view() : pair.substr(blank + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      if (key == "CD")
        date = value;
      else if (key == "CT")
        clock = value;
      else if (key == "CDT")
        date_time = value;
      else if (key == "PN")
        north = value;
      else if (key == "PE")
        east = value;
      else if (key == "PZ")
        altitude_text = value;
      else if (key == "PH")
        height_text = value;
      else if (key == "DHSR")
        dose_text = value;
    }
    ReadDecimalPosition(north, east, result, /*decimal_comma=*/true);
    if (north.empty() || east.empty() || dose_text.empty() ||
        (date_time.empty() && (date.empty() || clock.empty()))) {
      result.reason = RejectReason::kFields;
      return;
    }
    // Files made under a comma locale write every number with a decimal comma.
    const std::optional<double> dose = CommaNumberIn(dose_text);
    const std::string_view height = altitude_text.empty() ? height_text : altitude_text;
    std::optional<double> altitude;
    if (!height.empty()) altitude = CommaNumberIn(height);
    if (!result.position_read || !dose || (!height.empty() && !altitude)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<std::int64_t> time =
        date_time.empty() ? ParseDateAndTime(date, clock) : ParseCivilTime(date_time);
    if (!time) {
      result.reason = RejectReason::kTime;
      return;
    }
    m.time = *time;
    m.utc = true;
    m.dose_usvh = *dose;
    m.has_altitude = altitude.has_value();
    m.altitude = altitude.value_or(0);
    CheckPosition(result);
  }

 private:
  std::vector<std::string_view> fields_;
};

// A "PA " record.
int ToldBy(const LogHead& head) {
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    if (StartsWith(head.lines[i], "PA ") && head.lines[i].find(';') != std::string_view::npos)
      return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<LineParser> Parser(const ReaderOptions&) { return std::make_unique<ErsParser>(); }

}  // namespace

extern const FormatRow kErsFormat = {
    "ers", "ERS, the European radiometric exchange format (DHSR µSv/h; decimal commas too)", ToldBy,
    Parser, OpenLines<Parser>};

}  // namespace dosemap
