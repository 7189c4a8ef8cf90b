// Vector tiles: tile ids, the PMTiles layout, and a pyramid that holds every measurement once at
// its highest zoom and all of them in its cells at every zoom below, whether sorted in memory or
// through files.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <map>
#include <nlohmann/json.hpp>
#include <protozero/pbf_reader.hpp>
#include <random>

#include "conversion/drive_conversion.h"
#include "maps/tile_archives.h"
#include "maps/vector_tiles.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

struct Feature {
  std::map<std::string, double> numbers;
  std::map<std::string, std::string> texts;
  std::vector<std::uint32_t> geometry;
  int type = 0;
};
struct Layer {
  std::string name;
  std::uint32_t extent = 0, version = 0;
  std::vector<Feature> features;
};

// A vector tile's layers, decoded with the schema's field numbers.
std::vector<Layer> Decode(const std::string& gzipped) {
  const std::string bytes = Gunzip(gzipped);
  std::vector<Layer> layers;
  protozero::pbf_reader tile(bytes);
  while (tile.next(3)) {
    protozero::pbf_reader layer = tile.get_message();
    Layer out;
    std::vector<std::string> keys;
    struct Value {
      bool text;
      double number;
      std::string string;
    };
    std::vector<Value> values;
    struct Raw {
      std::vector<std::uint32_t> tags, geometry;
      int type;
    };
    std::vector<Raw> raws;
    while (layer.next()) {
      switch (layer.tag()) {
        case 1:
          out.name = layer.get_string();
          break;
        case 2: {
          protozero::pbf_reader f = layer.get_message();
          Raw raw{};
          while (f.next()) {
            if (f.tag() == 2) {
              const auto packed = f.get_packed_uint32();
              raw.tags.assign(packed.begin(), packed.end());
            } else if (f.tag() == 3) {
              raw.type = f.get_enum();
            } else if (f.tag() == 4) {
              const auto packed = f.get_packed_uint32();
              raw.geometry.assign(packed.begin(), packed.end());
            } else {
              f.skip();
            }
          }
          raws.push_back(raw);
          break;
        }
        case 3:
          keys.push_back(layer.get_string());
          break;
        case 4: {
          protozero::pbf_reader v = layer.get_message();
          Value value{};
          while (v.next()) {
            if (v.tag() == 1)
              value = {true, 0, v.get_string()};
            else if (v.tag() == 3)
              value = {false, v.get_double(), {}};
            else if (v.tag() == 4)
              value = {false, static_cast<double>(v.get_int64()), {}};
            else
              v.skip();
          }
          values.push_back(value);
          break;
        }
        case 5:
          out.extent = layer.get_uint32();
          break;
        case 15:
          out.version = layer.get_uint32();
          break;
        default:
          layer.skip();
      }
    }
    for (const Raw& raw : raws) {
      Feature feature;
      feature.type = raw.type;
      feature.geometry = raw.geometry;
      for (std::size_t i = 0; i + 1 < raw.tags.size(); i += 2) {
        const Value& v = values.at(raw.tags[i + 1]);
        if (v.text)
          feature.texts[keys.at(raw.tags[i])] = v.string;
        else
          feature.numbers[keys.at(raw.tags[i])] = v.number;
      }
      out.features.push_back(std::move(feature));
    }
    layers.push_back(std::move(out));
  }
  return layers;
}

struct Tile {
  int z;
  std::uint32_t x, y;
  std::string gzipped;
};

struct Collect : TileSink {
  void Tile(int z, std::uint32_t x, std::uint32_t y, std::string_view gzipped) override {
    tiles.push_back({z, x, y, std::string(gzipped)});
  }
  std::vector<dosemap::Tile> tiles;
};

Measurement At(double lon, double lat, double dose, std::int64_t time) {
  Measurement m;
  m.longitude = lon, m.latitude = lat, m.dose_usvh = dose, m.time = time;
  m.cpm = dose * 334, m.has_cpm = true;
  return m;
}

std::uint64_t Varint(const std::string& bytes, std::size_t& at) {
  std::uint64_t v = 0;
  for (int shift = 0;; shift += 7) {
    const auto byte = static_cast<unsigned char>(bytes.at(at++));
    v |= std::uint64_t{byte & 0x7fu} << shift;
    if (byte < 0x80) return v;
  }
}

