#include "maps/tile_archives.h"

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "common/error.h"

namespace dosemap {
namespace {

// The header and the root directory must lie in the first 16 KiB.
constexpr std::size_t kHeaderBytes = 127;
constexpr std::size_t kRootLimit = 16384 - kHeaderBytes;

void AppendVarint(std::string& out, std::uint64_t v) {
  while (v >= 0x80) {
    out += static_cast<char>((v & 0x7f) | 0x80);
    v >>= 7;
  }
  out += static_cast<char>(v);
}

template <class T>
void AppendLittle(std::string& out, T v) {
  for (std::size_t i = 0; i < sizeof(T); ++i)
    out += static_cast<char>((static_cast<std::uint64_t>(v) >> (8 * i)) & 0xff);
}

std::int32_t E7(double degrees) { return static_cast<std::int32_t>(std::lround(degrees * 1e7)); }

[[noreturn]] void DataFailed(const char* what) {
  throw FileError(FileErrorKind::kWriteFailed, std::string("temporary file for the tiles: ") +
                                                   what + ": " + std::strerror(errno));
}

}  // namespace

std::string PmtilesDirectory(const std::vector<PmtilesEntry>& entries) {
  std::string out;
  AppendVarint(out, entries.size());
  std::uint64_t last_id = 0;
  for (const PmtilesEntry& e : entries) {
    AppendVarint(out, e.tile_id - last_id);
    last_id = e.tile_id;
  }
  for (const PmtilesEntry& e : entries) AppendVarint(out, e.run_length);
  for (const PmtilesEntry& e : entries) AppendVarint(out, e.length);
  std::uint64_t next = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const PmtilesEntry& e = entries[i];
    AppendVarint(out, i > 0 && e.offset == next ? 0 : e.offset + 1);
    next = e.offset + e.length;
  }
  return out;
}

PmtilesWriter::PmtilesWriter(int max_zoom) : zooms_(max_zoom + 1) {}

PmtilesWriter::~PmtilesWriter() {
  for (Zoom& zoom : zooms_) {
    if (zoom.data != nullptr) std::fclose(zoom.data);
  }
}

void PmtilesWriter::Tile(int z, std::uint32_t x, std::uint32_t y, std::string_view gzipped) {
  Zoom& zoom = zooms_[z];
  if (zoom.data == nullptr) zoom.data = UnlinkedTempFile();
  if (std::fwrite(gzipped.data(), 1, gzipped.size(), zoom.data) != gzipped.size())
    DataFailed("cannot write");
  zoom.entries.push_back(
      {TileIdOf(z, x, y), zoom.bytes, static_cast<std::uint32_t>(gzipped.size()), 1});
  zoom.bytes += gzipped.size();
}

void PmtilesWriter::Write(ByteSink& out, const PmtilesPlace& place,
                          const std::string& metadata_json) {
  // Every entry, by tile id: the zooms one after another, each in its own order.
  std::vector<PmtilesEntry> entries;
  std::uint64_t data_bytes = 0;
  for (Zoom& zoom : zooms_) {
    for (PmtilesEntry e : zoom.entries) {
      e.offset += data_bytes;
      entries.push_back(e);
    }
    data_bytes += zoom.bytes;
    std::vector<PmtilesEntry>().swap(zoom.entries);
  }
  // The root alone if it fits; else leaves of ever more entries until the root of the leaves
  // fits.
  std::string root = Gzip(PmtilesDirectory(entries));
  std::string leaves;
  if (root.size() > kRootLimit) {
    for (std::size_t per_leaf = 4096;; per_leaf *= 2) {
      leaves.clear();
      std::vector<PmtilesEntry> root_entries;
      for (std::size_t i = 0; i < entries.size(); i += per_leaf) {
        const std::size_t end = std::min(entries.size(), i + per_leaf);
        const std::string leaf = Gzip(PmtilesDirectory(
            {entries.begin() + static_cast<long>(i), entries.begin() + static_cast<long>(end)}));
        root_entries.push_back(
            {entries[i].tile_id, leaves.size(), static_cast<std::uint32_t>(leaf.size()), 0});
        leaves += leaf;
      }
      root = Gzip(PmtilesDirectory(root_entries));
      if (root.size() <= kRootLimit) break;
    }
  }
  const std::string metadata = Gzip(metadata_json);
  const std::uint64_t root_at = kHeaderBytes;
  const std::uint64_t metadata_at = root_at + root.size();
  const std::uint64_t leaves_at = metadata_at + metadata.size();
  const std::uint64_t data_at = leaves_at + leaves.size();
  std::string header = "PMTiles";
  header += '\3';
  for (const std::uint64_t v :
       {root_at, std::uint64_t{root.size()}, metadata_at, std::uint64_t{metadata.size()}, leaves_at,
        std::uint64_t{leaves.size()}, data_at, data_bytes})
    AppendLittle(header, v);
  const std::uint64_t tiles = entries.size();
  for (const std::uint64_t v : {tiles, tiles, tiles}) AppendLittle(header, v);
  header += '\1';  // clustered: the data in tile-id order
  header += '\2';  // directories and metadata: gzip
  header += '\2';  // tiles: gzip
  header += '\1';  // Mapbox Vector Tiles
  header += static_cast<char>(place.min_zoom);
  header += static_cast<char>(place.max_zoom);
  for (const double v : {place.west, place.south, place.east, place.north})
    AppendLittle(header, E7(v));
  header += static_cast<char>(place.center_zoom);
  AppendLittle(header, E7(place.center_lon));
  AppendLittle(header, E7(place.center_lat));
  out.Write(header);
  out.Write(root);
  out.Write(metadata);
  out.Write(leaves);
  std::vector<char> buffer(1 << 20);
  for (Zoom& zoom : zooms_) {
    if (zoom.data == nullptr) continue;
    if (std::fseek(zoom.data, 0, SEEK_SET) != 0) DataFailed("cannot read");
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), zoom.data)) > 0)
      out.Write({buffer.data(), n});
    if (std::ferror(zoom.data)) DataFailed("cannot read");
    std::fclose(zoom.data);
    zoom.data = nullptr;
  }
}

