// Hotspots: readings well above the run's background, joined in space, ranked, and the same in
// every output that lists them.
#include "survey/hotspots.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "conversion/drive_conversion.h"
#include "dose/geodesy.h"
#include "survey/civil_time.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

constexpr double kLatitude = 37.0;
constexpr double kStepMetres = 10;
constexpr std::int64_t kStart = 1767225600;  // 2026-01-01T00:00:00Z

double LongitudeAt(double step) {
  return 140.0 +
         step * kStepMetres /
             (kEarthRadiusMetres * kRadiansPerDegree * std::cos(kLatitude * kRadiansPerDegree));
}

// A walk east along a parallel, a reading every 10 m and every second, on a background of 0.09,
// 0.10 and 0.11 µSv/h in turn (σ 0.01), with readings set apart at some steps.
struct Walk {
  std::map<int, std::pair<double, double>> set;  // step: dose, σ
  int steps = 3500;
  std::string Csv() const {
    std::string csv =
        "time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source\n";
    for (int i = 0; i < steps; ++i) {
      double dose = std::array{0.09, 0.1, 0.11}[i % 3], sigma = 0.01;
      if (const auto it = set.find(i); it != set.end()) std::tie(dose, sigma) = it->second;
      char row[200];
      std::snprintf(row, sizeof row, "%s,%.9f,%.9f,,%.17g,%.17g,,1,\n",
                    IsoTime(kStart + i, true).c_str(), kLatitude, LongitudeAt(i), dose, sigma);
      csv += row;
    }
    return csv;
  }
  void Set(int from, std::initializer_list<double> doses, double sigma = 0.01) {
    for (const double dose : doses) set[from++] = {dose, sigma};
  }
};

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// Three planted sources and one more of equal peak, a lone spike, two hot readings 150 m apart, a
// source too weak for its uncertainty, and a strong one at home.
Walk PlantedWalk() {
  Walk walk;
  walk.Set(300, {2, 2, 2, 2, 2, 2, 2});           // A: a plateau of 60 m
  walk.Set(700, {0.5, 1, 0.5});                   // F: peak 1 at 00:11:41
  walk.set[1100] = {1.5, 0.01};                   // a lone spike
  walk.set[1500] = walk.set[1515] = {0.8, 0.01};  // 150 m apart
  walk.Set(1900, {0.4, 0.8, 1, 0.8, 0.4});        // B: peak 1 at 00:31:42
  walk.Set(2300, {3, 3, 3, 3, 3});                // at home
  walk.Set(2700, {0.3, 0.3, 0.3}, 0.1);           // above twice the background, not 3σ
  walk.Set(3100, {0.5, 0.25});                    // C
  return walk;
}

struct Outputs {
  DriveStatistics stats;
  std::string csv, geojson;
};

Outputs Convert(const Walk& walk, double join_m = 100) {
  TempDir dir;
  dir.Write("drive.csv", walk.Csv());
  DriveRequest request;
  request.logs = {(dir.path() / "drive.csv").string()};
  request.maps = {dir.path() / "map.geojson"};
  char home[100];
  std::snprintf(home, sizeof home, "%.9f,%.9f,200", kLatitude, LongitudeAt(2302));
  request.survey.zones = {ParseCircleZone(home)};
  request.hotspots.join_m = join_m;
  request.hotspots_file = dir.path() / "hot.csv";
  Outputs run{ConvertDrive(request), ReadFile(dir.path() / "hot.csv"), ""};
  request.hotspots_file = dir.path() / "hot.geojson";
  ConvertDrive(request);
  run.geojson = ReadFile(dir.path() / "hot.geojson");
  return run;
}