std::vector<PmtilesEntry> ReadDirectory(const std::string& gzipped) {
  const std::string bytes = Gunzip(gzipped);
  std::size_t at = 0;
  std::vector<PmtilesEntry> entries(Varint(bytes, at));
  std::uint64_t id = 0;
  for (auto& e : entries) e.tile_id = id += Varint(bytes, at);
  for (auto& e : entries) e.run_length = static_cast<std::uint32_t>(Varint(bytes, at));
  for (auto& e : entries) e.length = static_cast<std::uint32_t>(Varint(bytes, at));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::uint64_t v = Varint(bytes, at);
    entries[i].offset = v == 0 && i > 0 ? entries[i - 1].offset + entries[i - 1].length : v - 1;
  }
  EXPECT_EQ(at, bytes.size());
  return entries;
}

template <class T>
T Little(const std::string& bytes, std::size_t at) {
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < sizeof(T); ++i)
    v |= std::uint64_t{static_cast<unsigned char>(bytes.at(at + i))} << (8 * i);
  return static_cast<T>(v);
}

TEST(TileIds, HilbertIdsOfTheFirstZoomsAndAParentHoldsItsChildrenInOneRun) {
  // The order the format's own examples give: 0/0/0, then 1/0/0, 1/0/1, 1/1/1, 1/1/0, 2/0/0.
  EXPECT_EQ(TileIdOf(0, 0, 0), 0u);
  EXPECT_EQ(TileIdOf(1, 0, 0), 1u);
  EXPECT_EQ(TileIdOf(1, 0, 1), 2u);
  EXPECT_EQ(TileIdOf(1, 1, 1), 3u);
  EXPECT_EQ(TileIdOf(1, 1, 0), 4u);
  EXPECT_EQ(TileIdOf(2, 0, 0), 5u);
  EXPECT_EQ(TileIdOf(12, 3423, 1763), 19078479u);
  // The pyramid relies on it: a tile's index at a lower zoom is its index's leading bits.
  std::mt19937 random(7);
  for (int i = 0; i < 10000; ++i) {
    const int z = 16, up = static_cast<int>(random() % 16) + 1;
    const std::uint32_t x = random() % (1u << z), y = random() % (1u << z);
    EXPECT_EQ(HilbertIndex(z, x, y) >> (2 * up), HilbertIndex(z - up, x >> up, y >> up));
  }
}

TEST(TileIds, WebMercatorPixelsAndTheLatitudeLimit) {
  std::uint32_t x, y;
  ASSERT_TRUE(WorldPixel(0, 0, 0, &x, &y));
  EXPECT_EQ(x, 2048u);
  EXPECT_EQ(y, 2048u);
  ASSERT_TRUE(WorldPixel(-180, 85.0511, 1, &x, &y));
  EXPECT_EQ(x, 0u);
  EXPECT_EQ(y, 0u);
  ASSERT_TRUE(WorldPixel(180, -85.0511, 1, &x, &y));
  EXPECT_EQ(x, 8191u);  // the east edge stays in the last tile
  EXPECT_EQ(y, 8191u);
  EXPECT_FALSE(WorldPixel(0, 85.0512, 14, &x, &y));
  EXPECT_FALSE(WorldPixel(0, -89, 14, &x, &y));
}

