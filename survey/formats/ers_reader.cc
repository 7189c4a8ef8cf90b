// ERS, the European radiometric and spectrometry exchange format, in its versions 2.0 and 1.0.
// The attributes (ERS 2.0's list, Docs/ERS2.0_data_attributes_1.csv of the format's public demo
// data): PN and PE the position, PZ the altitude above sea level, PH the ground clearance (an
// aircraft's height above the ground: never an altitude), DHSR the ambient dose equivalent rate,
// in µSv/h in ERS 2.0 and in µSv/s in ERS 1.0 (the demo data's own readme).
#include <string>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

// "PZ", or "PZ" with a coordinate system's id ("PZ1"): the altitude above sea level.
bool IsAltitudeKey(std::string_view key) {
  if (key.substr(0, 2) != "PZ") return false;
  for (const char c : key.substr(2)) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

constexpr double kSecondsPerHour = 3600;

// The values of one record that a measurement needs, by their keys, in either version.
struct ErsValues {
  std::string_view date, clock, date_time, north, east, altitude, dose;

  void Take(std::string_view key, std::string_view value) {
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
    else if (IsAltitudeKey(key))
      altitude = value;
    else if (key == "DHSR")
      dose = value;
  }

  // The measurement, or the reason there is none: fields missing (or the record not
  // well_formed), numbers (a decimal comma too, as files made under a comma locale write them),
  // then the time that time_of reads. DHSR is multiplied by dose_factor into µSv/h.
  template <class TimeOf>
  void Read(bool well_formed, const TimeOf& time_of, double dose_factor,
            RecordResult& result) const {
    ReadDecimalPosition(north, east, result, /*decimal_comma=*/true);
    if (!well_formed || north.empty() || east.empty() || dose.empty() ||
        (date_time.empty() && (date.empty() || clock.empty()))) {
      result.reason = RejectReason::kFields;
      return;
    }
    const std::optional<double> dose_rate = CommaNumberIn(dose);
    std::optional<double> height;
    if (!altitude.empty()) height = CommaNumberIn(altitude);
    if (!result.position_read || !dose_rate || (!altitude.empty() && !height)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<std::int64_t> time = time_of(*this);
    if (!time) {
      result.reason = RejectReason::kTime;
      return;
    }
    Measurement& m = result.measurement;
    m.time = *time;
    m.utc = true;
    m.dose_usvh = *dose_rate * dose_factor;
    m.has_altitude = height.has_value();
    m.altitude = height.value_or(0);
    CheckPosition(result);
  }
};

// ERS 1.0: records start "N " and hold blank-separated KEY VALUE pairs, texts in double quotes:
// N "demo_point-0001" CD "2015-04-1Z" CT "12-12-12Z" PE 14.960050 PN 38.383420 PH 49 DHSR 1.9e-05
// Dates and times end in Z (UTC); their parts may have one digit.
class Ers1Parser : public CopyableLineParser<Ers1Parser> {
 public:
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line.substr(first, 2) != "N ") return;
    ErsValues values;
    const bool well_formed = Tokens(line.substr(first)) && tokens_.size() % 2 == 0;
    for (std::size_t i = 0; well_formed && i + 1 < tokens_.size(); i += 2)
      values.Take(tokens_[i], tokens_[i + 1]);
    values.date_time = {};  // not a key of this version
    values.Read(
        well_formed,
        [](const ErsValues& v) -> std::optional<std::int64_t> {
          const std::optional<std::string> date = Padded(v.date, '-', '-');
          const std::optional<std::string> clock = Padded(v.clock, '-', ':');
          if (!date || !clock) return std::nullopt;
          return ParseDateAndTime(*date, *clock);
        },
        kSecondsPerHour, results.emplace_back());
  }

 private:
  // Splits text at blanks into tokens_, a text in double quotes one token without them. False
  // for a quote that is not closed.
  bool Tokens(std::string_view text) {
    tokens_.clear();
    std::size_t at = 0;
    while (true) {
      at = text.find_first_not_of(" \t\r", at);
      if (at == std::string_view::npos) return true;
      if (text[at] == '"') {
        const std::size_t end = text.find('"', at + 1);
        if (end == std::string_view::npos) return false;
        tokens_.push_back(text.substr(at + 1, end - at - 1));
        at = end + 1;
      } else {
        const std::size_t end = std::min(text.find_first_of(" \t\r", at), text.size());
        tokens_.push_back(text.substr(at, end - at));
        at = end;
      }
    }
  }

  // "2015-04-1Z" as "2015-04-01", "9-12-5Z" as "09:12:05": three parts of digits split by
  // separator, the last ending in Z; joined by joiner, a part of one digit padded to two.
  static std::optional<std::string> Padded(std::string_view text, char separator, char joiner) {
    if (text.empty() || text.back() != 'Z') return std::nullopt;
    text.remove_suffix(1);
    std::string out;
    for (int part = 0; part < 3; ++part) {
      const std::size_t end = part < 2 ? text.find(separator) : text.size();
      if (end == std::string_view::npos || end == 0) return std::nullopt;
      const std::string_view digits = text.substr(0, end);
      if (digits.find_first_not_of("0123456789") != std::string_view::npos) return std::nullopt;
      if (part > 0) {
        if (digits.size() > 2) return std::nullopt;
        out += joiner;
      }
      if (digits.size() == 1) out += '0';
      out += digits;
      text = part < 2 ? text.substr(end + 1) : std::string_view();
    }
    return out;
  }

  std::vector<std::string_view> tokens_;
};

// ERS 2.0: records start "PA " and hold ";"-separated "KEY value" pairs. Other lines are the
// header.
class ErsParser : public CopyableLineParser<ErsParser> {
 public:
  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos || line.substr(first, 3) != "PA ") return;
    SplitFields(line.substr(first), ';', false, fields_);
    ErsValues values;
    for (const std::string_view pair : fields_) {
      const std::size_t blank = pair.find(' ');
      std::string_view value =
          blank == std::string_view::npos ? std::string_view() : pair.substr(blank + 1);
      while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
      values.Take(pair.substr(0, blank), value);
    }
    values.Read(
        true,
        [](const ErsValues& v) {
          return v.date_time.empty() ? ParseDateAndTime(v.date, v.clock)
                                     : ParseCivilTime(v.date_time);
        },
        1, results.emplace_back());
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

// An "N " record of KEY VALUE pairs with a position.
int ToldByVersion1(const LogHead& head) {
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    const std::string_view line = head.lines[i];
    if (StartsWith(line, "N ") && line.find(" PN ") != std::string_view::npos &&
        line.find(" PE ") != std::string_view::npos)
      return static_cast<int>(i);
  }
  return -1;
}

std::unique_ptr<LineParser> Version1Parser(const ReaderOptions&) {
  return std::make_unique<Ers1Parser>();
}

}  // namespace

extern const FormatRow kErsFormat = {
    "ers", "ERS 2.0, the European radiometric exchange format (DHSR µSv/h; decimal commas too)",
    ToldBy, Parser, OpenLines<Parser>};

extern const FormatRow kErs1Format = {"ers", "ERS 1.0 (DHSR µSv/s; N records of KEY VALUE pairs)",
                                      ToldByVersion1, Version1Parser, OpenLines<Version1Parser>};

}  // namespace dosemap
