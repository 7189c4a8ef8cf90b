#include "survey/grid.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dosemap {
namespace {

// The mean Earth radius, as the privacy circles use it.
constexpr double kEarthRadiusMetres = 6371008.8;

// std::floor(x) as an integer, for the quotients a finite position gives (far inside the
// integer's range), without a call into the maths library a record.
std::int64_t FloorOf(double x) {
  const auto truncated = static_cast<std::int64_t>(x);
  return static_cast<double>(truncated) > x ? truncated - 1 : truncated;
}

}  // namespace

GridGeometry::GridGeometry(double size_m)
    : size_m_(size_m),
      row_degrees_(size_m / kEarthRadiusMetres * 180 / std::numbers::pi),
      rows_(static_cast<std::int64_t>(std::ceil(180 / row_degrees_))) {}

std::int64_t GridGeometry::RowOf(double latitude) const {
  const std::int64_t row = FloorOf((latitude + 90) / row_degrees_);
  return std::clamp<std::int64_t>(row, 0, rows_ - 1);  // 90° itself: the top row
}

std::int64_t GridGeometry::ColumnsOf(std::int64_t row) const {
  const double middle =
      std::clamp(-90 + (static_cast<double>(row) + 0.5) * row_degrees_, -90.0, 90.0);
  const double columns = std::floor(360 * std::cos(middle * std::numbers::pi / 180) / row_degrees_);
  return std::max<std::int64_t>(1, static_cast<std::int64_t>(columns));
}

std::int64_t GridGeometry::ColumnOf(std::int64_t row, double longitude) const {
  return ColumnIn(ColumnsOf(row), longitude);
}

std::int64_t GridGeometry::ColumnIn(std::int64_t columns, double longitude) {
  if (longitude == 180) longitude = -180;
  const double width = 360.0 / static_cast<double>(columns);
  const std::int64_t column = FloorOf((longitude + 180) / width);
  return std::clamp<std::int64_t>(column, 0, columns - 1);
}

CellEdges GridGeometry::EdgesOf(std::int64_t row, std::int64_t column) const {
  const std::int64_t columns = ColumnsOf(row);
  const double width = 360.0 / static_cast<double>(columns);
  // A product may round past the last edge (180.00000000000006) or short of it: the last column
  // ends on the antimeridian, and no edge lies beyond the poles.
  return {std::min(90.0, -90 + static_cast<double>(row) * row_degrees_),
          std::min(180.0, -180 + static_cast<double>(column) * width),
          std::min(90.0, -90 + static_cast<double>(row + 1) * row_degrees_),
          column + 1 >= columns ? 180.0 : -180 + static_cast<double>(column + 1) * width};
}

void GridAccumulator::Add(const Measurement& m) {
  const std::uint64_t key = geometry_.CellKeyOf(m.latitude, m.longitude, row_);
  if (last_cell_ == nullptr || key != last_key_) {
    bool created = false;
    last_cell_ = &cells_.CellFor(key, &created);
    last_key_ = key;
    if (created) last_cell_->last_log = -1;
  }
  GridCell& cell = *last_cell_;
  if (cell.count == 0 || m.dose_usvh > cell.dose_max) cell.dose_max = m.dose_usvh;
  if (cell.count == 0 || m.dose_usvh < cell.dose_min) cell.dose_min = m.dose_usvh;
  if (cell.count == 0 || m.time < cell.first_time) cell.first_time = m.time, cell.first_utc = m.utc;
  if (cell.count == 0 || m.time > cell.last_time) cell.last_time = m.time, cell.last_utc = m.utc;
  if (cell.count == 0) cell.first_sigma = m.dose_sigma_usvh;
  const double old_mean = cell.count == 0 ? 0 : cell.dose_mean();
  cell.dose_sum += m.dose_usvh;
  ++cell.count;
  cell.dose_m2 += (m.dose_usvh - old_mean) * (m.dose_usvh - cell.dose_mean());
  if (cell.last_log != m.log) ++cell.logs, cell.last_log = m.log;
}

double GridCell::dose_sigma() const {
  if (count == 1) return first_sigma;
  if (dose_max == dose_min) return 0;
  return std::sqrt(std::max(dose_m2, 0.0) / (count - 1)) / std::sqrt(static_cast<double>(count));
}

std::int64_t GridAccumulator::CellsWith(std::uint32_t min_count) const {
  return std::count_if(cells_.cells().begin(), cells_.cells().end(),
                       [&](const GridCell& cell) { return cell.count >= min_count; });
}

void GridAccumulator::ForEachCell(std::uint32_t min_count,
                                  const std::function<void(const GridCell&)>& take) {
  for (const GridCell& cell : cells_.Sorted()) {
    if (cell.count >= min_count) take(cell);
  }
}

}  // namespace dosemap