// Two measurements, one in the north-west and one in the south-east quarter, tiled to zoom 2.
// By hand: 0/0/0 is id 0; 1/0/0 id 1 and 1/1/1 id 3; at zoom 2, (0,1) is the 4th tile of the
// curve (id 5 + 3 = 8) and (3,2) the 12th (id 5 + 11 = 16).
TEST(Pmtiles, HeaderDirectoryAndTileIdsOfZoomsZeroToTwo) {
  TilePyramid pyramid(2);
  pyramid.Add(At(-100, 40, 0.05, 1000), 1);
  pyramid.Add(At(100, -40, 0.6, 1001), 5);
  pyramid.Add(At(10, 89, 0.1, 1002), 2);  // beyond the tiles
  PmtilesWriter writer(2);
  pyramid.Build(DoseScale{}, writer);
  EXPECT_EQ(pyramid.figures().outside, 1);
  EXPECT_EQ(pyramid.figures().tiles, 5);
  PmtilesPlace place;
  place.max_zoom = 2, place.west = -100, place.south = -40, place.east = 100, place.north = 40;
  place.center_zoom = 1;
  StringSink sink;
  writer.Write(sink, place, "{\"name\":\"t\"}");
  const std::string& file = sink.bytes();
  ASSERT_GE(file.size(), 127u);
  EXPECT_EQ(file.substr(0, 8), std::string("PMTiles\3"));
  const auto root_at = Little<std::uint64_t>(file, 8), root_len = Little<std::uint64_t>(file, 16);
  const auto meta_at = Little<std::uint64_t>(file, 24), meta_len = Little<std::uint64_t>(file, 32);
  const auto leaf_at = Little<std::uint64_t>(file, 40), leaf_len = Little<std::uint64_t>(file, 48);
  const auto data_at = Little<std::uint64_t>(file, 56), data_len = Little<std::uint64_t>(file, 64);
  EXPECT_EQ(root_at, 127u);
  EXPECT_EQ(meta_at, root_at + root_len);
  EXPECT_EQ(leaf_at, meta_at + meta_len);
  EXPECT_EQ(leaf_len, 0u);
  EXPECT_EQ(data_at, leaf_at);
  EXPECT_EQ(data_at + data_len, file.size());
  for (const std::size_t count_at : {72, 80, 88})
    EXPECT_EQ(Little<std::uint64_t>(file, count_at), 5u);
  EXPECT_EQ(file[96], 1);   // clustered
  EXPECT_EQ(file[97], 2);   // gzip directories
  EXPECT_EQ(file[98], 2);   // gzip tiles
  EXPECT_EQ(file[99], 1);   // vector tiles
  EXPECT_EQ(file[100], 0);  // zooms 0 to 2
  EXPECT_EQ(file[101], 2);
  EXPECT_EQ(Little<std::int32_t>(file, 102), -1000000000);
  EXPECT_EQ(Little<std::int32_t>(file, 106), -400000000);
  EXPECT_EQ(Little<std::int32_t>(file, 110), 1000000000);
  EXPECT_EQ(Little<std::int32_t>(file, 114), 400000000);
  EXPECT_EQ(file[118], 1);
  EXPECT_EQ(Gunzip(file.substr(meta_at, meta_len)), "{\"name\":\"t\"}");
  const std::vector<PmtilesEntry> root = ReadDirectory(file.substr(root_at, root_len));
  ASSERT_EQ(root.size(), 5u);
  const std::uint64_t ids[] = {0, 1, 3, 8, 16};
  std::uint64_t next = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(root[i].tile_id, ids[i]);
    EXPECT_EQ(root[i].run_length, 1u);
    EXPECT_EQ(root[i].offset, next);  // the data in tile-id order, back to back
    next += root[i].length;
    const auto layers = Decode(file.substr(data_at + root[i].offset, root[i].length));
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].name, i < 3 ? "cells" : "measurements");
    EXPECT_EQ(layers[0].extent, 4096u);
    EXPECT_EQ(layers[0].version, 2u);
  }
  EXPECT_EQ(next, data_len);
  // The directory's own bytes: count, id steps, run lengths, lengths, offsets (0: right after).
  const std::string bytes = PmtilesDirectory({{5, 0, 10, 1}, {6, 10, 3, 1}, {200, 100, 4, 1}});
  EXPECT_EQ(bytes, std::string("\x03\x05\x01\xc2\x01\x01\x01\x01\x0a\x03\x04\x01\x00\x65", 14));
}

