// What all readers share, the format detection and the window's own log.
#include "survey/readers.h"

#include <algorithm>
#include <cmath>

#include "survey/civil_time.h"
#include "textfile/number_text.h"

namespace dosemap {

std::string_view ReasonName(RejectReason reason) {
  constexpr std::string_view kNames[kRejectReasonCount] = {
      "none",     "checksum",       "fields",        "number",         "time",
      "gps_void", "radiation_void", "zero_position", "position_range", "privacy"};
  return kNames[static_cast<int>(reason)];
}

std::optional<LogFormat> FormatByName(std::string_view name) {
  if (name == "own") return LogFormat::kOwn;
  if (name == "bgeigie") return LogFormat::kBgeigie;
  if (name == "radiacode") return LogFormat::kRadiacode;
  if (name == "safecast") return LogFormat::kSafecast;
  if (name == "ers") return LogFormat::kErs;
  return std::nullopt;
}

std::string_view FormatName(LogFormat format) {
  switch (format) {
    case LogFormat::kOwn:
      return "own";
    case LogFormat::kBgeigie:
      return "bgeigie";
    case LogFormat::kRadiacode:
    case LogFormat::kRadiacodeJson:
      return "radiacode";
    case LogFormat::kSafecast:
      return "safecast";
    case LogFormat::kErs:
      return "ers";
  }
  return "";
}

void SplitFields(std::string_view text, char separator, bool quotes,
                 std::vector<std::string_view>& fields) {
  fields.clear();
  std::size_t at = 0;
  for (;;) {
    while (at < text.size() && IsBlank(text[at]) && text[at] != separator) ++at;
    std::string_view field;
    std::size_t end;
    if (quotes && at < text.size() && text[at] == '"') {
      std::size_t close = at + 1;
      for (;;) {
        close = text.find('"', close);
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != '"')
          break;
        close += 2;
      }
      if (close == std::string_view::npos) close = text.size();
      field = text.substr(at + 1, close - at - 1);
      end = text.find(separator, std::min(close, text.size()));
    } else {
      end = text.find(separator, at);
      field = text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
      while (!field.empty() && IsBlank(field.back())) field.remove_suffix(1);
    }
    fields.push_back(field);
    if (end == std::string_view::npos) return;
    at = end + 1;
  }
}

std::optional<double> NumberIn(std::string_view text) {
  const ParsedNumber parsed = ParseNumber(text);
  if (parsed.status != NumberStatus::kNumber || !std::isfinite(parsed.value)) return std::nullopt;
  return parsed.value;
}

std::optional<double> CommaNumberIn(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) return NumberIn(text);
  if (text.find_first_of(",.", comma + 1) != std::string_view::npos ||
      text.find('.') != std::string_view::npos) {
    return std::nullopt;
  }
  std::string point(text);
  point[comma] = '.';
  return NumberIn(point);
}

void NamedColumns::ReadHeader(const std::vector<std::string_view>& header) {
  for (Column& column : columns_) {
    const auto at = std::find(header.begin(), header.end(), column.name);
    column.index = at == header.end() ? -1 : static_cast<int>(at - header.begin());
  }
}

std::optional<std::string_view> NamedColumns::Field(const std::vector<std::string_view>& fields,
                                                    int column) const {
  const int index = columns_[column].index;
  if (index < 0 || static_cast<std::size_t>(index) >= fields.size()) return std::nullopt;
  return fields[index];
}

void ReadDecimalPosition(std::optional<std::string_view> latitude_text,
                         std::optional<std::string_view> longitude_text, RecordResult& result,
                         bool decimal_comma) {
  if (!latitude_text || !longitude_text) return;
  const auto number = decimal_comma ? CommaNumberIn : NumberIn;
  const std::optional<double> latitude = number(*latitude_text),
                              longitude = number(*longitude_text);
  if (!latitude || !longitude) return;
  result.position_read = true;
  result.measurement.latitude = *latitude;
  result.measurement.longitude = *longitude;
}

void CheckPosition(RecordResult& result) {
  if (result.reason != RejectReason::kNone) return;
  const Measurement& m = result.measurement;
  if (!std::isfinite(m.dose_usvh) || (m.has_cpm && !std::isfinite(m.cpm)) ||
      (m.has_altitude && !std::isfinite(m.altitude))) {
    result.reason = RejectReason::kNumber;  // a count rate of 1e307 cps is no number once in cpm
  } else if (m.latitude == 0 && m.longitude == 0) {
    result.reason = RejectReason::kZeroPosition;
  } else if (!(m.latitude >= -90 && m.latitude <= 90 && m.longitude >= -180 &&
               m.longitude <= 180)) {
    result.reason = RejectReason::kPositionRange;
  }
}

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "dddd/dd/dd" or "dddd-dd-dd" at the start.
bool StartsWithDate(std::string_view line) {
  if (line.size() < 10) return false;
  for (const int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!IsDigit(line[i])) return false;
  }
  return (line[4] == '/' || line[4] == '-') && line[7] == line[4];
}

