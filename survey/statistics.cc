#include "survey/statistics.h"

#include <charconv>
#include <cmath>

#include "survey/civil_time.h"
#include "survey/privacy.h"

namespace dosemap {
namespace {

// Points further apart in time are separate stretches: the meter was off or the car parked.
constexpr std::int64_t kMaxIntegrationGapSeconds = 600;

}  // namespace

std::string ShortestNumber(double x) {
  if (!std::isfinite(x)) return "null";
  char text[32];
  const auto result = std::to_chars(text, text + sizeof text, x);
  return std::string(text, result.ptr);
}

void DriveStatistics::StartLog() { has_previous_ = false; }

void DriveStatistics::Reject(RejectReason reason) {
  ++read_;
  ++counts_[static_cast<int>(reason)];
}

void DriveStatistics::Keep(const Measurement& m, int dose_class) {
  ++read_;
  ++kept_;
  ++per_class_[dose_class - 1];
  dose_sum_ += m.dose_usvh;
  if (kept_ == 1 || m.dose_usvh > dose_max_) {
    dose_max_ = m.dose_usvh;
    highest_ = m;
  }
  if (kept_ == 1 || m.time < first_time_) first_time_ = m.time;
  if (kept_ == 1 || m.time > last_time_) last_time_ = m.time;
  times_utc_ = kept_ == 1 ? m.utc : times_utc_ && m.utc;
  if (has_previous_) {
    distance_m_ += GreatCircleMetres(previous_.latitude, previous_.longitude, m.latitude, m.longitude);
    const std::int64_t seconds = m.time - previous_.time;
    if (seconds > 0 && seconds <= kMaxIntegrationGapSeconds) {
      dose_total_usv_ += (previous_.dose_usvh + m.dose_usvh) / 2 * static_cast<double>(seconds) / 3600;
    }
  }
  previous_ = m;
  has_previous_ = true;
}

std::string DriveStatistics::Line() const {
  std::string line = "read " + std::to_string(read_) + ", kept " + std::to_string(kept_) + ", rejected " +
                     std::to_string(rejected_total());
  std::string reasons;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || counts_[r] == 0) continue;
    reasons += (reasons.empty() ? "" : ", ") + std::string(ReasonName(reason)) + " " + std::to_string(counts_[r]);
  }
  if (!reasons.empty()) line += " (" + reasons + ")";
  line += ", in privacy zones " + std::to_string(privacy()) + ", per dose class 1-5";
  for (const std::int64_t count : per_class_) line += " " + std::to_string(count);
  if (kept_ == 0) return line + ", no measurement kept";
  line += ", from " + IsoTime(first_time_, times_utc_) + " to " + IsoTime(last_time_, times_utc_);
  line += ", " + ShortestNumber(std::round(distance_km() * 1000) / 1000) + " km";
  line += ", highest " + ShortestNumber(dose_max_) + " µSv/h at " + IsoTime(highest_.time, highest_.utc);
  line += ", mean " + ShortestNumber(dose_mean_usvh()) + " µSv/h, total dose " + ShortestNumber(dose_total_usv_) + " µSv";
  return line;
}

std::string DriveStatistics::Json() const {
  std::string json = "{\"read\":" + std::to_string(read_) + ",\"kept\":" + std::to_string(kept_) + ",\"rejected\":{";
  bool first = true;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || counts_[r] == 0) continue;
    json += (first ? "\"" : ",\"") + std::string(ReasonName(reason)) + "\":" + std::to_string(counts_[r]);
    first = false;
  }
  json += "},\"privacy\":" + std::to_string(privacy()) + ",\"per_class\":[";
  for (std::size_t c = 0; c < per_class_.size(); ++c) json += (c ? "," : "") + std::to_string(per_class_[c]);
  json += "]";
  const bool any = kept_ > 0;
  const auto time = [&](std::int64_t t) { return any ? "\"" + IsoTime(t, times_utc_) + "\"" : std::string("null"); };
  const auto number = [&](double x) { return any ? ShortestNumber(x) : std::string("null"); };
  json += ",\"first_time\":" + time(first_time_) + ",\"last_time\":" + time(last_time_);
  json += ",\"duration_s\":" + (any ? std::to_string(last_time_ - first_time_) : std::string("null"));
  json += ",\"distance_km\":" + ShortestNumber(distance_km());
  json += ",\"dose_max_usvh\":" + number(dose_max_) + ",\"dose_mean_usvh\":" + number(dose_mean_usvh());
  json += ",\"dose_total_usv\":" + ShortestNumber(dose_total_usv_) + "}";
  return json;
}

}  // namespace dosemap
