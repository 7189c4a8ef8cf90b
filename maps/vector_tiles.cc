#include "maps/vector_tiles.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <protozero/pbf_writer.hpp>
#include <queue>
#include <stdexcept>
#include <thread>
#include <unordered_map>

#include "common/error.h"
#include "survey/civil_time.h"

namespace dosemap {
namespace {

constexpr int kExtentBits = 12;  // 4096
constexpr int kCellBits = 6;     // 64 cells a side
constexpr int kCellsPerTile = 1 << (2 * kCellBits);
// zlib's level 3: on a 1,000,000-row drive 15 % faster than the default 6, for 4 % more bytes.
constexpr int kGzipLevel = 3;

// Tile.layers, Layer.*, Feature.* and Value.* field numbers of the vector tile schema.
enum : protozero::pbf_tag_type {
  kTileLayers = 3,
  kLayerName = 1,
  kLayerFeatures = 2,
  kLayerKeys = 3,
  kLayerValues = 4,
  kLayerExtent = 5,
  kLayerVersion = 15,
  kFeatureTags = 2,
  kFeatureType = 3,
  kFeatureGeometry = 4,
  kValueString = 1,
  kValueDouble = 3,
  kValueInt = 4,
};
constexpr int kGeomPoint = 1, kGeomPolygon = 3;
constexpr std::uint32_t Command(std::uint32_t id, std::uint32_t count) { return id | (count << 3); }
constexpr std::uint32_t ZigZag(std::int32_t v) {
  return (static_cast<std::uint32_t>(v) << 1) ^ static_cast<std::uint32_t>(v >> 31);
}

[[noreturn]] void TempFailed(const char* what) {
  throw FileError(FileErrorKind::kWriteFailed, std::string("temporary file for the tiles: ") +
                                                   what + ": " + std::strerror(errno));
}

// The values of one layer, each written once, referred to by index.
class LayerValues {
 public:
  std::uint32_t Double(double v) { return Find(doubles_, std::bit_cast<std::uint64_t>(v), v); }
  std::uint32_t Int(std::int64_t v) {
    return Find(ints_, static_cast<std::uint64_t>(v), static_cast<double>(v), kInt);
  }
  std::uint32_t Time(std::int64_t seconds, bool utc) {
    const auto key = (static_cast<std::uint64_t>(seconds) << 1) | (utc ? 1 : 0);
    const auto [it, added] = times_.try_emplace(key, static_cast<std::uint32_t>(values_.size()));
    if (added) values_.push_back({kTime, seconds, utc, 0});
    return it->second;
  }
  void Write(protozero::pbf_writer& layer) {
    std::string text;
    for (const Value& v : values_) {
      protozero::pbf_writer value(layer, kLayerValues);
      if (v.kind == kTime) {
        text.clear();
        AppendIsoTime(text, v.whole, v.utc);
        value.add_string(kValueString, text);
      } else if (v.kind == kInt) {
        value.add_int64(kValueInt, v.whole);
      } else {
        value.add_double(kValueDouble, v.real);
      }
    }
  }