TEST(Pmtiles, ManyTilesGoIntoLeafDirectoriesAndTheRootStaysWithinSixteenKiB) {
  PmtilesWriter writer(16);
  std::mt19937 random(3);
  std::vector<std::uint64_t> ids;
  // Tiles of one zoom come in the order of their ids.
  std::vector<std::pair<std::uint64_t, std::pair<std::uint32_t, std::uint32_t>>> tiles;
  for (int i = 0; i < 200000; ++i) {
    const std::uint32_t x = random() % 65536, y = random() % 65536;
    tiles.push_back({TileIdOf(16, x, y), {x, y}});
  }
  std::sort(tiles.begin(), tiles.end());
  tiles.erase(std::unique(tiles.begin(), tiles.end()), tiles.end());
  for (const auto& [id, xy] : tiles) writer.Tile(16, xy.first, xy.second, "tile");
  StringSink sink;
  writer.Write(sink, PmtilesPlace{}, "{}");
  const std::string& file = sink.bytes();
  const auto root_len = Little<std::uint64_t>(file, 16);
  const auto leaf_at = Little<std::uint64_t>(file, 40), leaf_len = Little<std::uint64_t>(file, 48);
  EXPECT_LE(127 + root_len, 16384u);
  ASSERT_GT(leaf_len, 0u);
  std::size_t found = 0;
  for (const PmtilesEntry& leaf : ReadDirectory(file.substr(127, root_len))) {
    ASSERT_EQ(leaf.run_length, 0u);
    for (const PmtilesEntry& e : ReadDirectory(file.substr(leaf_at + leaf.offset, leaf.length))) {
      ASSERT_LT(found, tiles.size());
      EXPECT_EQ(e.tile_id, tiles[found].first);
      EXPECT_EQ(e.offset, 4 * found);
      ++found;
    }
  }
  EXPECT_EQ(found, tiles.size());
}

// A wandering walk of 30,000 measurements around Fukushima, some of them in one spot.
std::vector<Measurement> Walk() {
  std::vector<Measurement> walk;
  std::mt19937 random(11);
  std::uniform_real_distribution<double> step(-0.0004, 0.0004), dose(0.04, 0.3);
  double lon = 140.47, lat = 37.42;
  for (int i = 0; i < 30000; ++i) {
    lon += step(random), lat += step(random);
    walk.push_back(At(lon, lat, dose(random), 1767225600 + i));
    if (i % 3 == 0) walk.back().has_cpm = false;
  }
  return walk;
}

std::vector<Tile> Tiled(const std::vector<Measurement>& walk, int max_zoom, std::size_t run) {
  TilePyramid pyramid(max_zoom, run);
  const DoseScale scale;
  for (const Measurement& m : walk) pyramid.Add(m, static_cast<int>(scale.ClassOf(m.dose_usvh)));
  Collect tiles;
  pyramid.Build(scale, tiles);
  return tiles.tiles;
}

