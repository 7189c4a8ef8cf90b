#ifndef DOSEMAP_SURVEY_GRID_H_
#define DOSEMAP_SURVEY_GRID_H_

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "survey/measurement.h"

namespace dosemap {

// The sizes --grid takes, in metres.
inline constexpr double kMinGridMetres = 10, kMaxGridMetres = 100000;

// A cell's edges in degrees.
struct CellEdges {
  double south, west, north, east;
};

// The cells of a grid of about size_m metres a side, the same for everyone: rows of equal height
// from the south pole, each cut into as many equal columns as make them near-square at the row's
// middle latitude.
class GridGeometry {
 public:
  explicit GridGeometry(double size_m);
  double size_m() const { return size_m_; }
  std::int64_t RowOf(double latitude) const;
  std::int64_t ColumnsOf(std::int64_t row) const;
  std::int64_t ColumnOf(std::int64_t row, double longitude) const;
  // The last row a point fell in, and its column count: from one point of a drive to the next the
  // row seldom changes, and its column count takes a cosine.
  struct RowMemo {
    std::int64_t row = -1, columns = 0;
  };
  // KeyOf the cell a point falls in, the row's column count taken from memo when it holds it.
  std::uint64_t CellKeyOf(double latitude, double longitude, RowMemo& memo) const {
    const std::int64_t row = RowOf(latitude);
    if (row != memo.row) memo.row = row, memo.columns = ColumnsOf(row);
    return KeyOf(row, ColumnIn(memo.columns, longitude));
  }
  CellEdges EdgesOf(std::int64_t row, std::int64_t column) const;
  // Row and column in one number whose order is rows south to north, then columns west to east.
  static std::uint64_t KeyOf(std::int64_t row, std::int64_t column) {
    return static_cast<std::uint64_t>(row) << 23 | static_cast<std::uint64_t>(column);
  }
  static std::int64_t RowOfKey(std::uint64_t key) { return static_cast<std::int64_t>(key >> 23); }
  static std::int64_t ColumnOfKey(std::uint64_t key) {
    return static_cast<std::int64_t>(key & ((1u << 23) - 1));
  }

 private:
  // The column of longitude in a row of that many columns.
  static std::int64_t ColumnIn(std::int64_t columns, double longitude);

  double size_m_;
  double row_degrees_;
  std::int64_t rows_;
};

// Cells keyed by their place, each made on first sight (zeroed, its key set): held in blocks so
// that growing copies no cell, and found through an open-addressing index of 4 bytes a cell.
template <class Cell>
class CellTable {
 public:
  Cell& CellFor(std::uint64_t key, bool* created) {
    if ((cells_.size() + 1) * 4 > index_.size() * 3) Grow();
    const std::size_t mask = index_.size() - 1;
    std::size_t at = Spread(key) & mask;
    while (index_[at] != 0) {
      Cell& cell = cells_[index_[at] - 1];
      if (cell.key == key) {
        *created = false;
        return cell;
      }
      at = (at + 1) & mask;
    }
    index_[at] = static_cast<std::uint32_t>(cells_.size() + 1);
    Cell& cell = cells_.emplace_back();
    cell = {};
    cell.key = key;
    *created = true;
    return cell;
  }
  // The cells by key, south to north, then west to east. The first call sorts them in place and
  // lets the index go: no cell may be looked up after it.
  const std::deque<Cell>& Sorted() {
    if (!sorted_) {
      std::vector<std::uint32_t>().swap(index_);
      std::sort(cells_.begin(), cells_.end(),
                [](const Cell& a, const Cell& b) { return a.key < b.key; });
      sorted_ = true;
    }
    return cells_;
  }
  const std::deque<Cell>& cells() const { return cells_; }

 private:
  static std::uint64_t Spread(std::uint64_t x) {  // SplitMix64's finaliser
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ULL;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBULL;
    return x ^ (x >> 31);
  }
  void Grow() {
    std::vector<std::uint32_t> index(index_.empty() ? 1024 : index_.size() * 2);
    const std::size_t mask = index.size() - 1;
    for (std::size_t n = 0; n < cells_.size(); ++n) {
      std::size_t at = Spread(cells_[n].key) & mask;
      while (index[at] != 0) at = (at + 1) & mask;
      index[at] = static_cast<std::uint32_t>(n + 1);
    }
    index_.swap(index);
  }

  std::deque<Cell> cells_;
  std::vector<std::uint32_t> index_;  // cell number + 1, 0 empty
  bool sorted_ = false;
};

// One cell's figures: 80 bytes.
struct GridCell {
  std::uint64_t key;
  double dose_sum, dose_max, dose_min;
  double dose_m2;      // the sum of squared deviations from the mean (Welford's update)
  double first_sigma;  // the first measurement's counting uncertainty (NaN: none)
  std::int64_t first_time, last_time;  // times without a zone compared as if UTC
  std::uint32_t count;
  std::uint32_t logs;     // the logs that fed it
  std::int32_t last_log;  // the last of them
  bool first_utc, last_utc;
  double dose_mean() const { return dose_sum / count; }
  // The uncertainty of the mean: of n >= 2 doses, their sample standard deviation over the root of
  // n (0 when they are equal); of one, its own counting uncertainty (NaN: none).
  double dose_sigma() const;
};
static_assert(sizeof(GridCell) <= 80);

// Every kept measurement into its cell. Memory: one GridCell a cell and a 4-byte index slot, held
// in blocks so that growing copies no cell.
class GridAccumulator {
 public:
  explicit GridAccumulator(double size_m) : geometry_(size_m) {}
  void Add(const Measurement& m);
  // The cells of at least min_count measurements, south to north, then west to east. Sorts the
  // cells in place; Add may not follow.
  void ForEachCell(std::uint32_t min_count, const std::function<void(const GridCell&)>& take);
  std::int64_t CellsWith(std::uint32_t min_count) const;
  const GridGeometry& geometry() const { return geometry_; }

 private:
  GridGeometry::RowMemo row_;
  GridGeometry geometry_;
  CellTable<GridCell> cells_;
  // A drive's measurements mostly fall in the cell of the one before (cells never move while
  // measurements are added).
  std::uint64_t last_key_ = 0;
  GridCell* last_cell_ = nullptr;
};

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_GRID_H_
