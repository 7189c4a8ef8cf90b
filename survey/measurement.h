#ifndef DOSEMAP_SURVEY_MEASUREMENT_H_
#define DOSEMAP_SURVEY_MEASUREMENT_H_

#include <cstdint>
#include <limits>
#include <string_view>

namespace dosemap {

// Why a line of a log gives no measurement. kPrivacy is not a rejection: such a line is counted
// and written nowhere.
enum class RejectReason {
  kNone,
  kChecksum,       // a sentence whose checksum is wrong or missing
  kFields,         // too few or too many fields, or a sentence of another kind
  kNumber,         // a number, coordinate or hemisphere that does not parse
  kTime,           // a time that does not parse
  kGpsVoid,        // the receiver had no fix
  kRadiationVoid,  // the counter flagged its reading invalid
  kZeroPosition,   // exactly 0,0: a receiver's placeholder
  kPositionRange,  // latitude beyond ±90 or longitude beyond ±180
  kAccuracy,       // the receiver's reported accuracy is worse than the limit
  kDuplicate,      // the time, position and dose of a record read before in the run
  kGpsJump,        // a lone position thrown off the track and back
  kPrivacy,        // inside one of the user's zones (or the own log's fixed rectangle)
};
inline constexpr int kRejectReasonCount = 13;

// The reason's name as the rejects file and the summary spell it: "checksum", "gps_void".
std::string_view ReasonName(RejectReason reason);
// The reason as a Japanese reader is told it (UTF-8); empty for kNone and kPrivacy.
std::string_view ReasonNameJa(RejectReason reason);

// One normalised measurement of any format.
struct Measurement {
  std::int64_t time = 0;  // seconds since 1970-01-01T00:00:00 on the log's clock
  bool utc = true;        // false: a local time with no zone (the own log without --utc-offset)
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  bool has_altitude = false;
  double dose_usvh = 0;
  double cpm = 0;
  bool has_cpm = false;
  double accuracy_m = 0;  // the receiver's horizontal accuracy, when the log gives one
  bool has_accuracy = false;
  // The dose was converted from cpm with the factor of the format at FormatIndexOf - 1; 0: the
  // log gave the dose.
  std::uint8_t counted_by = 0;
  // The counting uncertainty (one standard deviation) of a dose converted from a count; NaN for a
  // dose the log gave.
  double dose_sigma_usvh = std::numeric_limits<double>::quiet_NaN();
  int log = 0;  // which of the run's logs, from 0
  // Which record of its line, from 0: a line that lost its line ends holds several.
  std::uint32_t part = 0;
  long line = 0;  // the line it came from, from 1 (for a JSON track: the marker's index, from 1)
};

// What a reader makes of one record: a measurement, or the reason it is rejected. A rejected
// record still carries its position when that could be read, so that privacy zones apply to it.
struct RecordResult {
  RejectReason reason = RejectReason::kNone;
  Measurement measurement;
  bool position_read = false;
  bool sign_unknown = false;  // the hemisphere letters were bad: either sign may be the true one
  // Read right and not private, but of a time outside the run's period: neither kept nor rejected.
  bool outside_period = false;
  // The record's own text when its line holds several records (a view into the line); empty when
  // the record is the whole line.
  std::string_view text;
  // Set by the run's checks: metres from the log's record that passed them last, when this one
  // passes too (NaN otherwise). Worked out where the log is read, for the figures.
  double metres_from_passed = std::numeric_limits<double>::quiet_NaN();
  // The duplicate check's fingerprint of the measurement, when worked out where the record was
  // parsed; 0: not worked out.
  std::uint64_t fingerprint = 0;
};

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_MEASUREMENT_H_