TEST(TilePyramid, EveryMeasurementOnceAtTheTopAndInTheCellsOfEveryZoom) {
  const std::vector<Measurement> walk = Walk();
  const std::vector<Tile> tiles = Tiled(walk, 14, TilePyramid::kRunRecords);
  std::map<std::int64_t, const Measurement*> by_time;
  for (const Measurement& m : walk) by_time[m.time] = &m;
  std::vector<std::int64_t> cells_per_zoom(14);
  std::map<int, std::uint64_t> last_id;
  std::size_t points = 0;
  for (const Tile& tile : tiles) {
    // Within a zoom the tiles come in the order of their ids.
    const std::uint64_t id = TileIdOf(tile.z, tile.x, tile.y);
    if (last_id.count(tile.z)) {
      EXPECT_GT(id, last_id[tile.z]);
    }
    last_id[tile.z] = id;
    const auto layers = Decode(tile.gzipped);
    ASSERT_EQ(layers.size(), 1u);
    for (const Feature& f : layers[0].features) {
      if (tile.z == 14) {
        ASSERT_EQ(f.type, 1);
        ASSERT_EQ(f.geometry.size(), 3u);
        // The point's own time finds it; its place lies within 1/4096 of a tile of it.
        const std::string& time = f.texts.at("time");
        ASSERT_EQ(time.size(), 20u);
        const std::int64_t seconds = 1767225600 + std::stoll(time.substr(11, 2)) * 3600 +
                                     std::stoll(time.substr(14, 2)) * 60 +
                                     std::stoll(time.substr(17, 2));
        const Measurement* m = by_time.at(seconds);
        ASSERT_EQ(time.substr(0, 11), "2026-01-01T");
        EXPECT_EQ(f.numbers.at("dose_usvh"), m->dose_usvh);
        EXPECT_EQ(f.numbers.count("cpm"), m->has_cpm ? 1u : 0u);
        EXPECT_EQ(f.numbers.at("class"), static_cast<int>(DoseScale{}.ClassOf(m->dose_usvh)));
        std::uint32_t px, py;
        WorldPixel(m->longitude, m->latitude, 14, &px, &py);
        const auto unzig = [](std::uint32_t v) {
          return static_cast<std::int64_t>((v >> 1) ^ (~(v & 1) + 1));
        };
        EXPECT_EQ(unzig(f.geometry[1]), static_cast<std::int64_t>(px) - (tile.x << 12));
        EXPECT_EQ(unzig(f.geometry[2]), static_cast<std::int64_t>(py) - (tile.y << 12));
        by_time.erase(seconds);
        ++points;
      } else {
        ASSERT_EQ(f.type, 3);
        ASSERT_EQ(f.geometry.size(), 11u);
        cells_per_zoom[tile.z] += static_cast<std::int64_t>(f.numbers.at("count"));
        EXPECT_LE(f.numbers.at("dose_mean_usvh"), f.numbers.at("dose_max_usvh"));
        EXPECT_GE(f.numbers.at("class_max"), f.numbers.at("class"));
      }
    }
  }
  EXPECT_EQ(points, walk.size());
  EXPECT_TRUE(by_time.empty());
  for (int z = 0; z < 14; ++z) EXPECT_EQ(cells_per_zoom[z], 30000) << "zoom " << z;
  // The same tiles when the sort goes through files, a run of 1,000 at a time.
  const std::vector<Tile> merged = Tiled(walk, 14, 1000);
  ASSERT_EQ(merged.size(), tiles.size());
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    EXPECT_EQ(merged[i].z, tiles[i].z);
    EXPECT_EQ(merged[i].gzipped, tiles[i].gzipped);
  }
}

TEST(TilePyramid, ACrowdedTileKeepsItsHighestDosesAndItsCellsCountThemAll) {
  // A meter left on a table: 250,000 readings in one spot, the hottest every tenth.
  TilePyramid pyramid(10, 30000);
  for (int i = 0; i < 250000; ++i) pyramid.Add(At(140.5, 37.4, i % 10 == 0 ? 1.0 : 0.1, i), 1);
  Collect tiles;
  pyramid.Build(DoseScale{}, tiles);
  EXPECT_EQ(pyramid.figures().dropped_points, 150000);
  std::size_t hot = 0, points = 0;
  for (const Tile& tile : tiles.tiles) {
    const auto layers = Decode(tile.gzipped);
    for (const Feature& f : layers[0].features) {
      if (tile.z == 10) {
        ++points;
        hot += f.numbers.at("dose_usvh") == 1.0;
      } else {
        EXPECT_EQ(f.numbers.at("count"), 250000);
        EXPECT_EQ(f.numbers.at("dose_max_usvh"), 1.0);
      }
    }
  }
  EXPECT_EQ(points, kTilePointLimit);
  EXPECT_EQ(hot, 25000u);
}