 private:
  enum Kind : std::uint8_t { kDouble, kInt, kTime };
  struct Value {
    Kind kind;
    std::int64_t whole;
    bool utc;
    double real;
  };
  std::uint32_t Find(std::unordered_map<std::uint64_t, std::uint32_t>& map, std::uint64_t key,
                     double real, Kind kind = kDouble) {
    const auto [it, added] = map.try_emplace(key, static_cast<std::uint32_t>(values_.size()));
    if (added) values_.push_back({kind, static_cast<std::int64_t>(key), false, real});
    return it->second;
  }
  std::unordered_map<std::uint64_t, std::uint32_t> doubles_, ints_, times_;
  std::vector<Value> values_;
};

void WriteKeys(protozero::pbf_writer& layer, std::initializer_list<const char*> keys) {
  for (const char* key : keys) layer.add_string(kLayerKeys, key);
}

// The "measurements" layer of one tile: a point a measurement, in the order they were kept.
std::string PointsTile(std::uint32_t tile_x, std::uint32_t tile_y,
                       const std::vector<TilePyramid::Point>& points) {
  std::string data;
  protozero::pbf_writer tile(data);
  {
    protozero::pbf_writer layer(tile, kTileLayers);
    layer.add_uint32(kLayerVersion, 2);
    layer.add_string(kLayerName, "measurements");
    LayerValues values;
    std::array<std::uint32_t, 8> tags;
    std::array<std::uint32_t, 3> geometry;
    for (const TilePyramid::Point& p : points) {
      std::size_t n = 0;
      tags[n++] = 0, tags[n++] = values.Double(p.dose);
      if (!std::isnan(p.cpm)) tags[n++] = 1, tags[n++] = values.Double(p.cpm);
      tags[n++] = 2, tags[n++] = values.Time(p.time, p.utc != 0);
      tags[n++] = 3, tags[n++] = values.Int(p.dose_class);
      geometry[0] = Command(1, 1);
      geometry[1] = ZigZag(static_cast<std::int32_t>(p.x - (tile_x << kExtentBits)));
      geometry[2] = ZigZag(static_cast<std::int32_t>(p.y - (tile_y << kExtentBits)));
      protozero::pbf_writer feature(layer, kLayerFeatures);
      feature.add_packed_uint32(kFeatureTags, tags.begin(), tags.begin() + n);
      feature.add_enum(kFeatureType, kGeomPoint);
      feature.add_packed_uint32(kFeatureGeometry, geometry.begin(), geometry.end());
    }
    WriteKeys(layer, {"dose_usvh", "cpm", "time", "class"});
    values.Write(layer);
    layer.add_uint32(kLayerExtent, kTileExtent);
  }
  return data;
}

struct CellSum {
  std::int64_t count = 0;
  double sum = 0;
  double max = 0;
};

// One zoom below the highest: the cells of the tile being filled.
struct Level {
  bool active = false;
  std::uint32_t x = 0, y = 0;
  std::vector<CellSum> cells = std::vector<CellSum>(kCellsPerTile);
  std::vector<std::uint16_t> touched;
};

// The "cells" layer of one tile: a square a cell that holds a measurement, row by row.
std::string CellsTile(Level& level, const DoseScale& scale) {
  std::sort(level.touched.begin(), level.touched.end());
  std::string data;
  protozero::pbf_writer tile(data);
  {
    protozero::pbf_writer layer(tile, kTileLayers);
    layer.add_uint32(kLayerVersion, 2);
    layer.add_string(kLayerName, "cells");
    LayerValues values;
    constexpr std::int32_t side = kTileExtent >> kCellBits;
    for (const std::uint16_t index : level.touched) {
      CellSum& cell = level.cells[index];
      const double mean = cell.sum / static_cast<double>(cell.count);
      const std::array<std::uint32_t, 10> tags = {
          0, values.Int(cell.count),
          1, values.Double(mean),
          2, values.Double(cell.max),
          3, values.Int(static_cast<int>(scale.ClassOf(mean))),
          4, values.Int(static_cast<int>(scale.ClassOf(cell.max)))};
      const std::int32_t x0 = (index & ((1 << kCellBits) - 1)) * side;
      const std::int32_t y0 = (index >> kCellBits) * side;
      // Clockwise on screen (y down): a positive area, an outer ring.
      const std::array<std::uint32_t, 11> geometry = {
          Command(1, 1), ZigZag(x0),    ZigZag(y0), Command(2, 3), ZigZag(side), 0, 0,
          ZigZag(side),  ZigZag(-side), 0,          Command(7, 1)};
      protozero::pbf_writer feature(layer, kLayerFeatures);
      feature.add_packed_uint32(kFeatureTags, tags.begin(), tags.end());
      feature.add_enum(kFeatureType, kGeomPolygon);
      feature.add_packed_uint32(kFeatureGeometry, geometry.begin(), geometry.end());
      cell = CellSum{};
    }
    WriteKeys(layer, {"count", "dose_mean_usvh", "dose_max_usvh", "class", "class_max"});
    values.Write(layer);
    layer.add_uint32(kLayerExtent, kTileExtent);
  }
  level.touched.clear();
  return data;
}

bool Before(const TilePyramid::Point& a, const TilePyramid::Point& b) {
  return a.order != b.order ? a.order < b.order : a.seq < b.seq;
}

// The higher dose first; of equal doses the earlier.
bool Hotter(const TilePyramid::Point& a, const TilePyramid::Point& b) {
  return a.dose != b.dose ? a.dose > b.dose : a.seq < b.seq;
}

// Reads one sorted run back, a block at a time.
class RunReader {
 public:
  explicit RunReader(std::FILE* file) : file_(file), block_(kBlock) {
    if (std::fseek(file_, 0, SEEK_SET) != 0) TempFailed("cannot read");
    Fill();
  }
  bool done() const { return next_ == size_; }
  const TilePyramid::Point& front() const { return block_[next_]; }
  void Pop() {
    if (++next_ == size_) Fill();
  }