// The window's own log: a header line, then timestamp, auxiliary field, cpm, µSv/h, latitude,
// longitude, altitude.
class OwnParser : public LineParser {
 public:
  explicit OwnParser(const ReaderOptions& options) : options_(options) {}

  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (!seen_header_) {
      seen_header_ = true;
      return;
    }
    if (line.find_first_not_of(" \t") == std::string_view::npos) return;
    RecordResult& result = results.emplace_back();
    Measurement& m = result.measurement;
    SplitFields(line, ',', true, fields_);
    // The position first: privacy applies to any line whose position can be read.
    if (fields_.size() >= 6) ReadDecimalPosition(fields_[4], fields_[5], result);
    if (fields_.size() != 7) {
      result.reason = RejectReason::kFields;
      return;
    }
    const std::optional<double> dose = NumberIn(fields_[3]);
    const std::optional<double> altitude = NumberIn(fields_[6]);
    std::optional<double> cpm;
    if (!fields_[2].empty()) cpm = NumberIn(fields_[2]);
    if (!result.position_read || !dose || !altitude || (!fields_[2].empty() && !cpm)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<std::int64_t> time = ParseCivilTime(fields_[0]);
    // A local time with no zone: a zone in the text itself would be read as an offset.
    if (!time || fields_[0].size() != 19) {
      result.reason = RejectReason::kTime;
      return;
    }
    m.time = *time;
    m.utc = false;
    if (options_.utc_offset) {
      m.time -= *options_.utc_offset;
      m.utc = true;
    }
    m.dose_usvh = *dose;
    m.altitude = *altitude;
    m.has_altitude = true;
    m.has_cpm = cpm.has_value();
    m.cpm = cpm.value_or(0);
    CheckPosition(result);
  }

 private:
  ReaderOptions options_;
  bool seen_header_ = false;
  std::vector<std::string_view> fields_;
};

}  // namespace

std::unique_ptr<LineParser> MakeBgeigieParser(const ReaderOptions& options);
std::unique_ptr<LineParser> MakeRadiacodeParser(const ReaderOptions& options);
std::unique_ptr<LineParser> MakeSafecastParser(const ReaderOptions& options);
std::unique_ptr<LineParser> MakeErsParser(const ReaderOptions& options);

std::unique_ptr<LineParser> MakeLineParser(LogFormat format, const ReaderOptions& options) {
  switch (format) {
    case LogFormat::kOwn:
      return std::make_unique<OwnParser>(options);
    case LogFormat::kBgeigie:
      return MakeBgeigieParser(options);
    case LogFormat::kRadiacode:
      return MakeRadiacodeParser(options);
    case LogFormat::kSafecast:
      return MakeSafecastParser(options);
    case LogFormat::kErs:
      return MakeErsParser(options);
    case LogFormat::kRadiacodeJson:
      break;
  }
  return nullptr;
}

std::optional<LogFormat> DetectFormat(std::string_view head) {
  if (StartsWith(head, "\xEF\xBB\xBF")) head.remove_prefix(3);  // a byte order mark
  const std::size_t first = head.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return std::nullopt;
  if (head[first] == '{') return LogFormat::kRadiacodeJson;
  std::string_view own_header;
  int lines = 0;
  while (!head.empty() && lines < 200) {
    const std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    ++lines;
    if (StartsWith(line, "Track:") || StartsWith(line, "Timestamp\tTime\t"))
      return LogFormat::kRadiacode;
    if (StartsWith(line, "$BNRDD,") || StartsWith(line, "$BNXRDD,") ||
        StartsWith(line, "$BMRDD,") || StartsWith(line, "$BGRDD,")) {
      return LogFormat::kBgeigie;
    }
    if (StartsWith(line, "Captured Time,")) return LogFormat::kSafecast;
    if (StartsWith(line, "PA ") && line.find(';') != std::string_view::npos) return LogFormat::kErs;
    if (lines == 1 && std::count(line.begin(), line.end(), ',') == 6) {
      own_header = line;
      continue;
    }
    if (!own_header.empty() && lines == 2 && StartsWithDate(line)) return LogFormat::kOwn;
  }
  return std::nullopt;
}

}  // namespace dosemap
