#ifndef DOSEMAP_MAPS_VECTOR_TILES_H_
#define DOSEMAP_MAPS_VECTOR_TILES_H_

// A pyramid of Mapbox Vector Tiles (version 2.1) of the kept measurements, Web Mercator, extent
// 4096: the layer "measurements" at the highest zoom, every measurement once, and the layer
// "cells" below it, the measurements averaged into squares of 1/64 of a tile's side.
//
// The measurements are sorted by their tile's place on the Hilbert curve of the highest zoom in
// bounded memory (runs of at most kRunRecords spilled to unlinked files in $TMPDIR and merged),
// so the tiles of every zoom come out in the order of their PMTiles tile ids, one at a time.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "dose/dose_scale.h"
#include "survey/measurement.h"
#include "survey/survey_run.h"

namespace dosemap {

inline constexpr int kMinTileZoom = 6;
inline constexpr int kMaxTileZoom = 16;
inline constexpr int kDefaultTileZoom = 14;
// Measurements nearer the poles than Web Mercator reaches are kept but not tiled.
inline constexpr double kTileLatitudeLimit = 85.0511;
inline constexpr int kTileExtent = 4096;
// At most this many measurements in one tile; beyond it the highest doses are kept.
inline constexpr std::uint32_t kTilePointLimit = 100000;

// The tile (z, x, y)'s place on the Hilbert curve of its zoom.
std::uint64_t HilbertIndex(int z, std::uint32_t x, std::uint32_t y);
// The PMTiles tile id: the tiles of the zooms before, then the Hilbert index.
std::uint64_t TileIdOf(int z, std::uint32_t x, std::uint32_t y);

// Web Mercator position in 1/4096 of a tile of zoom z; false beyond kTileLatitudeLimit.
bool WorldPixel(double longitude, double latitude, int zoom, std::uint32_t* x, std::uint32_t* y);

// An unlinked file in $TMPDIR (or /tmp): it goes away when closed, however the run ends.
// Throws FileError.
std::FILE* UnlinkedTempFile();

// The gzip member of bytes (zlib, level 3).
std::string Gzip(std::string_view bytes);
std::string Gunzip(std::string_view bytes);  // for the tests; throws std::runtime_error

// Where the pyramid's tiles go, gzip-compressed, in the order of their tile ids within each zoom.
class TileSink {
 public:
  virtual ~TileSink() = default;
  virtual void Tile(int z, std::uint32_t x, std::uint32_t y, std::string_view gzipped) = 0;
};

// What the tiles hold: their figures for the metadata.
struct PyramidFigures {
  std::int64_t tiled = 0;           // measurements within the tiles
  std::int64_t outside = 0;         // measurements beyond kTileLatitudeLimit
  std::int64_t dropped_points = 0;  // left out of crowded tiles of the highest zoom
  std::int64_t tiles = 0;
  double west = 0, south = 0, east = 0, north = 0;  // of the tiled measurements
};

class TilePyramid {
 public:
  // max_zoom in [kMinTileZoom, kMaxTileZoom].
  explicit TilePyramid(int max_zoom, std::size_t run_records = kRunRecords);
  ~TilePyramid();
  TilePyramid(const TilePyramid&) = delete;
  TilePyramid& operator=(const TilePyramid&) = delete;

  void Add(const Measurement& m, int dose_class);
  // Writes every tile into sink, the zooms interleaved, and the figures; called once. Stops with
  // SurveyError kCancelled soon after cancel is set.
  void Build(const DoseScale& scale, TileSink& sink, CancelFlag cancel = nullptr);
  const PyramidFigures& figures() const { return figures_; }
  int max_zoom() const { return max_zoom_; }

  // A measurement as the sort holds it.
  struct Point {
    std::uint64_t order;  // the Hilbert index of its tile at the highest zoom
    std::uint32_t x, y;   // world pixel at the highest zoom
    double dose;
    double cpm;  // NaN: none
    std::int64_t time;
    std::uint32_t seq;  // the order it was kept in
    std::uint8_t utc;
    std::uint8_t dose_class;
  };
  static constexpr std::size_t kRunRecords = 1 << 20;  // 48 MiB of points

 private:
  void SpillRun();

  int max_zoom_;
  std::size_t run_records_;
  std::vector<Point> run_;
  std::vector<std::FILE*> runs_;  // unlinked temporary files, each a sorted run
  std::uint32_t seq_ = 0;
  PyramidFigures figures_;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_VECTOR_TILES_H_
