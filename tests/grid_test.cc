// The grid's cells: where a point falls, worked by hand, and what a cell carries.
#include "survey/grid.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <set>
#include <vector>

namespace dosemap {
namespace {

struct Place {
  double latitude, longitude;
  std::int64_t row, columns, column;
};

TEST(GridGeometry, PutsPointsInTheCellsWorkedByHand) {
  // Rows of size / 6371008.8 radians from the south pole; a row's columns from the cosine of its
  // middle latitude.
  const struct {
    double size;
    std::int64_t rows;
    std::vector<Place> places;
  } grids[] = {
      {10,
       2001512,
       {{0, 0, 1000755, 4003022, 2001511},
        {0, 180, 1000755, 4003022, 0},  // 180 is -180
        {0, -180, 1000755, 4003022, 0},
        {0, 179.99999, 1000755, 4003022, 4003021},
        {89.9, 10, 2000399, 6986, 3687},
        {-89.9, -10, 1111, 6983, 3297}}},
      {1000,
       20016,
       {{0, 0, 10007, 40030, 20015},
        {0, 180, 10007, 40030, 0},
        {0, 179.99999, 10007, 40030, 40029},
        {89.9, 10, 20003, 72, 38},
        {-89.9, -10, 11, 72, 34},
        {90, 0, 20015, 1, 0},  // the pole itself is in the top row
        {-90, 0, 0, 3, 1}}},
      {100000, 201, {{0, 0, 100, 400, 200}, {89.9, 10, 200, 1, 0}, {-89.9, -10, 0, 3, 1}}},
  };
  for (const auto& grid : grids) {
    SCOPED_TRACE(grid.size);
    const GridGeometry geometry(grid.size);
    EXPECT_EQ(geometry.RowOf(90), grid.rows - 1);
    // The row's column count remembered from one point to the next is never one of another row's,
    // going up the list or down it.
    GridGeometry::RowMemo memo;
    for (int pass = 0; pass < 2; ++pass) {
      for (std::size_t i = 0; i < grid.places.size(); ++i) {
        const Place& p = grid.places[pass == 0 ? i : grid.places.size() - 1 - i];
        EXPECT_EQ(geometry.CellKeyOf(p.latitude, p.longitude, memo),
                  GridGeometry::KeyOf(p.row, p.column))
            << p.latitude << "," << p.longitude;
      }
    }
    for (const Place& p : grid.places) {
      SCOPED_TRACE(std::to_string(p.latitude) + "," + std::to_string(p.longitude));
      const std::int64_t row = geometry.RowOf(p.latitude);
      EXPECT_EQ(row, p.row);
      EXPECT_EQ(geometry.ColumnsOf(row), p.columns);
      EXPECT_EQ(geometry.ColumnOf(row, p.longitude), p.column);
      const CellEdges e = geometry.EdgesOf(row, p.column);
      EXPECT_LE(e.south, p.latitude);
      EXPECT_GE(e.north, p.latitude);
      EXPECT_LE(e.north, 90);
    }
  }
  // A row's edge: just below is the row under it.
  const GridGeometry km(1000);
  const double edge = -90 + 10007 * (1000 / 6371008.8 * 180 / std::numbers::pi);
  EXPECT_EQ(km.RowOf(edge - 1e-9), 10006);
  EXPECT_EQ(km.RowOf(edge + 1e-9), 10007);
  const CellEdges e = km.EdgesOf(10007, 20015);
  EXPECT_EQ(e.west, 0);
  EXPECT_EQ(e.east, -180 + 20016 * (360.0 / 40030));  // as the edges are written: -180 + (j + 1) w
  EXPECT_DOUBLE_EQ(e.north, -90 + 10008 * (1000 / 6371008.8 * 180 / std::numbers::pi));
  // No edge beyond the antimeridian or the poles, at any size: the last column's product may round
  // past 180.
  for (const double size : {10.0, 37.0, 1000.0, 4999.0, 100000.0}) {
    SCOPED_TRACE(size);
    const GridGeometry g(size);
    for (const double latitude : {-90.0, -45.3, 0.0, 12.7, 60.1, 89.99, 90.0}) {
      const std::int64_t row = g.RowOf(latitude);
      const CellEdges last = g.EdgesOf(row, g.ColumnsOf(row) - 1);
      EXPECT_EQ(last.east, 180);
      EXPECT_LE(last.north, 90);
      EXPECT_GE(g.EdgesOf(row, 0).west, -180);
    }
  }
  // Keys order rows south to north, then columns west to east.
  EXPECT_LT(GridGeometry::KeyOf(5, 4003021), GridGeometry::KeyOf(6, 0));
  EXPECT_EQ(GridGeometry::RowOfKey(GridGeometry::KeyOf(2001511, 4003021)), 2001511);
  EXPECT_EQ(GridGeometry::ColumnOfKey(GridGeometry::KeyOf(2001511, 4003021)), 4003021);
}

TEST(GridAccumulator, CellsAddUpToTheMeasurementsAndEachMeanIsItsPoints) {
  GridAccumulator grid(250);
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> unit(0, 1);
  struct Expected {
    std::uint32_t count = 0;
    double sum = 0, max = -1, min = 1e9;
    std::int64_t first = INT64_MAX, last = INT64_MIN;
    std::set<int> logs;
  };
  std::map<std::uint64_t, Expected> expected;
  const int kept = 20000;
  for (int i = 0; i < kept; ++i) {
    Measurement m;
    m.latitude = 37.4 + 0.05 * unit(random);
    m.longitude = i % 10 == 0 ? 180 - 0.001 * unit(random) : 140.4 + 0.05 * unit(random);
    m.dose_usvh = 0.05 + unit(random);
    m.time = 1700000000 + static_cast<std::int64_t>(random() % 100000);
    m.log = i / 5000;
    grid.Add(m);
    const GridGeometry& g = grid.geometry();
    const std::int64_t row = g.RowOf(m.latitude);
    Expected& e = expected[GridGeometry::KeyOf(row, g.ColumnOf(row, m.longitude))];
    ++e.count, e.sum += m.dose_usvh;
    e.max = std::max(e.max, m.dose_usvh), e.min = std::min(e.min, m.dose_usvh);
    e.first = std::min(e.first, m.time), e.last = std::max(e.last, m.time);
    e.logs.insert(m.log);
  }
  std::int64_t total = 0;
  std::uint64_t previous = 0;
  std::size_t seen = 0;
  grid.ForEachCell(1, [&](const GridCell& cell) {
    ASSERT_TRUE(seen == 0 || cell.key > previous);  // south to north, west to east
    previous = cell.key;
    ++seen;
    const Expected& e = expected.at(cell.key);
    EXPECT_EQ(cell.count, e.count);
    EXPECT_EQ(cell.dose_mean(), e.sum / e.count);  // summed in the same order
    EXPECT_EQ(cell.dose_max, e.max);
    EXPECT_EQ(cell.dose_min, e.min);
    EXPECT_EQ(cell.first_time, e.first);
    EXPECT_EQ(cell.last_time, e.last);
    EXPECT_EQ(cell.logs, e.logs.size());
    total += cell.count;
  });
  EXPECT_EQ(total, kept);
  EXPECT_EQ(seen, expected.size());
  std::int64_t at_least_ten = 0;
  for (const auto& [key, e] : expected) at_least_ten += e.count >= 10;
  EXPECT_EQ(grid.CellsWith(10), at_least_ten);
}

}  // namespace
}  // namespace dosemap