 private:
  static constexpr std::size_t kBlock = 4096;
  void Fill() {
    size_ = std::fread(block_.data(), sizeof(TilePyramid::Point), kBlock, file_);
    if (size_ == 0 && std::ferror(file_)) TempFailed("cannot read");
    next_ = 0;
  }
  std::FILE* file_;
  std::vector<TilePyramid::Point> block_;
  std::size_t next_ = 0, size_ = 0;
};

// Takes the points in tile order and makes the tiles of every zoom.
class PyramidBuilder {
 public:
  PyramidBuilder(int max_zoom, const DoseScale& scale, TileSink& sink, PyramidFigures& figures,
                 CancelFlag cancel)
      : max_zoom_(max_zoom),
        scale_(scale),
        sink_(sink),
        figures_(figures),
        cancel_(cancel),
        levels_(max_zoom) {}

  void Take(const TilePyramid::Point& p) {
    if (!points_.empty() && points_.front().order != p.order) FlushPoints();
    for (int z = max_zoom_ - 1; z >= 0; --z) {
      Level& level = levels_[z];
      const int tile_shift = max_zoom_ - z + kExtentBits;
      const std::uint32_t tx = p.x >> tile_shift, ty = p.y >> tile_shift;
      if (level.active && (level.x != tx || level.y != ty)) FlushCells(z);
      level.active = true, level.x = tx, level.y = ty;
      const int cell_shift = tile_shift - kCellBits;
      const auto index = static_cast<std::uint16_t>(((p.x >> cell_shift) & 63) |
                                                    (((p.y >> cell_shift) & 63) << kCellBits));
      CellSum& cell = level.cells[index];
      if (cell.count == 0) {
        level.touched.push_back(index);
        cell.max = p.dose;
      }
      ++cell.count;
      cell.sum += p.dose;
      cell.max = std::max(cell.max, p.dose);
    }
    points_.push_back(p);
    if (points_.size() >= 2 * kTilePointLimit) KeepHottest();
  }

  void Finish() {
    if (!points_.empty()) FlushPoints();
    for (int z = max_zoom_ - 1; z >= 0; --z) {
      if (levels_[z].active) FlushCells(z);
    }
    CompressBatch();
  }

