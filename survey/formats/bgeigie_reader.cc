// bGeigie-type logs: "$BNRDD,..*XX" sentences, "#" comments; and the Czech logger's "$CZRA1"
// sentences, built on the same tube with the same fields.
#include <algorithm>
#include <cmath>
#include <span>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {

extern const FormatRow kBgeigieFormat, kCzechFormat;

namespace {

// The sentence kinds that carry a reading, and where their fields are. Each sentence is read by
// its own name, so a log may mix the families.
constexpr std::string_view kBgeigieKinds[] = {"BNRDD", "BNXRDD", "BMRDD", "BGRDD", "BZRDD"};
constexpr std::string_view kCzechKinds[] = {"CZRDD", "CZRA1"};
bool Known(std::string_view kind) {
  for (const std::span<const std::string_view> kinds :
       {std::span<const std::string_view>(kBgeigieKinds),
        std::span<const std::string_view>(kCzechKinds)}) {
    if (std::find(kinds.begin(), kinds.end(), kind) != kinds.end()) return true;
  }
  return false;
}
enum Field {
  kKind,
  kDevice,
  kTime,
  kCpm,
  kCounts5s,
  kTotal,
  kRadiationFlag,
  kLatitude,
  kNorthSouth,
  kLongitude,
  kEastWest,
  kAltitude,
  kGpsFlag,
  kFieldsNeeded
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

unsigned char Xor(std::string_view body, bool skip_quirk_minus) {
  unsigned char sum = 0;
  for (std::size_t i = 0; i < body.size(); ++i) {
    // Some loggers printed the minus of a W or S coordinate after computing the checksum.
    if (skip_quirk_minus && body[i] == '-' && i > 0 && body[i - 1] == ',') continue;
    sum ^= static_cast<unsigned char>(body[i]);
  }
  return sum;
}

// "DDMM.MMMM" (or "DDDMM.MMMM", or fewer degree digits): degrees are what stands before the two
// minute digits that precede the point. A leading minus is ignored: the letter gives the sign.
std::optional<double> DegreesOf(std::string_view text) {
  if (!text.empty() && text.front() == '-') text.remove_prefix(1);
  if (text.empty() || text.front() == '+' || text.front() == '-') return std::nullopt;
  std::size_t point = text.find('.');
  if (point == std::string_view::npos) point = text.size();
  if (point < 2) return std::nullopt;
  for (std::size_t i = 0; i < point; ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  const std::optional<double> minutes = NumberIn(text.substr(point - 2));
  double degrees = 0;
  for (std::size_t i = 0; i + 2 < point; ++i) degrees = degrees * 10 + (text[i] - '0');
  if (!minutes || *minutes < 0 || *minutes >= 60) return std::nullopt;
  return degrees + *minutes / 60;
}

class BgeigieParser : public CopyableLineParser<BgeigieParser> {
 public:
  // Each sentence family takes its own device's factor, in a log that mixes them too.
  explicit BgeigieParser(const ReaderOptions& options)
      : bgeigie_factor_(CpmFactorOf(options, kBgeigieFormat)),
        czech_factor_(CpmFactorOf(options, kCzechFormat)),
        bgeigie_index_(FormatIndexOf(kBgeigieFormat)),
        czech_index_(FormatIndexOf(kCzechFormat)) {}

  void ParseLine(std::string_view line, std::vector<RecordResult>& results) override {
    const std::size_t first = line.find_first_not_of(" \t");
    if (first == std::string_view::npos) return;
    std::size_t dollar = line.find('$');
    if (dollar == std::string_view::npos) {
      // A comment, or not a sentence at all: a record that can't be read.
      if (line[first] != '#') results.emplace_back().reason = RejectReason::kFields;
      return;
    }
    // A line that lost its line end holds several sentences (after a comment, too): each is a
    // record of its own, with its own text.
    const bool several = line.find('$', dollar + 1) != std::string_view::npos || dollar > first;
    while (dollar != std::string_view::npos) {
      const std::size_t next = line.find('$', dollar + 1);
      const std::string_view sentence =
          line.substr(dollar, next == std::string_view::npos ? next : next - dollar);
      RecordResult& result = results.emplace_back();
      ParseSentence(sentence.substr(1), result);
      if (several) result.text = sentence;
      dollar = next;
    }
  }

 private:
  // text: what follows the "$", up to the next "$" or the line end.
  void ParseSentence(std::string_view text, RecordResult& result) {
    const std::size_t star = text.find('*');
    bool checksum_ok = false;
    std::string_view body = text.substr(0, star);
    if (star != std::string_view::npos && text.size() >= star + 3) {
      const int high = HexValue(text[star + 1]);
      const int low = HexValue(text[star + 2]);
      if (high >= 0 && low >= 0) {
        const unsigned char given = static_cast<unsigned char>(high * 16 + low);
        checksum_ok = Xor(body, false) == given || Xor(body, true) == given;
      }
    }
    SplitFields(body, ',', false, fields_);
    ReadPosition(result);
    if (!checksum_ok) {
      result.reason = RejectReason::kChecksum;
      return;
    }
    if (!Known(fields_[kKind]) || fields_.size() < kFieldsNeeded) {
      result.reason = RejectReason::kFields;
      return;
    }
    Measurement& m = result.measurement;
    const std::optional<double> cpm = NumberIn(fields_[kCpm]);
    std::optional<double> altitude;
    if (!fields_[kAltitude].empty()) altitude = NumberIn(fields_[kAltitude]);
    if (!result.position_read || result.sign_unknown || !cpm ||
        (!fields_[kAltitude].empty() && !altitude)) {
      result.reason = RejectReason::kNumber;
      return;
    }
    const std::optional<std::int64_t> time = ParseCivilTime(fields_[kTime]);
    if (!time || fields_[kTime].back() != 'Z') {
      result.reason = RejectReason::kTime;
      return;
    }
    if (fields_[kGpsFlag] == "V") {
      result.reason = RejectReason::kGpsVoid;
      return;
    }
    if (fields_[kRadiationFlag] == "V") {
      result.reason = RejectReason::kRadiationVoid;
      return;
    }
    m.time = *time;
    m.utc = true;
    m.cpm = *cpm;
    m.has_cpm = true;
    const bool czech = std::find(std::begin(kCzechKinds), std::end(kCzechKinds), fields_[kKind]) !=
                       std::end(kCzechKinds);
    const double factor = czech ? czech_factor_ : bgeigie_factor_;
    m.dose_usvh = *cpm / factor;
    m.dose_sigma_usvh = CountingSigma(m.dose_usvh, *cpm, factor);
    m.counted_by = czech ? czech_index_ : bgeigie_index_;
    m.has_altitude = altitude.has_value();
    m.altitude = altitude.value_or(0);
    CheckPosition(result);
  }

  // The position, whatever else is wrong with the sentence, for the privacy zones.
  void ReadPosition(RecordResult& result) {
    if (fields_.size() <= kEastWest) return;
    const std::optional<double> latitude = DegreesOf(fields_[kLatitude]);
    const std::optional<double> longitude = DegreesOf(fields_[kLongitude]);
    if (!latitude || !longitude) return;
    result.position_read = true;
    const std::string_view ns = fields_[kNorthSouth];
    const std::string_view ew = fields_[kEastWest];
    result.sign_unknown = !(ns == "N" || ns == "S") || !(ew == "E" || ew == "W");
    result.measurement.latitude = ns == "S" ? -*latitude : *latitude;
    result.measurement.longitude = ew == "W" ? -*longitude : *longitude;
  }

  double bgeigie_factor_, czech_factor_;
  std::uint8_t bgeigie_index_, czech_index_;
  std::vector<std::string_view> fields_;
};

// The first line that is a sentence of one of kinds.
int FirstSentenceOf(const LogHead& head, std::span<const std::string_view> kinds) {
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    for (const std::string_view kind : kinds) {
      const std::string_view line = head.lines[i];
      if (line.size() > kind.size() + 1 && line[0] == '$' && line.substr(1, kind.size()) == kind &&
          line[kind.size() + 1] == ',') {
        return static_cast<int>(i);
      }
    }
  }
  return -1;
}

int ToldByBgeigie(const LogHead& head) { return FirstSentenceOf(head, kBgeigieKinds); }
int ToldByCzech(const LogHead& head) { return FirstSentenceOf(head, kCzechKinds); }

std::unique_ptr<LineParser> Parser(const ReaderOptions& options) {
  return std::make_unique<BgeigieParser>(options);
}

// A line that lost its line ends is read sentence by sentence, however long.
std::unique_ptr<RecordSource> Open(LineReader& reader, const ReaderOptions& options) {
  reader.SplitLongLinesBefore('$');
  return std::make_unique<LineSource>(reader, Parser(options));
}

}  // namespace

extern const FormatRow kBgeigieFormat = {
    "bgeigie",
    "bGeigie-type $BNRDD, $BNXRDD, $BMRDD, $BGRDD and $BZRDD sentences (cpm / --cpm-factor)",
    ToldByBgeigie, Parser, Open, false,
    // The bGeigie Nano's LND 7317 tube: 334 cpm per µSv/h (Safecast's bGeigie documentation, and
    // the factor the measurement database converts its uploads with).
    334, true};

extern const FormatRow kCzechFormat = {
    "czechrad",
    "the Czech logger's $CZRDD and $CZRA1 sentences, bGeigie fields (cpm / --cpm-factor)",
    ToldByCzech, Parser, Open, false,
    // The logger's own documentation (CzechRad, DATA/readme.md, "Dose rate calculation"): its
    // calibration coefficient is 1/328.5 µSv/h per cpm.
    328.5, true};

}  // namespace dosemap
