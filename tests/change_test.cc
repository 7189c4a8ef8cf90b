// What changed since then: the change per cell between two periods, against radioactive decay.
#include "survey/change.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "conversion/drive_conversion.h"
#include "dose/geodesy.h"
#include "survey/civil_time.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

TEST(Change, DecayRatioExcessAndClassOnHandWorkedValues) {
  // 2^(-Δt / half-life): caesium-137 (30.08 y) and caesium-134 (2.065 y), one and ten years on.
  EXPECT_NEAR(DecayRatio(1, 30.08), 0.9772200159952178, 1e-15);
  EXPECT_NEAR(DecayRatio(10, 30.08), 0.7941883986332607, 1e-15);
  EXPECT_NEAR(DecayRatio(1, 2.065), 0.7148629062250497, 1e-15);
  EXPECT_NEAR(DecayRatio(10, 2.065), 0.03485199346295682, 1e-16);
  // A cell measured 0.3 then, 0.1 ten years later: a third, where caesium-137 alone leaves 0.794.
  ChangeCell cell{};
  cell.count[0] = cell.count[1] = 2;
  cell.dose_sum[0] = 0.6, cell.dose_sum[1] = 0.2;
  cell.time_mean[0] = 1e9, cell.time_mean[1] = 1e9 + 10 * kSecondsPerYear;
  const CellChange change = cell.Change(30.08);
  EXPECT_NEAR(change.ratio, 1.0 / 3, 1e-15);
  EXPECT_NEAR(change.excess, 1.0 / 3 / 0.7941883986332607 - 1, 1e-12);  // -0.580
  EXPECT_EQ(change.change_class, 1);
  cell.dose_sum[0] = 0;  // nothing to compare with: no ratio, grey
  EXPECT_TRUE(std::isnan(cell.Change(30.08).ratio));
  EXPECT_EQ(cell.Change(30.08).change_class, 0);
  // The classes' edges: -0.5 and -0.2 belong below, 0.2 and 0.5 above.
  for (const auto& [excess, expected] : {std::pair{-0.9, 1},
                                         {-0.5, 1},
                                         {-0.49, 2},
                                         {-0.2, 2},
                                         {-0.19, 3},
                                         {0.0, 3},
                                         {0.19, 3},
                                         {0.2, 4},
                                         {0.49, 4},
                                         {0.5, 5},
                                         {3.0, 5},
                                         {std::nan(""), 0}}) {
    SCOPED_TRACE(excess);
    EXPECT_EQ(ChangeClassOf(excess), expected);
  }
}

constexpr double kLatitude = 37.0;
constexpr std::int64_t kThen = 1748736000;  // 2025-06-01T00:00:00Z
constexpr std::int64_t kYear = 365 * 86400;

double LongitudeAt(int step) {
  return 140.0 +
         step * 10.0 /
             (kEarthRadiusMetres * kRadiansPerDegree * std::cos(kLatitude * kRadiansPerDegree));
}

constexpr const char* kHeader =
    "time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source\n";