 private:
  void KeepHottest() {
    std::nth_element(points_.begin(), points_.begin() + kTilePointLimit, points_.end(), Hotter);
    figures_.dropped_points += static_cast<std::int64_t>(points_.size() - kTilePointLimit);
    points_.resize(kTilePointLimit);
  }
  void FlushPoints() {
    if (points_.size() > kTilePointLimit) KeepHottest();
    std::sort(points_.begin(), points_.end(),
              [](const auto& a, const auto& b) { return a.seq < b.seq; });
    const std::uint32_t tx = points_.front().x >> kExtentBits;
    const std::uint32_t ty = points_.front().y >> kExtentBits;
    Emit(max_zoom_, tx, ty, PointsTile(tx, ty, points_));
    points_.clear();
  }
  void FlushCells(int z) {
    Level& level = levels_[z];
    Emit(z, level.x, level.y, CellsTile(level, scale_));
    level.active = false;
  }
  // Tiles are compressed a batch at a time on both cores (the logs are read by now), and handed
  // on in the order they were made.
  void Emit(int z, std::uint32_t x, std::uint32_t y, std::string tile) {
    batch_bytes_ += tile.size();
    batch_.push_back({z, x, y, std::move(tile)});
    ++figures_.tiles;
    if (batch_bytes_ >= kBatchBytes) CompressBatch();
  }
  void CompressBatch() {
    ThrowIfCancelled(cancel_);
    const auto compress = [this](std::size_t begin, std::size_t end) {
      for (std::size_t i = begin; i < end; ++i) batch_[i].bytes = Gzip(batch_[i].bytes);
    };
    // The half of the bytes each: tiles differ in size a thousandfold.
    std::size_t half = 0;
    for (std::size_t bytes = 0; half < batch_.size() && bytes < batch_bytes_ / 2; ++half)
      bytes += batch_[half].bytes.size();
    if (batch_.size() > 1) {
      std::exception_ptr failed;
      std::thread other([&] {
        try {
          compress(half, batch_.size());
        } catch (...) {
          failed = std::current_exception();
        }
      });
      compress(0, half);
      other.join();
      if (failed) std::rethrow_exception(failed);
    } else {
      compress(0, batch_.size());
    }
    for (const BatchTile& t : batch_) sink_.Tile(t.z, t.x, t.y, t.bytes);
    batch_.clear();
    batch_bytes_ = 0;
  }

  int max_zoom_;
  const DoseScale& scale_;
  TileSink& sink_;
  PyramidFigures& figures_;
  CancelFlag cancel_;
  std::vector<Level> levels_;
  std::vector<TilePyramid::Point> points_;
  struct BatchTile {
    int z;
    std::uint32_t x, y;
    std::string bytes;
  };
  static constexpr std::size_t kBatchBytes = 8 << 20;
  std::vector<BatchTile> batch_;
  std::size_t batch_bytes_ = 0;
};

}  // namespace

std::FILE* UnlinkedTempFile() {
  std::error_code error;
  std::filesystem::path folder = std::filesystem::temp_directory_path(error);
  if (error) folder = "/tmp";
  std::string name = (folder / "dosemap-tiles.XXXXXX").string();
  const int fd = mkstemp(name.data());
  if (fd < 0) TempFailed("cannot create");
  unlink(name.c_str());
  std::FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) {
    close(fd);
    TempFailed("cannot open");
  }
  return file;
}

std::uint64_t HilbertIndex(int z, std::uint32_t x, std::uint32_t y) {
  const std::uint64_t n = std::uint64_t{1} << z;
  std::uint64_t d = 0;
  std::uint64_t tx = x, ty = y;
  for (std::uint64_t s = n / 2; s > 0; s /= 2) {
    const std::uint64_t rx = (tx & s) != 0 ? 1 : 0;
    const std::uint64_t ry = (ty & s) != 0 ? 1 : 0;
    d += s * s * ((3 * rx) ^ ry);
    if (ry == 0) {
      if (rx == 1) {
        tx = n - 1 - tx;
        ty = n - 1 - ty;
      }
      std::swap(tx, ty);
    }
  }
  return d;
}

std::uint64_t TileIdOf(int z, std::uint32_t x, std::uint32_t y) {
  // 1 + 4 + ... + 4^(z-1) tiles of the zooms before.
  const std::uint64_t before = ((std::uint64_t{1} << (2 * z)) - 1) / 3;
  return before + HilbertIndex(z, x, y);
}

bool WorldPixel(double longitude, double latitude, int zoom, std::uint32_t* x, std::uint32_t* y) {
  if (!(std::abs(latitude) <= kTileLatitudeLimit)) return false;
  const double size = std::ldexp(1.0, zoom + kExtentBits);
  const double pi = 3.14159265358979323846;
  const double fx = (longitude + 180.0) / 360.0 * size;
  const double fy = (1.0 - std::asinh(std::tan(latitude * pi / 180.0)) / pi) / 2.0 * size;
  const auto clamp = [size](double v) {
    return static_cast<std::uint32_t>(std::clamp(std::floor(v), 0.0, size - 1));
  };
  *x = clamp(fx);
  *y = clamp(fy);
  return true;
}

