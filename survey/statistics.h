#ifndef DOSEMAP_SURVEY_STATISTICS_H_
#define DOSEMAP_SURVEY_STATISTICS_H_

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

#include "survey/measurement.h"

namespace dosemap {

struct HotspotResult;
struct ChangeFigures;

// The figures of a drive, counted as its records pass.
class DriveStatistics {
 public:
  // Consecutive points (for distance and total dose) are the kept points of one log.
  void StartLog();
  // metres: from the measurement kept before, when known already (NaN: worked out here).
  void Keep(const Measurement& m, int dose_class,
            double metres = std::numeric_limits<double>::quiet_NaN());
  void Reject(RejectReason reason);

  std::int64_t read() const { return read_; }
  std::int64_t kept() const { return kept_; }
  std::int64_t privacy() const { return counts_[static_cast<int>(RejectReason::kPrivacy)]; }
  std::int64_t rejected(RejectReason reason) const { return counts_[static_cast<int>(reason)]; }
  std::int64_t rejected_total() const { return read_ - kept_ - privacy() - outside_period_; }
  // Records outside the run's period (--since, --until): read, neither kept nor rejected.
  void CountOutsidePeriod() { ++read_, ++outside_period_; }
  std::int64_t outside_period() const { return outside_period_; }
  // The summary names the records outside the period only when a period was given.
  void set_period_given() { period_given_ = true; }
  // Kept measurements beyond the tiles' reach (Web Mercator's ±85.0511°), when the run writes
  // tiles; -1: it writes none, and the summary leaves the figure out.
  std::int64_t outside_tiles() const { return outside_tiles_; }
  void set_outside_tiles(std::int64_t count) { outside_tiles_ = count; }
  const std::array<std::int64_t, 5>& per_class() const { return per_class_; }
  double distance_km() const { return distance_m_ / 1000; }
  double dose_total_usv() const { return dose_total_usv_; }
  double dose_max_usvh() const { return dose_max_; }
  double dose_mean_usvh() const { return kept_ == 0 ? 0 : dose_sum_ / static_cast<double>(kept_); }
  // The kept point of the highest dose (the first of equals).
  const Measurement& highest() const { return highest_; }
  std::int64_t first_time() const { return first_time_; }
  std::int64_t last_time() const { return last_time_; }
  bool times_utc() const { return times_utc_; }
  // The grid's cells written, or -1 without a grid.
  std::int64_t cells() const { return cells_; }
  void set_cells(std::int64_t cells) { cells_ = cells; }
  // The files of the run: read, and passed over in a folder as of no known format.
  std::int64_t files_read() const { return files_read_; }
  std::int64_t files_skipped() const { return files_skipped_; }
  void set_files(std::int64_t read, std::int64_t skipped) {
    files_read_ = read, files_skipped_ = skipped;
  }

  // The factor each counting format converts with, by Measurement::counted_by, for the summary.
  void SetCpmFactor(std::uint8_t counted_by, std::string_view format, double factor);

  // The run's hotspots, found when it is over; null: not looked for (--no-hotspots).
  void set_hotspots(std::shared_ptr<const HotspotResult> hotspots) {
    hotspots_ = std::move(hotspots);
  }
  const HotspotResult* hotspots() const { return hotspots_.get(); }
  // The figures of a comparison (--compare); null: none.
  void set_compare(std::shared_ptr<const ChangeFigures> compare) { compare_ = std::move(compare); }
  const ChangeFigures* compare() const { return compare_.get(); }

  // "--summary" text: one line; doses and distances to three significant digits.
  std::string Line() const;
  // "--summary=json" text: one JSON object on one line.
  std::string Json() const;

 private:
  std::int64_t read_ = 0;
  std::int64_t kept_ = 0;
  std::int64_t outside_period_ = 0;
  bool period_given_ = false;
  std::int64_t outside_tiles_ = -1;
  std::array<std::int64_t, kRejectReasonCount> counts_{};
  std::array<std::int64_t, 5> per_class_{};
  double distance_m_ = 0;
  double dose_total_usv_ = 0;
  double dose_max_ = 0;
  double dose_sum_ = 0;
  Measurement highest_;
  std::int64_t first_time_ = 0;
  std::int64_t last_time_ = 0;
  bool times_utc_ = true;
  std::int64_t cells_ = -1;
  std::int64_t files_read_ = 0, files_skipped_ = 0;
  std::shared_ptr<const HotspotResult> hotspots_;
  std::shared_ptr<const ChangeFigures> compare_;
  bool has_previous_ = false;
  Measurement previous_;
  static constexpr int kMaxFormats = 32;
  std::array<std::string_view, kMaxFormats> cpm_formats_{};
  std::array<double, kMaxFormats> cpm_factors_{};
  std::uint32_t counted_ = 0;  // bit counted_by - 1: a kept record was converted from cpm
};

// x to digits significant digits (1 to 17) as people read figures: plain digits, never an
// exponent, thousands grouped ("0.135", "0.00004", "10,160"); an em dash when x is not finite.
std::string FigureText(double x, int digits);
// FigureText(x, 3).
std::string ThreeDigits(double x);

// The shortest text that reads back as the same double ("0.1", "1e+21"), as JSON takes it.
std::string ShortestNumber(double x);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_STATISTICS_H_
