#ifndef DOSEMAP_SURVEY_CHANGE_H_
#define DOSEMAP_SURVEY_CHANGE_H_

#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "survey/grid.h"
#include "survey/measurement.h"

namespace dosemap {

// Caesium-137's half-life in years, the default of --half-life.
inline constexpr double kCaesium137HalfLifeYears = 30.08;
inline constexpr double kSecondsPerYear = 365.25 * 86400;

// The share of a source left after years: 2^(-years / half-life).
double DecayRatio(double years, double half_life_years);

// How a cell changed between two periods, beyond the decay the time between them explains.
struct CellChange {
  double ratio = std::numeric_limits<double>::quiet_NaN();   // mean B / mean A; NaN: mean A 0
  double decay_ratio = 0;                                    // 2^(-Δt / half-life)
  double excess = std::numeric_limits<double>::quiet_NaN();  // ratio / decay_ratio - 1
  int change_class = 0;  // 1 (fell far faster than decay) to 5 (rose); 0: no ratio
};

// The change classes' colours (ColorBrewer's colour-blind-safe RdBu), by class; 0 is grey.
inline constexpr const char* kChangeColours[6] = {"#bdbdbd", "#0571b0", "#92c5de",
                                                  "#f7f7f7", "#f4a582", "#ca0020"};
// The class of an excess: 1 for -0.5 and below, 2 to -0.2, 3 within ±0.2, 4 to 0.5, 5 beyond.
int ChangeClassOf(double excess);

// One cell of a comparison: the measurements before the split time (A) and from it on (B).
struct ChangeCell {
  std::uint64_t key;
  std::uint32_t count[2];
  double dose_sum[2];
  double time_mean[2];  // seconds since 1970, times without a zone taken as UTC
  double dose_mean(int period) const { return dose_sum[period] / count[period]; }
  // time_b - time_a in years, of the means rounded to the second as they are written.
  double years() const;
  CellChange Change(double half_life_years) const;
};
static_assert(sizeof(ChangeCell) <= 48);

// The run's figures of a comparison: the summary's "compare".
struct ChangeFigures {
  std::int64_t cells = 0, only_a = 0, only_b = 0;
  double median_ratio = std::numeric_limits<double>::quiet_NaN();
  double median_decay_ratio = std::numeric_limits<double>::quiet_NaN();
  double median_excess = std::numeric_limits<double>::quiet_NaN();
  // The summary's "compare" object.
  std::string Json() const;
};

// Every kept measurement into its cell and its period. Memory: 48 bytes a cell and a 4-byte
// index slot, less than a dose grid's.
class ChangeAccumulator {
 public:
  ChangeAccumulator(double size_m, std::int64_t split, double half_life_years)
      : geometry_(size_m), split_(split), half_life_years_(half_life_years) {}
  void Add(const Measurement& m);
  // The cells of at least min_count measurements in both periods, south to north, then west to
  // east. Sorts the cells in place; Add may not follow.
  void ForEachCell(std::uint32_t min_count, const std::function<void(const ChangeCell&)>& take);
  ChangeFigures Figures(std::uint32_t min_count) const;
  const GridGeometry& geometry() const { return geometry_; }
  double half_life_years() const { return half_life_years_; }

 private:
  GridGeometry geometry_;
  GridGeometry::RowMemo row_;
  std::int64_t split_;
  double half_life_years_;
  CellTable<ChangeCell> cells_;
};

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_CHANGE_H_