// Both containers carry the same metadata: the layers and their zooms, the classes with the run's
// thresholds, and the run's summary; MBTiles its named rows besides.
TEST(TileArchives, CarryTheLayersTheClassesAndTheRunsSummary) {
  testing::TempDir dir;
  dir.Write("drive.csv",
            "unix timestamp;doserate;lat;lng\n1763688600;0.05;37.42;140.47\n"
            "1763688602;0.3;37.4201;140.4701\n1763688604;0.9;37.4202;140.4702\n");
  DriveRequest request;
  request.logs = {(dir.path() / "drive.csv").string()};
  request.survey.yellow = 0.2, request.survey.red = 0.4;
  request.map.max_zoom = 12, request.map.max_zoom_given = true;
  request.maps = {dir.path() / "drive.pmtiles"};
  const DriveStatistics stats = ConvertDrive(request);
  request.maps = {dir.path() / "drive.mbtiles"};
  ConvertDrive(request);
  const std::string file = dir.Read("drive.pmtiles");
  const auto meta = nlohmann::ordered_json::parse(
      Gunzip(file.substr(Little<std::uint64_t>(file, 24), Little<std::uint64_t>(file, 32))));
  EXPECT_EQ(meta["vector_layers"][0]["id"], "measurements");
  EXPECT_EQ(meta["vector_layers"][0]["minzoom"], 12);
  EXPECT_EQ(meta["vector_layers"][0]["maxzoom"], 12);
  EXPECT_EQ(meta["vector_layers"][1]["id"], "cells");
  EXPECT_EQ(meta["vector_layers"][1]["maxzoom"], 11);
  EXPECT_EQ(meta["maxzoom"], 12);
  EXPECT_EQ(meta["bounds"], nlohmann::ordered_json({140.47, 37.42, 140.4702, 37.4202}));
  EXPECT_EQ(meta["dose_classes"].dump(),
            "[{\"class\":1,\"from_usvh\":0.0,\"to_usvh\":0.07,\"color\":\"#2c7bb6\"},"
            "{\"class\":2,\"from_usvh\":0.07,\"to_usvh\":0.2,\"color\":\"#abd9e9\"},"
            "{\"class\":3,\"from_usvh\":0.2,\"to_usvh\":0.4,\"color\":\"#ffffbf\"},"
            "{\"class\":4,\"from_usvh\":0.4,\"to_usvh\":0.5,\"color\":\"#fdae61\"},"
            "{\"class\":5,\"from_usvh\":0.5,\"to_usvh\":null,\"color\":\"#d7191c\"}]");
  EXPECT_EQ(meta["dropped_points"], 0);
  EXPECT_EQ(meta["summary"], nlohmann::ordered_json::parse(stats.Json()));
  EXPECT_EQ(meta["summary"]["kept"], 3);
  EXPECT_EQ(meta["summary"]["outside_tiles"], 0);
  // The viewer beside it names the file.
  EXPECT_NE(dir.Read("drive_files/index.html").find("data-archive=\"../drive.pmtiles\""),
            std::string::npos);

  sqlite3* db = nullptr;
  ASSERT_EQ(
      sqlite3_open_v2((dir.path() / "drive.mbtiles").c_str(), &db, SQLITE_OPEN_READONLY, nullptr),
      SQLITE_OK);
  std::map<std::string, std::string> rows;
  sqlite3_stmt* query = nullptr;
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT name, value FROM metadata", -1, &query, nullptr),
            SQLITE_OK);
  while (sqlite3_step(query) == SQLITE_ROW) {
    rows[reinterpret_cast<const char*>(sqlite3_column_text(query, 0))] =
        reinterpret_cast<const char*>(sqlite3_column_text(query, 1));
  }
  sqlite3_finalize(query);
  EXPECT_EQ(rows["name"], "drive");
  EXPECT_EQ(rows["format"], "pbf");
  EXPECT_EQ(rows["minzoom"], "0");
  EXPECT_EQ(rows["maxzoom"], "12");
  EXPECT_EQ(rows["bounds"], "140.47,37.42,140.4702,37.4202");
  const auto json = nlohmann::ordered_json::parse(rows["json"]);
  EXPECT_EQ(json["vector_layers"], meta["vector_layers"]);
  EXPECT_EQ(json["dose_classes"], meta["dose_classes"]);
  EXPECT_EQ(json["summary"], meta["summary"]);
  // A tile a zoom, TMS rows: zoom 12's row counted from the south.
  ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT zoom_level, tile_column, tile_row FROM tiles", -1,
                               &query, nullptr),
            SQLITE_OK);
  int tiles = 0;
  while (sqlite3_step(query) == SQLITE_ROW) {
    const int z = sqlite3_column_int(query, 0);
    std::uint32_t x, y;
    WorldPixel(140.47, 37.42, z, &x, &y);
    EXPECT_EQ(sqlite3_column_int64(query, 1), x >> 12);
    EXPECT_EQ(sqlite3_column_int64(query, 2), (1 << z) - 1 - (y >> 12));
    ++tiles;
  }
  sqlite3_finalize(query);
  sqlite3_close(db);
  EXPECT_EQ(tiles, 13);
}

}  // namespace
}  // namespace dosemap
