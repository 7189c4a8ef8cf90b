#include "survey/statistics.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "survey/change.h"
#include "survey/civil_time.h"
#include "survey/hotspots.h"
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

std::string FigureText(double x, int digits) {
  if (!std::isfinite(x)) return "\xE2\x80\x94";  // an em dash: no figure
  char text[400];
  // The exponent of x rounded to its digits, then as many decimals as those digits need.
  char* end =
      std::to_chars(text, text + sizeof text, x, std::chars_format::scientific, digits - 1).ptr;
  const std::string_view scientific(text, static_cast<std::size_t>(end - text));
  int exponent = 0;
  const std::size_t e = scientific.find('e');
  std::from_chars(scientific.data() + e + 2, scientific.data() + scientific.size(), exponent);
  if (scientific[e + 1] == '-') exponent = -exponent;
  const int decimals = std::max(0, digits - 1 - exponent);
  double rounded = 0;
  std::from_chars(scientific.data(), scientific.data() + scientific.size(), rounded);
  end = std::to_chars(text, text + sizeof text, rounded, std::chars_format::fixed, decimals).ptr;
  std::string plain(text, end);
  if (plain.find('.') != std::string::npos) {
    while (plain.back() == '0') plain.pop_back();
    if (plain.back() == '.') plain.pop_back();
  }
  if (plain == "-0") plain = "0";
  // Thousands grouped as people read them: 10,160.
  const std::size_t sign = plain[0] == '-' ? 1 : 0;
  std::size_t point = plain.find('.');
  if (point == std::string::npos) point = plain.size();
  for (std::size_t at = point; at > sign + 3; at -= 3) plain.insert(at - 3, 1, ',');
  return plain;
}

std::string ThreeDigits(double x) { return FigureText(x, 3); }

void DriveStatistics::StartLog() { has_previous_ = false; }

void DriveStatistics::SetCpmFactor(std::uint8_t counted_by, std::string_view format,
                                   double factor) {
  if (counted_by == 0 || counted_by > kMaxFormats) return;
  cpm_formats_[counted_by - 1] = format;
  cpm_factors_[counted_by - 1] = factor;
}

void DriveStatistics::Reject(RejectReason reason) {
  ++read_;
  ++counts_[static_cast<int>(reason)];
}

void DriveStatistics::Keep(const Measurement& m, int dose_class, double metres) {
  ++read_;
  ++kept_;
  ++per_class_[dose_class - 1];
  if (m.counted_by > 0 && m.counted_by <= kMaxFormats) counted_ |= 1u << (m.counted_by - 1);
  dose_sum_ += m.dose_usvh;
  if (kept_ == 1 || m.dose_usvh > dose_max_) {
    dose_max_ = m.dose_usvh;
    highest_ = m;
  }
  if (kept_ == 1 || m.time < first_time_) first_time_ = m.time;
  if (kept_ == 1 || m.time > last_time_) last_time_ = m.time;
  times_utc_ = kept_ == 1 ? m.utc : times_utc_ && m.utc;
  if (has_previous_) {
    const std::int64_t seconds = m.time - previous_.time;
    // Across a gap the meter was off or the car parked: the straight line between the stretches
    // was not driven.
    if (seconds >= -kMaxIntegrationGapSeconds && seconds <= kMaxIntegrationGapSeconds) {
      distance_m_ += std::isnan(metres) ? GreatCircleMetres(previous_.latitude, previous_.longitude,
                                                            m.latitude, m.longitude)
                                        : metres;
    }
    if (seconds > 0 && seconds <= kMaxIntegrationGapSeconds) {
      dose_total_usv_ +=
          (previous_.dose_usvh + m.dose_usvh) / 2 * static_cast<double>(seconds) / 3600;
    }
  }
  previous_ = m;
  has_previous_ = true;
}

