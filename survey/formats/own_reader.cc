// The window's own log: a header line, then timestamp, auxiliary field, cpm, µSv/h, latitude,
// longitude, altitude.
#include <algorithm>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "dddd/dd/dd" or "dddd-dd-dd" at the start.
bool StartsWithDate(std::string_view line) {
  if (line.size() < 10) return false;
  for (const int i : {0, 1, 2, 3, 5, 6, 8, 9}) {
    if (!IsDigit(line[i])) return false;
  }
  return (line[4] == '/' || line[4] == '-') && line[7] == line[4];
}

class OwnParser : public CopyableLineParser<OwnParser> {
 public:
  std::int64_t headers_read() const override { return headers_; }
  explicit OwnParser(const ReaderOptions& options) : options_(options) {}

  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    if (!seen_header_) {
      seen_header_ = true;
      ++headers_;
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
  std::int64_t headers_ = 0;
  std::vector<std::string_view> fields_;
};

// Seven fields in the header, a date starting the next line.
int ToldBy(const LogHead& head) {
  if (head.lines.size() < 2 || std::count(head.lines[0].begin(), head.lines[0].end(), ',') != 6)
    return -1;
  return StartsWithDate(head.lines[1]) ? 1 : -1;
}

std::unique_ptr<LineParser> Parser(const ReaderOptions& options) {
  return std::make_unique<OwnParser>(options);
}

}  // namespace

extern const FormatRow kOwnFormat = {
    "own",
    "the window's own CSV log (local times; its fixed rectangle is kept off the maps)",
    ToldBy,
    Parser,
    OpenLines<Parser>,
    /*own_rectangle=*/true};

}  // namespace dosemap
