#ifndef DOSEMAP_MAPS_TILE_ARCHIVES_H_
#define DOSEMAP_MAPS_TILE_ARCHIVES_H_

// The two containers of a tile pyramid: PMTiles version 3 (one file that a web page reads by
// HTTP range requests) and MBTiles 1.3 (an SQLite database that desktop GIS reads).

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_sink.h"
#include "maps/vector_tiles.h"

struct sqlite3;
struct sqlite3_stmt;

namespace dosemap {

struct PmtilesEntry {
  std::uint64_t tile_id;
  std::uint64_t offset;  // in the tile data (a leaf directory's: in the leaf directories)
  std::uint32_t length;
  std::uint32_t run_length;  // 0: a leaf directory
};

// A directory's bytes before compression: the count, then the tile ids as steps, the run
// lengths, the lengths and the offsets (0: right after the entry before; else offset + 1), each a
// varint.
std::string PmtilesDirectory(const std::vector<PmtilesEntry>& entries);

// Where the header says the archive is.
struct PmtilesPlace {
  int min_zoom = 0, max_zoom = 0;
  double west = 0, south = 0, east = 0, north = 0;
  int center_zoom = 0;
  double center_lon = 0, center_lat = 0;
};

// Keeps each zoom's tiles in an unlinked temporary file as they come (in tile-id order within a
// zoom), then writes the archive: header, root directory, metadata, leaf directories, and the
// tile data ordered by tile id (clustered). Directories and metadata are gzip-compressed.
class PmtilesWriter : public TileSink {
 public:
  explicit PmtilesWriter(int max_zoom);
  ~PmtilesWriter() override;
  PmtilesWriter(const PmtilesWriter&) = delete;
  PmtilesWriter& operator=(const PmtilesWriter&) = delete;

  void Tile(int z, std::uint32_t x, std::uint32_t y, std::string_view gzipped) override;
  void Write(ByteSink& out, const PmtilesPlace& place, const std::string& metadata_json);

 private:
  struct Zoom {
    std::FILE* data = nullptr;
    std::uint64_t bytes = 0;
    std::vector<PmtilesEntry> entries;
  };
  std::vector<Zoom> zooms_;
};

// Writes the tiles into an MBTiles database at path (a new or empty file), TMS rows, in one
// transaction; Finish adds the metadata rows and the index.
class MbtilesWriter : public TileSink {
 public:
  explicit MbtilesWriter(const std::filesystem::path& path);
  ~MbtilesWriter() override;
  MbtilesWriter(const MbtilesWriter&) = delete;
  MbtilesWriter& operator=(const MbtilesWriter&) = delete;

  void Tile(int z, std::uint32_t x, std::uint32_t y, std::string_view gzipped) override;
  void Finish(const std::vector<std::pair<std::string, std::string>>& metadata);

 private:
  void Exec(const char* sql);
  [[noreturn]] void Fail(const char* what);

  std::filesystem::path path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* insert_ = nullptr;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_TILE_ARCHIVES_H_
