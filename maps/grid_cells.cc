// What every grid form shares: the cells in order, each with its edges and the class of its mean.
#include "maps/map_text.h"

namespace dosemap {

void StagedGridMap::WriteCells(GridAccumulator& cells, std::uint32_t min_count,
                               const DoseScale& scale, CellWriter& writer) {
  const GridGeometry& geometry = cells.geometry();
  cells.ForEachCell(min_count, [&](const GridCell& cell) {
    const CellEdges edges =
        geometry.EdgesOf(GridGeometry::RowOfKey(cell.key), GridGeometry::ColumnOfKey(cell.key));
    writer.Add(cell, edges, static_cast<int>(scale.ClassOf(cell.dose_mean())));
  });
}

}  // namespace dosemap