TEST(Hotspots, PlantedSourcesAreFoundRankedAndTheSameInEveryOutput) {
  const Outputs run = Convert(PlantedWalk());
  ASSERT_NE(run.stats.hotspots(), nullptr);
  EXPECT_EQ(run.stats.hotspots()->background_usvh, 0.1);
  const nlohmann::json summary = nlohmann::json::parse(run.stats.Json());
  EXPECT_EQ(summary["background_usvh"], 0.1);
  const nlohmann::json& spots = summary["hotspots"];
  ASSERT_EQ(spots.size(), 4u) << spots.dump();
  struct Expected {
    double peak;
    int peak_step, count;
    double centre_step, radius_m;
  };
  // A; F before B, of the same peak, by its earlier time; C's centre weighted by its doses.
  const Expected expected[] = {{2, 300, 7, 303, 30},
                               {1, 701, 3, 701, 10},
                               {1, 1902, 5, 1902, 20},
                               {0.5, 3100, 2, 3100 + 1.0 / 3, 20.0 / 3}};
  const nlohmann::json geojson = nlohmann::json::parse(run.geojson);
  ASSERT_EQ(geojson["features"].size(), 4u);
  std::istringstream csv(run.csv);
  std::string row;
  std::getline(csv, row);
  EXPECT_EQ(row,
            "rank,dose_usvh,time,peak_latitude,peak_longitude,source,latitude,longitude,count,"
            "radius_m,mean_usvh,local_background_usvh,ratio\r");
  for (int r = 0; r < 4; ++r) {
    SCOPED_TRACE(r);
    const Expected& e = expected[r];
    const nlohmann::json& s = spots[static_cast<std::size_t>(r)];
    EXPECT_EQ(s["rank"], r + 1);
    EXPECT_EQ(s["dose_usvh"], e.peak);
    EXPECT_EQ(s["time"], IsoTime(kStart + e.peak_step, true));
    EXPECT_EQ(s["source"], "drive.csv:" + std::to_string(e.peak_step + 2));
    EXPECT_EQ(s["count"], e.count);
    EXPECT_NEAR(
        GreatCircleMetres(s["latitude"], s["longitude"], kLatitude, LongitudeAt(e.centre_step)), 0,
        0.05);
    EXPECT_NEAR(GreatCircleMetres(s["peak_latitude"], s["peak_longitude"], kLatitude,
                                  LongitudeAt(e.peak_step)),
                0, 0.05);
    EXPECT_NEAR(s["radius_m"].get<double>(), e.radius_m, 0.1);
    EXPECT_EQ(s["local_background_usvh"], 0.1);
    EXPECT_NEAR(s["ratio"].get<double>(), e.peak / 0.1, 1e-9);
    // The same hotspot in the GeoJSON file, at its centre, and in the CSV file's row.
    const nlohmann::json& feature = geojson["features"][static_cast<std::size_t>(r)];
    EXPECT_EQ(feature["properties"], s);
    EXPECT_EQ(feature["geometry"]["coordinates"],
              nlohmann::json::array({s["longitude"], s["latitude"]}));
    std::getline(csv, row);
    std::string cells;
    for (const char* field : kHotspotFields) {
      if (!cells.empty()) cells += ',';
      cells += s[field].is_string() ? s[field].get<std::string>() : s[field].dump();
    }
    EXPECT_EQ(row, cells + "\r");
  }
  EXPECT_FALSE(std::getline(csv, row));
  const std::string line = run.stats.Line();
  EXPECT_NE(line.find(", hotspots 4, highest 2 \xC2\xB5Sv/h at 2026-01-01T00:05:00Z, files read"),
            std::string::npos)
      << line;
}

TEST(Hotspots, TheJoinDistanceDecidesWhichHotReadingsBelongTogether) {
  // At 200 m the two readings 150 m apart are one hotspot; the lone spike stays alone.
  const nlohmann::json spots =
      nlohmann::json::parse(Convert(PlantedWalk(), 200).stats.Json())["hotspots"];
  ASSERT_EQ(spots.size(), 5u);
  EXPECT_EQ(spots[3]["dose_usvh"], 0.8);
  EXPECT_EQ(spots[3]["count"], 2);
  EXPECT_NEAR(spots[3]["radius_m"].get<double>(), 75, 0.1);
}

