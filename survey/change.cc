#include "survey/change.h"

#include <algorithm>
#include <cmath>

#include "survey/statistics.h"

namespace dosemap {
namespace {

std::uint64_t Spread(std::uint64_t x) {  // SplitMix64's finaliser
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

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

void ChangeAccumulator::Grow() {
  std::vector<std::uint32_t> index(index_.empty() ? 1024 : index_.size() * 2);
  const std::size_t mask = index.size() - 1;
  for (std::size_t n = 0; n < cells_.size(); ++n) {
    std::size_t at = Spread(cells_[n].key) & mask;
    while (index[at] != 0) at = (at + 1) & mask;
    index[at] = static_cast<std::uint32_t>(n + 1);
  }
  index_.swap(index);
}

ChangeCell& ChangeAccumulator::CellFor(std::uint64_t key) {
  if ((cells_.size() + 1) * 4 > index_.size() * 3) Grow();
  const std::size_t mask = index_.size() - 1;
  std::size_t at = Spread(key) & mask;
  while (index_[at] != 0) {
    ChangeCell& cell = cells_[index_[at] - 1];
    if (cell.key == key) return cell;
    at = (at + 1) & mask;
  }
  index_[at] = static_cast<std::uint32_t>(cells_.size() + 1);
  ChangeCell& cell = cells_.emplace_back();
  cell = {};
  cell.key = key;
  return cell;
}

void ChangeAccumulator::Add(const Measurement& m) {
  const std::int64_t row = geometry_.RowOf(m.latitude);
  ChangeCell& cell = CellFor(GridGeometry::KeyOf(row, geometry_.ColumnOf(row, m.longitude)));
  const int period = m.time < split_ ? 0 : 1;
  const std::uint32_t n = ++cell.count[period];
  cell.dose_sum[period] += m.dose_usvh;
  // A running mean: a sum of a million times of 1.7e9 s would lose seconds in a double.
  cell.time_mean[period] += (static_cast<double>(m.time) - cell.time_mean[period]) / n;
}

void ChangeAccumulator::ForEachCell(std::uint32_t min_count,
                                    const std::function<void(const ChangeCell&)>& take) {
  if (!sorted_) {
    std::vector<std::uint32_t>().swap(index_);  // no more lookups: the index's memory goes
    std::sort(cells_.begin(), cells_.end(),
              [](const ChangeCell& a, const ChangeCell& b) { return a.key < b.key; });
    sorted_ = true;
  }
  for (const ChangeCell& cell : cells_) {
    if (cell.count[0] >= min_count && cell.count[1] >= min_count) take(cell);
  }
}

ChangeFigures ChangeAccumulator::Figures(std::uint32_t min_count) const {
  ChangeFigures figures;
  std::vector<double> ratios, decays, excesses;
  for (const ChangeCell& cell : cells_) {
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