std::string DriveStatistics::Line() const {
  // Built by appending: GCC 12 warns falsely (-Wrestrict) on chains of literal + string.
  std::string line = "read ";
  line += std::to_string(read_);
  line += ", kept ";
  line += std::to_string(kept_);
  line += ", rejected ";
  line += std::to_string(rejected_total());
  std::string reasons;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || counts_[r] == 0) continue;
    if (!reasons.empty()) reasons += ", ";
    reasons += ReasonName(reason);
    reasons += ' ';
    reasons += std::to_string(counts_[r]);
  }
  if (!reasons.empty()) {
    line += " (";
    line += reasons;
    line += ')';
  }
  line += ", in privacy zones ";
  line += std::to_string(privacy());
  if (period_given_) {
    line += ", outside period ";
    line += std::to_string(outside_period_);
  }
  if (outside_tiles_ >= 0) {
    line += ", outside tiles ";
    line += std::to_string(outside_tiles_);
  }
  line += ", per dose class 1-5";
  for (const std::int64_t count : per_class_) {
    line += ' ';
    line += std::to_string(count);
  }
  // What the line ends with, kept or not: the files and the cells.
  std::string tail = ", files read ";
  tail += std::to_string(files_read_);
  tail += ", skipped ";
  tail += std::to_string(files_skipped_);
  if (cells_ >= 0) {
    tail += ", cells ";
    tail += std::to_string(cells_);
  }
  if (compare_) {
    tail += " (only before ";
    tail += std::to_string(compare_->only_a);
    tail += ", only after ";
    tail += std::to_string(compare_->only_b);
    tail += "), median ratio ";
    tail += ThreeDigits(compare_->median_ratio);
    tail += " against decay ";
    tail += ThreeDigits(compare_->median_decay_ratio);
    tail += ", median excess ";
    tail += ThreeDigits(compare_->median_excess);
  }
  if (hotspots_) {
    std::string found = ", hotspots ";
    found += std::to_string(hotspots_->hotspots.size());
    if (!hotspots_->hotspots.empty()) {
      const Hotspot& first = hotspots_->hotspots.front();
      found += ", highest ";
      found += ThreeDigits(first.dose_usvh);
      found += " \xC2\xB5Sv/h at ";
      found += IsoTime(first.time, first.utc);
    }
    tail.insert(0, found);
  }
  if (kept_ == 0) {
    line += ", no measurement kept";
    return line + tail;
  }
  line += ", from ";
  line += IsoTime(first_time_, times_utc_);
  line += " to ";
  line += IsoTime(last_time_, times_utc_);
  line += ", ";
  line += ThreeDigits(distance_km());
  line += " km, highest ";
  line += ThreeDigits(dose_max_);
  line += " \xC2\xB5Sv/h at ";
  line += IsoTime(highest_.time, highest_.utc);
  line += ", mean ";
  line += ThreeDigits(dose_mean_usvh());
  line += " \xC2\xB5Sv/h, total dose ";
  line += ThreeDigits(dose_total_usv_);
  line += " \xC2\xB5Sv";
  // The conversion the doses from counts took: each format's cpm per µSv/h.
  for (int i = 0, shown = 0; i < kMaxFormats; ++i) {
    if ((counted_ & (1u << i)) == 0) continue;
    line += shown++ == 0 ? ", cpm factor " : " / ";
    line += cpm_formats_[i];
    line += ' ';
    line += ShortestNumber(cpm_factors_[i]);
  }
  return line + tail;
}

std::string DriveStatistics::Json() const {
  std::string json = "{\"read\":";
  json += std::to_string(read_);
  json += ",\"kept\":";
  json += std::to_string(kept_);
  json += ",\"rejected\":{";
  bool first = true;
  for (int r = 1; r < kRejectReasonCount; ++r) {
    const auto reason = static_cast<RejectReason>(r);
    if (reason == RejectReason::kPrivacy || counts_[r] == 0) continue;
    json += first ? "\"" : ",\"";
    json += ReasonName(reason);
    json += "\":";
    json += std::to_string(counts_[r]);
    first = false;
  }
  json += "},\"privacy\":";
  json += std::to_string(privacy());
  if (period_given_) {
    json += ",\"outside_period\":";
    json += std::to_string(outside_period_);
  }
  if (outside_tiles_ >= 0) {
    json += ",\"outside_tiles\":";
    json += std::to_string(outside_tiles_);
  }
  json += ",\"per_class\":[";
  for (std::size_t c = 0; c < per_class_.size(); ++c) {
    if (c > 0) json += ',';
    json += std::to_string(per_class_[c]);
  }
  json += ']';
  const bool any = kept_ > 0;
  const auto field = [&](const char* key, const std::string& value) {
    json += ",\"";
    json += key;
    json += "\":";
    json += any ? value : std::string("null");
  };
  const auto quoted = [](const std::string& text) {
    std::string q = "\"";
    q += text;
    q += '"';
    return q;
  };
  field("first_time", quoted(IsoTime(first_time_, times_utc_)));
  field("last_time", quoted(IsoTime(last_time_, times_utc_)));
  field("duration_s", std::to_string(last_time_ - first_time_));
  json += ",\"distance_km\":";
  json += ShortestNumber(distance_km());
  field("dose_max_usvh", ShortestNumber(dose_max_));
  field("dose_mean_usvh", ShortestNumber(dose_mean_usvh()));
  json += ",\"dose_total_usv\":";
  json += ShortestNumber(dose_total_usv_);
  if (counted_ != 0) {
    // The factor of each format whose kept records were converted from cpm.
    json += ",\"cpm_factor\":{";
    bool first_factor = true;
    for (int i = 0; i < kMaxFormats; ++i) {
      if ((counted_ & (1u << i)) == 0) continue;
      json += first_factor ? "\"" : ",\"";
      json += cpm_formats_[i];
      json += "\":";
      json += ShortestNumber(cpm_factors_[i]);
      first_factor = false;
    }
    json += '}';
  }
  json += ",\"files_read\":";
  json += std::to_string(files_read_);
  json += ",\"files_skipped\":";
  json += std::to_string(files_skipped_);
  if (cells_ >= 0) {
    json += ",\"cells\":";
    json += std::to_string(cells_);
  }
  if (compare_) {
    json += ",\"compare\":";
    json += compare_->Json();
  }
  if (hotspots_) {
    json += ",\"background_usvh\":";
    json += ShortestNumber(hotspots_->background_usvh);
    json += ",\"hotspots\":";
    json += HotspotsJson(*hotspots_);
  }
  json += '}';
  return json;
}

}  // namespace dosemap
