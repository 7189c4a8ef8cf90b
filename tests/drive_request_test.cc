// The request's cross-option rules: each refused with its one line, before anything is opened.
#include <gtest/gtest.h>

#include <cmath>

#include "conversion/drive_conversion.h"
#include "survey/civil_time.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

class DriveRequestTest : public ::testing::Test {
 protected:
  DriveRequestTest() {
    dir_.Write("drive.LOG", "");
    dir_.Write("zones.txt", "37.4,140.5,100\n");
    request_.logs = {Path("drive.LOG")};
    request_.maps = {Path("out.kml")};
  }
  std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }
  // The message Validate refuses the request with, or "" when it takes it.
  std::string Refusal(SurveyErrorKind kind = SurveyErrorKind::kUsage) const {
    try {
      Validate(request_);
    } catch (const SurveyError& error) {
      EXPECT_EQ(error.kind(), kind) << error.what();
      const std::string what = error.what();
      EXPECT_EQ(what.find('\n'), std::string::npos) << what;
      return what;
    }
    return "";
  }

  TempDir dir_;
  DriveRequest request_;
};

TEST_F(DriveRequestTest, TakesAPlainRequestAndEveryFormOptionOnItsForms) {
  EXPECT_EQ(Refusal(), "");
  request_.map.labels = request_.map.time = true;
  request_.map.icon_url = "https://example.org/dot.png";
  EXPECT_EQ(Refusal(), "");
  request_.map.icon_url.clear();
  request_.map.icons_beside = true;
  request_.maps = {Path("out.kmz")};
  request_.rejects = Path("rejects.csv");
  request_.zone_files = {Path("zones.txt")};
  request_.grid_m = 100;
  request_.grid_min = 3;
  EXPECT_EQ(Refusal(), "");
}

TEST_F(DriveRequestTest, RefusesLogsAndMapsThatCannotBe) {
  request_.logs.clear();
  EXPECT_EQ(Refusal(), "no survey log named");
  request_.logs = {"-", Path("drive.LOG"), "-"};
  EXPECT_EQ(Refusal(), "standard input can be read once");
  request_.logs = {"-"};
  request_.maps.clear();
  EXPECT_EQ(Refusal(), "no map to write");
  request_.maps = {Path("out.txt")};
  EXPECT_EQ(Refusal(), Path("out.txt") +
                           ": the map's extension must be one of .kml, .kmz, .geojson, .gpx, "
                           ".csv, .html, .htm, .log, .pmtiles, .mbtiles");
  request_.maps = {Path("out.LOG")};
  EXPECT_EQ(Refusal(),
            Path("out.LOG") + ": a cleaned log is copied out of log files, not standard input");
}

TEST_F(DriveRequestTest, RefusesThresholdsOutOfOrder) {
  request_.survey.yellow = 0.19;
  request_.survey.red = 0.19;
  EXPECT_EQ(Refusal(SurveyErrorKind::kBadThresholds), "--yellow must be below --red");
}

TEST_F(DriveRequestTest, RefusesGridRulesAcrossOptionsAndForms) {
  request_.grid_min = 2;
  EXPECT_EQ(Refusal(), "--grid-min needs --grid");
  request_.grid_m = 250;
  request_.maps = {Path("out.kml"), Path("out.gpx")};
  EXPECT_EQ(Refusal(), Path("out.gpx") + ": a .gpx map has no grid; nothing was written");
}

TEST_F(DriveRequestTest, RefusesAFormOptionOnAFormThatDoesNotTakeIt) {
  request_.map.labels = true;
  request_.maps = {Path("out.kml"), Path("out.geojson")};
  EXPECT_EQ(Refusal(), "--labels is for .kml and .kmz maps only, not out.geojson");
  request_.map.labels = false;
  request_.map.icon_url = "https://example.org/dot.png";
  request_.maps = {Path("out.kmz")};
  EXPECT_EQ(Refusal(), "--icon-url is for .kml maps only, not out.kmz");
  request_.map.icon_url.clear();
  request_.map.icons_beside = true;
  request_.maps = {Path("out.html")};
  EXPECT_EQ(Refusal(), "--icons-beside is for .kmz maps only, not out.html");
  request_.map.icons_beside = false;
  request_.map.time = true;
  request_.maps = {Path("out.csv")};
  EXPECT_EQ(Refusal(), "--time is for .kml and .kmz maps only, not out.csv");
}

TEST_F(DriveRequestTest, RefusesOutputsThatAreAnotherOutputALogOrAZoneFile) {
  request_.rejects = Path("out.kml");
  EXPECT_EQ(Refusal(), "--rejects names the map itself");
  request_.rejects = Path("drive.LOG");
  EXPECT_EQ(Refusal(), "--rejects names a survey log");
  request_.zone_files = {Path("zones.txt")};
  request_.rejects = Path("zones.txt");
  EXPECT_EQ(Refusal(), "--rejects names a privacy file");
  request_.rejects = Path("out_files/square.png");
  EXPECT_EQ(Refusal(), Path("out_files/square.png") + ": written by both " + Path("out.kml") +
                           " and --rejects; nothing was written");
  request_.rejects.clear();
  // The user's zone file is never written over, by a map or by its pictures.
  request_.maps = {Path("zones.txt.kml")};
  request_.zone_files = {Path("zones.txt.kml")};
  EXPECT_EQ(Refusal(), Path("zones.txt.kml") + ": is the privacy file, written by " +
                           Path("zones.txt.kml") + "; nothing was written");
  request_.zone_files.clear();
  request_.maps = {Path("drive.LOG.kml")};
  dir_.Write("drive.LOG.kml", "");
  request_.logs = {Path("drive.LOG.kml")};
  EXPECT_EQ(Refusal(), Path("drive.LOG.kml") + ": is the map " + Path("drive.LOG.kml") +
                           " itself; nothing was written");
  request_.logs = {Path("drive.LOG")};
  request_.maps = {Path("a.kml"), dir_.path() / "." / "a.kml"};
  EXPECT_EQ(Refusal().find(": written by both "), Path("a.kml").size() + 2);
}