// Steps from to to of a walk east along a parallel, a reading every 10 m and every second from
// start.
std::string Walk(std::int64_t start, int from, int to, double (*dose)(int step)) {
  std::string csv;
  for (int i = from; i < to; ++i) {
    char row[160];
    std::snprintf(row, sizeof row, "%s,%.9f,%.9f,,%.17g,,,1,\n", IsoTime(start + i, true).c_str(),
                  kLatitude, LongitudeAt(i), dose(i));
    csv += row;
  }
  return csv;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The route a year apart: 0-1 km cleaned to a third, 1-2 km unchanged, 2-3 km risen to twice,
// 3-3.5 km at 0 then; 3.5-4 km walked only then, 4-4.5 km only now.
TEST(Change, AYearApartTheCleanedUnchangedAndRisenStretchesGetTheirClasses) {
  TempDir dir;
  const auto then = [](int i) { return i < 300 ? 0.3 : i < 350 ? 0.0 : 0.3; };
  const auto now = [](int i) { return i < 100 ? 0.1 : i < 200 ? 0.3 : i < 300 ? 0.6 : 0.1; };
  dir.Write("then.csv", kHeader + Walk(kThen, 0, 400, then));
  dir.Write("now.csv",
            kHeader + Walk(kThen + kYear, 0, 350, now) + Walk(kThen + kYear, 400, 450, now));
  DriveRequest request;
  request.logs = {(dir.path() / "then.csv").string(), (dir.path() / "now.csv").string()};
  request.maps = {dir.path() / "change.csv", dir.path() / "change.geojson",
                  dir.path() / "change.html", dir.path() / "change.kml", dir.path() / "change.kmz"};
  request.grid_m = 100;
  request.compare = ParsePeriodTime("2026-01-01");
  const DriveStatistics stats = ConvertDrive(request);
  const nlohmann::json summary = nlohmann::json::parse(stats.Json());
  const nlohmann::json& compare = summary["compare"];
  const double decay = DecayRatio(365 / 365.25, 30.08);
  const nlohmann::json geojson = nlohmann::json::parse(ReadFile(dir.path() / "change.geojson"));
  const nlohmann::json& features = geojson["features"];
  EXPECT_EQ(compare["cells"], features.size());
  EXPECT_EQ(summary["cells"], features.size());
  EXPECT_GE(compare["cells_only_a"], 4);
  EXPECT_GE(compare["cells_only_b"], 4);
  EXPECT_EQ(compare["median_decay_ratio"], decay);
  EXPECT_EQ(summary["outside_period"], 0);  // the key is there with --compare
  std::array<int, 6> by_class{};
  double previous_west = -180;
  std::istringstream csv(ReadFile(dir.path() / "change.csv"));
  std::string row;
  std::getline(csv, row);
  EXPECT_EQ(row,
            "lat_south,lon_west,lat_north,lon_east,count_a,count_b,dose_mean_a_usvh,"
            "dose_mean_b_usvh,time_a,time_b,ratio,decay_ratio,excess,class,color\r");
  for (const nlohmann::json& feature : features) {
    const nlohmann::json& p = feature["properties"];
    const double west = feature["geometry"]["coordinates"][0][0][0];
    const double east = feature["geometry"]["coordinates"][0][1][0];
    EXPECT_GT(west, previous_west);
    previous_west = west;
    // A cell wholly within one stretch has that stretch's class.
    const auto within = [&](int from, int to) {
      return west >= LongitudeAt(from) && east <= LongitudeAt(to) - 1e-9;
    };
    const int expected = within(0, 100)     ? 1
                         : within(100, 200) ? 3
                         : within(200, 300) ? 5
                         : within(300, 350) ? 0
                                            : -1;
    if (expected >= 0) {
      EXPECT_EQ(p["class"], expected) << p.dump();
    }
    ++by_class[p["class"].get<std::size_t>()];
    EXPECT_EQ(p["color"], kChangeColours[p["class"].get<int>()]);
    // A cell walked whole both times: the means' times a year apart, to the second.
    if (expected >= 0) {
      EXPECT_EQ(p["decay_ratio"], decay);
      EXPECT_EQ(*ParsePeriodTime(p["time_b"].get<std::string>()) -
                    *ParsePeriodTime(p["time_a"].get<std::string>()),
                kYear);
    }
    if (expected == 0) {
      EXPECT_EQ(p["ratio"], nullptr);
      EXPECT_EQ(p["excess"], nullptr);
    }
    if (expected == 1) {
      EXPECT_NEAR(p["excess"].get<double>(), 1.0 / 3 / decay - 1, 1e-12);
    }
    // The CSV's row: the same cell.
    std::getline(csv, row);
    std::string cells;
    for (const char* field :
         {"count_a", "count_b", "dose_mean_a_usvh", "dose_mean_b_usvh", "time_a", "time_b", "ratio",
          "decay_ratio", "excess", "class", "color"}) {
      cells += ',';
      if (p[field].is_string()) cells += p[field].get<std::string>();
      if (p[field].is_number()) cells += p[field].dump();
    }
    EXPECT_NE(row.find(cells + "\r"), std::string::npos) << row << "\n" << cells;
  }
  // Ten cells of 100 m along each kilometre: most lie wholly in their stretch.
  EXPECT_GE(by_class[1], 8);
  EXPECT_GE(by_class[3], 8);
  EXPECT_GE(by_class[5], 8);
  EXPECT_GE(by_class[0], 4);
  // The report holds a row a compared cell (the browser tests draw them).
  const std::string report = ReadFile(dir.path() / "change.html");
  const std::size_t data = report.find("<script id=\"change\" type=\"application/json\">[");
  ASSERT_NE(data, std::string::npos);
  const std::string rows = report.substr(data, report.find("</script>", data) - data);
  EXPECT_EQ(static_cast<std::size_t>(std::count(rows.begin(), rows.end(), '\n')), features.size());
  // The KML: a Polygon placemark a compared cell in its change style, the legend beside it.
  const std::string kml = ReadFile(dir.path() / "change.kml");
  std::size_t placemarks = 0;
  for (std::size_t at = 0; (at = kml.find("<Placemark>", at)) != std::string::npos; ++at)
    ++placemarks;
  EXPECT_EQ(placemarks, features.size());
  for (int c = 0; c <= 5; ++c)
    EXPECT_NE(kml.find("<Style id=\"change" + std::to_string(c) + "\">"), std::string::npos);
  EXPECT_NE(kml.find("<href>change_files/legend.png</href>"), std::string::npos);
  EXPECT_EQ(ReadFile(dir.path() / "change_files" / "legend.png").substr(1, 3), "PNG");
  EXPECT_EQ(ReadFile(dir.path() / "change.kmz").substr(0, 2), "PK");
  EXPECT_NE(stats.Line().find(", cells " + std::to_string(features.size()) + " (only before "),
            std::string::npos)
      << stats.Line();
}

}  // namespace
}  // namespace dosemap