MbtilesWriter::MbtilesWriter(const std::filesystem::path& path) : path_(path) {
  if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
      SQLITE_OK)
    Fail("cannot open");
  // The file is staged and renamed into place whole: no journal is needed.
  Exec("PRAGMA journal_mode=OFF");
  Exec("PRAGMA synchronous=OFF");
  Exec("PRAGMA page_size=65536");
  Exec("CREATE TABLE metadata (name text, value text)");
  Exec(
      "CREATE TABLE tiles (zoom_level integer, tile_column integer, tile_row integer, "
      "tile_data blob)");
  Exec("BEGIN");
  if (sqlite3_prepare_v2(db_, "INSERT INTO tiles VALUES (?,?,?,?)", -1, &insert_, nullptr) !=
      SQLITE_OK)
    Fail("cannot prepare");
}

MbtilesWriter::~MbtilesWriter() {
  sqlite3_finalize(insert_);
  sqlite3_close(db_);
}

void MbtilesWriter::Tile(int z, std::uint32_t x, std::uint32_t y, std::string_view gzipped) {
  const std::uint32_t tms_row = (std::uint32_t{1} << z) - 1 - y;
  sqlite3_bind_int(insert_, 1, z);
  sqlite3_bind_int64(insert_, 2, x);
  sqlite3_bind_int64(insert_, 3, tms_row);
  sqlite3_bind_blob(insert_, 4, gzipped.data(), static_cast<int>(gzipped.size()), SQLITE_STATIC);
  if (sqlite3_step(insert_) != SQLITE_DONE) Fail("cannot write a tile");
  sqlite3_reset(insert_);
}

void MbtilesWriter::Finish(const std::vector<std::pair<std::string, std::string>>& metadata) {
  sqlite3_stmt* row = nullptr;
  if (sqlite3_prepare_v2(db_, "INSERT INTO metadata VALUES (?,?)", -1, &row, nullptr) != SQLITE_OK)
    Fail("cannot prepare");
  for (const auto& [name, value] : metadata) {
    sqlite3_bind_text(row, 1, name.data(), static_cast<int>(name.size()), SQLITE_STATIC);
    sqlite3_bind_text(row, 2, value.data(), static_cast<int>(value.size()), SQLITE_STATIC);
    const int step = sqlite3_step(row);
    sqlite3_reset(row);
    if (step != SQLITE_DONE) {
      sqlite3_finalize(row);
      Fail("cannot write the metadata");
    }
  }
  sqlite3_finalize(row);
  Exec("CREATE UNIQUE INDEX tile_index ON tiles (zoom_level, tile_column, tile_row)");
  Exec("COMMIT");
  sqlite3_finalize(insert_);
  insert_ = nullptr;
  if (sqlite3_close(db_) != SQLITE_OK) Fail("cannot close");
  db_ = nullptr;
}

void MbtilesWriter::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) Fail(sql);
}

void MbtilesWriter::Fail(const char* what) {
  const std::string reason = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
  throw FileError(FileErrorKind::kWriteFailed, path_.string() + ": " + what + ": " + reason);
}

}  // namespace dosemap