TEST_F(DriveRequestTest, RefusesAHotspotsFileOrLimitThatCannotBe) {
  for (const char* name : {"hot.csv", "hot.geojson"}) {
    request_.hotspots_file = Path(name);
    EXPECT_EQ(Refusal(), "");
  }
  request_.hotspots_file = Path("hot.kml");
  EXPECT_EQ(Refusal(), Path("hot.kml") +
                           ": the hotspots file's extension must be .csv or .geojson; nothing was "
                           "written");
  request_.maps = {Path("out.csv")};
  request_.hotspots_file = Path("out.csv");
  EXPECT_EQ(Refusal(), "--hotspots names the map itself");
  dir_.Write("drive.csv", "");
  request_.logs = {Path("drive.csv")};
  request_.hotspots_file = Path("drive.csv");
  EXPECT_EQ(Refusal(), "--hotspots names a survey log");
  request_.logs = {Path("drive.LOG")};
  request_.hotspots_file = request_.rejects = Path("hot.csv");
  EXPECT_EQ(Refusal(), "--hotspots and --rejects name one file");
  request_.rejects.clear();
  request_.hotspots.enabled = false;
  EXPECT_EQ(Refusal(), "--hotspots needs the hotspots that --no-hotspots turns off");
  request_.hotspots.enabled = true;
  request_.hotspots_file.clear();
  for (const double factor : {1.0, 0.5, -2.0, std::nan(""), HUGE_VAL}) {
    request_.hotspots.factor = factor;
    EXPECT_EQ(Refusal(), "--hotspot-factor takes a number above 1");
  }
  request_.hotspots.factor = 1.5;
  for (const double join : {0.0, -1.0, std::nan(""), HUGE_VAL}) {
    request_.hotspots.join_m = join;
    EXPECT_EQ(Refusal(), "--hotspot-join takes a number of metres above 0");
  }
  request_.hotspots.join_m = 0.5;
  EXPECT_EQ(Refusal(), "");
  request_.hotspots_file = Path("hot.csv");
  request_.check = true;
  request_.maps.clear();
  EXPECT_EQ(Refusal(), "--check writes no map: no --hotspots");
}

TEST_F(DriveRequestTest, RefusesACompareWithoutItsGridOrPeriod) {
  request_.compare = ParsePeriodTime("2026-01-01");
  EXPECT_EQ(Refusal(), "--compare needs --grid: it maps cells");
  request_.grid_m = 100;
  EXPECT_EQ(Refusal(), "");  // every form with a grid draws the change
  request_.maps = {Path("out.gpx")};
  EXPECT_EQ(Refusal(), Path("out.gpx") + ": a .gpx map has no grid; nothing was written");
  request_.maps = {Path("out.csv"), Path("out.geojson")};
  EXPECT_EQ(Refusal(), "");
  request_.survey.period.since = ParsePeriodTime("2026-01-01");
  EXPECT_EQ(Refusal(), "");  // the first second of B may be the period's first
  request_.survey.period.until = ParsePeriodTime("2026-01-01T00:00:01Z");
  EXPECT_EQ(Refusal(), "");
  request_.survey.period.since = ParsePeriodTime("2026-01-02");
  request_.survey.period.until.reset();
  EXPECT_EQ(Refusal(), "--compare T must lie within the period of --since and --until");
  request_.survey.period.since.reset();
  request_.half_life_years = 0, request_.half_life_given = true;
  EXPECT_EQ(Refusal(), "--half-life takes a number of years above 0");
  request_.half_life_years = 2.065;
  EXPECT_EQ(Refusal(), "");
  request_.compare.reset();
  EXPECT_EQ(Refusal(), "--half-life needs --compare");
}

TEST_F(DriveRequestTest, ACheckWritesNoMapAndTakesNothingOnlyAMapTakes) {
  request_.check = true;
  EXPECT_EQ(Refusal(), "--check writes no map: it takes no -o");
  request_.maps.clear();
  request_.rejects = Path("rejects.csv");
  request_.zone_files = {Path("zones.txt")};
  EXPECT_EQ(Refusal(), "");
  request_.grid_m = 100;
  EXPECT_EQ(Refusal(), "--check writes no map: no --grid");
  request_.grid_m = 0;
  request_.map.icons_beside = true;
  EXPECT_EQ(Refusal(), "--check writes no map: no --icons-beside");
  request_.map.icons_beside = false;
  request_.rejects = Path("drive.LOG");
  EXPECT_EQ(Refusal(), "--rejects names a survey log");
}

// The conversion checks its request itself: a caller that skips Validate writes nothing wrong.
TEST_F(DriveRequestTest, ConvertDriveRefusesWhatValidateRefusesAndWritesNothing) {
  request_.map.labels = true;
  request_.maps = {Path("out.gpx")};
  EXPECT_THROW(ConvertDrive(request_), SurveyError);
  EXPECT_FALSE(dir_.Exists("out.gpx"));
}

}  // namespace
}  // namespace dosemap