TEST(Hotspots, NoneAmongUniformReadingsAndNoneFromLoneSpikes) {
  Walk walk;
  walk.steps = 400;
  walk.set[100] = walk.set[300] = {5, 0.01};
  const Outputs run = Convert(walk);
  EXPECT_EQ(nlohmann::json::parse(run.stats.Json())["hotspots"], nlohmann::json::array());
  EXPECT_NE(run.stats.Line().find(", hotspots 0, files read"), std::string::npos);
  EXPECT_EQ(run.csv,
            "rank,dose_usvh,time,peak_latitude,peak_longitude,source,latitude,longitude,count,"
            "radius_m,mean_usvh,local_background_usvh,ratio\r\n");
  EXPECT_EQ(run.geojson, "{\"type\":\"FeatureCollection\",\"features\":[\n]}\n");
}

// The finder on its own, with measurements as the run hands them.
Measurement At(double step, double dose, double sigma = std::nan("")) {
  Measurement m;
  m.latitude = kLatitude, m.longitude = LongitudeAt(step);
  m.dose_usvh = dose, m.dose_sigma_usvh = sigma;
  m.time = kStart + static_cast<std::int64_t>(step), m.line = static_cast<long>(step) + 1;
  return m;
}

TEST(HotspotFinder, TheBackgroundIsTheMedianAndABackgroundOfZeroMakesNotEveryReadingHot) {
  {
    HotspotFinder finder({});
    finder.BeginLog(0, "a");
    for (const double dose : {0.3, -0.1, 0.2, 0.1}) finder.Add(At(0, dose), 1);
    EXPECT_DOUBLE_EQ(finder.Find().background_usvh, 0.15);  // the mean of the middle two
  }
  HotspotFinder finder({});
  finder.BeginLog(0, "a");
  for (int i = 0; i < 20; ++i) finder.Add(At(i, i == 7 || i == 8 ? 0.5 : 0), 1);
  const HotspotResult result = finder.Find();
  EXPECT_EQ(result.background_usvh, 0);
  ASSERT_EQ(result.hotspots.size(), 1u);
  EXPECT_EQ(result.hotspots[0].count, 2);
  EXPECT_EQ(result.hotspots[0].source, "a:8");
  // A peak over a local background of 0 has no finite ratio: null, as every null is written.
  EXPECT_EQ(nlohmann::json::parse(HotspotJson(result.hotspots[0]))["ratio"], nullptr);
  HotspotFinder zeros({});
  zeros.BeginLog(0, "a");
  for (int i = 0; i < 20; ++i) zeros.Add(At(i, 0), 1);
  EXPECT_TRUE(zeros.Find().hotspots.empty());
}

TEST(HotspotFinder, AMillionMeasurementsTakeUnder24MiBAndAreFoundInOneSecondsHotspot) {
  HotspotFinder finder({});
  finder.BeginLog(0, "big.LOG");
  for (int i = 0; i < 1000000; ++i) {
    const bool hot = i >= 500000 && i < 500010;
    Measurement m = At(i % 20000, hot ? 1.0 : 0.1 + 0.001 * (i % 7), 0.01);
    m.latitude += (i / 20000) * 0.001;  // 50 rows 111 m apart
    m.time = kStart + i, m.line = i + 1;
    finder.Add(m, 1);
  }
  EXPECT_LE(finder.bytes(), std::size_t{24} << 20);
  const HotspotResult result = finder.Find();
  ASSERT_EQ(result.hotspots.size(), 1u);
  EXPECT_EQ(result.hotspots[0].count, 10);
  EXPECT_EQ(result.hotspots[0].source, "big.LOG:500001");
  EXPECT_EQ(result.hotspots[0].time, kStart + 500000);
}

}  // namespace
}  // namespace dosemap
