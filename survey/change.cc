#include "survey/change.h"

#include <algorithm>
#include <cmath>

#include "survey/statistics.h"

namespace dosemap {
namespace {

// The median of values (the mean of the middle two for an even count); NaN for none.
double Median(std::vector<double>& values) {
  if (values.empty()) return std::numeric_limits<double>::quiet_NaN();
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
  const double upper = values[mid];
  if (values.size() % 2 == 1) return upper;
  return (*std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid)) +
          upper) /
         2;
}

}  // namespace

double DecayRatio(double years, double half_life_years) {
  return std::exp2(-years / half_life_years);
}

int ChangeClassOf(double excess) {
  if (!std::isfinite(excess)) return 0;
  if (excess <= -0.5) return 1;
  if (excess <= -0.2) return 2;
  if (excess < 0.2) return 3;
  if (excess < 0.5) return 4;
  return 5;
}

double ChangeCell::years() const {
  return (std::round(time_mean[1]) - std::round(time_mean[0])) / kSecondsPerYear;
}

CellChange ChangeCell::Change(double half_life_years) const {
  CellChange change;
  change.decay_ratio = DecayRatio(years(), half_life_years);
  const double mean_a = dose_mean(0);
  if (mean_a == 0) return change;
  change.ratio = dose_mean(1) / mean_a;
  change.excess = change.ratio / change.decay_ratio - 1;
  change.change_class = ChangeClassOf(change.excess);
  return change;
}

std::string ChangeFigures::Json() const {
  std::string json = "{\"cells\":" + std::to_string(cells);
  json += ",\"cells_only_a\":" + std::to_string(only_a);
  json += ",\"cells_only_b\":" + std::to_string(only_b);
  json += ",\"median_ratio\":" + ShortestNumber(median_ratio);
  json += ",\"median_decay_ratio\":" + ShortestNumber(median_decay_ratio);
  json += ",\"median_excess\":" + ShortestNumber(median_excess) + "}";
  return json;
}

void ChangeAccumulator::Add(const Measurement& m) {
  bool created = false;
  ChangeCell& cell = cells_.CellFor(geometry_.CellKeyOf(m.latitude, m.longitude, row_), &created);
  const int period = m.time < split_ ? 0 : 1;
  const std::uint32_t n = ++cell.count[period];
  cell.dose_sum[period] += m.dose_usvh;
  // A running mean: a sum of a million times of 1.7e9 s would lose seconds in a double.
  cell.time_mean[period] += (static_cast<double>(m.time) - cell.time_mean[period]) / n;
}

void ChangeAccumulator::ForEachCell(std::uint32_t min_count,
                                    const std::function<void(const ChangeCell&)>& take) {
  for (const ChangeCell& cell : cells_.Sorted()) {
    if (cell.count[0] >= min_count && cell.count[1] >= min_count) take(cell);
  }
}

ChangeFigures ChangeAccumulator::Figures(std::uint32_t min_count) const {
  ChangeFigures figures;
  std::vector<double> ratios, decays, excesses;
  for (const ChangeCell& cell : cells_.cells()) {
    const bool a = cell.count[0] >= min_count, b = cell.count[1] >= min_count;
    if (a && !b) ++figures.only_a;
    if (b && !a) ++figures.only_b;
    if (!a || !b) continue;
    ++figures.cells;
    const CellChange change = cell.Change(half_life_years_);
    if (!std::isfinite(change.ratio)) continue;
    ratios.push_back(change.ratio);
    decays.push_back(change.decay_ratio);
    excesses.push_back(change.excess);
  }
  figures.median_ratio = Median(ratios);
  figures.median_decay_ratio = Median(decays);
  figures.median_excess = Median(excesses);
  return figures;
}

}  // namespace dosemap