std::string Gzip(std::string_view bytes) {
  z_stream stream{};
  if (deflateInit2(&stream, kGzipLevel, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw std::bad_alloc();
  std::string out(deflateBound(&stream, static_cast<uLong>(bytes.size())), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("gzip failed");
  return out;
}

std::string Gunzip(std::string_view bytes) {
  z_stream stream{};
  if (inflateInit2(&stream, 15 + 16) != Z_OK) throw std::bad_alloc();
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
  stream.avail_in = static_cast<uInt>(bytes.size());
  std::string out;
  char buffer[65536];
  int result = Z_OK;
  while (result == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    result = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) throw std::runtime_error("not a whole gzip member");
  return out;
}

TilePyramid::TilePyramid(int max_zoom, std::size_t run_records)
    : max_zoom_(max_zoom), run_records_(run_records) {}

TilePyramid::~TilePyramid() {
  for (std::FILE* file : runs_) std::fclose(file);
}

void TilePyramid::Add(const Measurement& m, int dose_class) {
  Point p;
  if (!WorldPixel(m.longitude, m.latitude, max_zoom_, &p.x, &p.y)) {
    ++figures_.outside;
    return;
  }
  if (figures_.tiled == 0) {
    figures_.west = figures_.east = m.longitude;
    figures_.south = figures_.north = m.latitude;
  } else {
    figures_.west = std::min(figures_.west, m.longitude);
    figures_.east = std::max(figures_.east, m.longitude);
    figures_.south = std::min(figures_.south, m.latitude);
    figures_.north = std::max(figures_.north, m.latitude);
  }
  ++figures_.tiled;
  p.order = HilbertIndex(max_zoom_, p.x >> kExtentBits, p.y >> kExtentBits);
  p.dose = m.dose_usvh;
  p.cpm = m.has_cpm ? m.cpm : std::numeric_limits<double>::quiet_NaN();
  p.time = m.time;
  p.seq = seq_++;
  p.utc = m.utc ? 1 : 0;
  p.dose_class = static_cast<std::uint8_t>(dose_class);
  if (run_.capacity() == 0) run_.reserve(run_records_);
  run_.push_back(p);
  if (run_.size() >= run_records_) SpillRun();
}

void TilePyramid::SpillRun() {
  std::sort(run_.begin(), run_.end(), Before);
  std::FILE* file = UnlinkedTempFile();
  runs_.push_back(file);
  if (std::fwrite(run_.data(), sizeof(Point), run_.size(), file) != run_.size())
    TempFailed("cannot write");
  if (std::fflush(file) != 0) TempFailed("cannot write");
  run_.clear();
}

void TilePyramid::Build(const DoseScale& scale, TileSink& sink, CancelFlag cancel) {
  PyramidBuilder builder(max_zoom_, scale, sink, figures_, cancel);
  if (runs_.empty()) {
    std::sort(run_.begin(), run_.end(), Before);
    for (const Point& p : run_) builder.Take(p);
    std::vector<Point>().swap(run_);
  } else {
    if (!run_.empty()) SpillRun();
    std::vector<Point>().swap(run_);
    std::vector<RunReader> readers;
    readers.reserve(runs_.size());
    for (std::FILE* file : runs_) readers.emplace_back(file);
    const auto later = [&readers](std::size_t a, std::size_t b) {
      return Before(readers[b].front(), readers[a].front());
    };
    std::priority_queue<std::size_t, std::vector<std::size_t>, decltype(later)> heap(later);
    for (std::size_t i = 0; i < readers.size(); ++i) {
      if (!readers[i].done()) heap.push(i);
    }
    while (!heap.empty()) {
      const std::size_t i = heap.top();
      heap.pop();
      builder.Take(readers[i].front());
      readers[i].Pop();
      if (!readers[i].done()) heap.push(i);
    }
  }
  builder.Finish();
}

}  // namespace dosemap
