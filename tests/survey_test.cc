// The device log readers on real sample lines and on each fault real logs show, the privacy
// zones, the times, and the drive's figures.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "survey/civil_time.h"
#include "survey/grid.h"
#include "survey/json_stream.h"
#include "survey/log_format.h"
#include "survey/parse_ahead.h"
#include "survey/privacy.h"
#include "survey/read_ahead.h"
#include "survey/readers.h"
#include "survey/statistics.h"
#include "survey/survey_run.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

// bGeigie sentences with a correct checksum.
std::string Sentence(const std::string& body) {
  unsigned char sum = 0;
  for (const char c : body) sum ^= static_cast<unsigned char>(c);
  char hex[3];
  std::snprintf(hex, sizeof hex, "%02X", sum);
  return "$" + body + "*" + hex;
}

std::vector<RecordResult> Parse(std::string_view format, const std::vector<std::string>& lines,
                                const ReaderOptions& options = {}) {
  const std::unique_ptr<LineParser> parser = FormatNamed(format)->line_parser(options);
  std::vector<RecordResult> results;
  for (const std::string& line : lines) parser->ParseLine(line, results);
  return results;
}

struct Expected {
  Expected(RejectReason r, double lat = 0, double lon = 0, double d = 0, double c = -1,
           std::string t = "")
      : reason(r), latitude(lat), longitude(lon), dose(d), cpm(c), time(std::move(t)) {}
  RejectReason reason;
  double latitude, longitude, dose, cpm;  // cpm -1: none
  std::string time;                       // ISO, for kept records
};

void ExpectRecords(const std::vector<RecordResult>& results,
                   const std::vector<Expected>& expected) {
  ASSERT_EQ(results.size(), expected.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    const RecordResult& r = results[i];
    EXPECT_EQ(ReasonName(r.reason), ReasonName(expected[i].reason));
    if (r.reason != RejectReason::kNone) continue;
    const Measurement& m = r.measurement;
    EXPECT_NEAR(m.latitude, expected[i].latitude, 1e-9);
    EXPECT_NEAR(m.longitude, expected[i].longitude, 1e-9);
    EXPECT_NEAR(m.dose_usvh, expected[i].dose, 1e-12);
    EXPECT_EQ(m.has_cpm, expected[i].cpm >= 0);
    if (m.has_cpm) {
      EXPECT_DOUBLE_EQ(m.cpm, expected[i].cpm);
    }
    EXPECT_EQ(IsoTime(m.time, m.utc), expected[i].time);
  }
}

TEST(BgeigieReader, ReadsThePublicSampleLinesAndRejectsEachFault) {
  const std::string good =
      "BNXRDD,301,2013-10-09T05:47:35Z,34,4,335,A,4631.3654,N,00637.6752,E,459.0,A,4,2.80,1";
  const std::string west =
      "BNRDD,300,2012-12-16T17:58:24Z,31,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1";
  // The minus printed before a W coordinate after the checksum was computed without it.
  const std::string checksum = Sentence(west).substr(Sentence(west).find('*'));
  const std::string quirk =
      "$" + west.substr(0, west.find("07355")) + "-" + west.substr(west.find("07355")) + checksum;
  const std::vector<std::string> lines = {
      "# comment: format=1.3.6",
      "",
      "$BNRDD,2108,2013-12-06T13:03:58Z,22,2,115,A,3145.7607,N,03510.1975,E,734.90,V,3,908*64",
      "$BNXRDD,301,2013-10-09T05:47:35Z,34,4,335,A,4631.3654,N,00637.6752,E,459.0,A,4,2.80,1*14",
      "$BNXRDD,301,2013-10-09T05:47:35Z,34,4,335,A,4631.3654,N,00637.6752,E,459.0,A,4,2.80,1*15",
      Sentence(good) + "junk" + Sentence(good),  // a lost line end: two sentences
      quirk,
      Sentence(west).substr(0, 30),  // cut off
      Sentence("BNRDD,300,2012-12-16T17:58:24Z,31,9,115,V,4043.5368,N,07355.3663,W,11.50,A,7,1"),
      Sentence("BNRDD,300,2012-12-16T17:58:24Z,31,9,115,A,0000.0000,N,00000.0000,E,11.50,A,7,1"),
      Sentence("BNRDD,300,2012-12-16T17:58:24Z,31,9,115,A,4043.5368,X,07355.3663,W,11.50,A,7,1"),
      Sentence("BNRDD,300,2012-12-16T17:58:24Z,3x1,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1"),
      Sentence("BNRDD,300,2012-13-16T17:58:24Z,31,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1"),
      Sentence("GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W"),
      Sentence("BNRDD,300,2012-12-16T17:58:24Z,31,9"),
      Sentence(
          "BGRDD,1,2011-05-01T00:00:00Z,60,5,60,A,537.5000,N,00410.0000,W,5,A,7"),  // few degree
                                                                                    // digits
      Sentence("BMRDD,1,2011-05-01T00:00:00Z,60,5,60,A,9537.5000,N,00410.0000,W,5,A,7"),
  };
  const double ny_lat = 40 + 43.5368 / 60, ny_lon = -(73 + 55.3663 / 60);
  ExpectRecords(Parse("bgeigie", lines),
                {{RejectReason::kGpsVoid},
                 {RejectReason::kNone, 46 + 31.3654 / 60, 6 + 37.6752 / 60, 34 / 334.0, 34,
                  "2013-10-09T05:47:35Z"},
                 {RejectReason::kChecksum},
                 {RejectReason::kNone, 46 + 31.3654 / 60, 6 + 37.6752 / 60, 34 / 334.0, 34,
                  "2013-10-09T05:47:35Z"},
                 {RejectReason::kNone, 46 + 31.3654 / 60, 6 + 37.6752 / 60, 34 / 334.0, 34,
                  "2013-10-09T05:47:35Z"},
                 {RejectReason::kNone, ny_lat, ny_lon, 31 / 334.0, 31, "2012-12-16T17:58:24Z"},
                 {RejectReason::kChecksum},
                 {RejectReason::kRadiationVoid},
                 {RejectReason::kZeroPosition},
                 {RejectReason::kNumber},
                 {RejectReason::kNumber},
                 {RejectReason::kTime},
                 {RejectReason::kFields},
                 {RejectReason::kFields},
                 {RejectReason::kNone, 5 + 37.5 / 60, -(4 + 10 / 60.0), 60 / 334.0, 60,
                  "2011-05-01T00:00:00Z"},
                 {RejectReason::kPositionRange}});
}

TEST(BgeigieReader, KeepsThePositionOfABadSentenceForThePrivacyZones) {
  const auto results = Parse(
      "bgeigie",
      {"$BNRDD,300,2012-12-16T17:58:24Z,31,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1*00",
       Sentence("BNRDD,300,2012-12-16T17:58:24Z,31,9,115,A,4043.5368,Q,07355.3663,W,11.50,A,7,1")});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_TRUE(results[0].position_read);
  EXPECT_NEAR(results[0].measurement.longitude, -(73 + 55.3663 / 60), 1e-9);
  EXPECT_TRUE(results[1].position_read);
  EXPECT_TRUE(results[1].sign_unknown);
}

TEST(RadiacodeReader, MapsColumnsByHeaderNameAndConvertsUnits) {
  const std::vector<std::string> lines = {
      "Track: Walk\t123\tcomment\tEC",
      "Timestamp\tTime\tLatitude\tLongitude\tAccuracy\tDoseRate\tCountRate\tComment",
      "134007603713620000\t2025-08-27 09:26:11\t41.2184571\t-1.1548868\t1.94\t6.52\t7.47",
      "134007603713620000\t2025-08-27 09:26:1x\t41.2184571\t-1.1548868\t1.94\t6.52\t7.47",
      "134007603713620000\t2025-08-27 09:26:11\t41.2184571",
      "Timestamp\tExtra\tTime\tLatitude\tLongitude\tAccuracy\tDoseRate\tCountRate",  // a newer
                                                                                     // export
      "1\tx\t2025-08-27 09:26:12\t41.5\t-1.5\t1.94\t10\t",
  };
  ExpectRecords(
      Parse("radiacode", lines),
      {{RejectReason::kNone, 41.2184571, -1.1548868, 0.0652, 7.47 * 60, "2025-08-27T09:26:11Z"},
       {RejectReason::kTime},
       {RejectReason::kFields},
       {RejectReason::kNone, 41.5, -1.5, 0.1, -1, "2025-08-27T09:26:12Z"}});
}

TEST(RadiacodeReader, SortsJsonMarkersByTimeKeepingTheirIndex) {
  const std::string track = R"({"id": 1, "markers": [
      {"date": 1756286772, "lat": 41.5, "lon": -1.5, "acc": 2, "doseRate": 10, "countRate": 2},
      {"date": 1756286771.9, "lat": 41.2, "lon": -1.1, "acc": 2, "doseRate": 6.52, "countRate": 7.47},
      {"date": 1756286773, "lat": 0, "lon": 0, "doseRate": 1, "countRate": 1},
      {"date": 1756286774, "lat": "x", "lon": 1, "doseRate": 1, "countRate": 1},
      {"lat": 1, "lon": 1, "doseRate": 1}]})";
  const std::vector<RecordResult> results = ParseRadiacodeJson(track, {});
  // Rejected markers come at once, in file order; the kept ones wait to be sorted.
  ExpectRecords(results,
                {{RejectReason::kZeroPosition},
                 {RejectReason::kNumber},
                 {RejectReason::kFields},
                 {RejectReason::kNone, 41.2, -1.1, 6.52, 7.47 * 60, "2025-08-27T09:26:11Z"},
                 {RejectReason::kNone, 41.5, -1.5, 10, 120, "2025-08-27T09:26:12Z"}});
  EXPECT_EQ(results[3].measurement.line, 2);
  EXPECT_EQ(results[4].measurement.line, 1);
  EXPECT_THROW(ParseRadiacodeJson("{\"markers\": 3}", {}), std::runtime_error);
  EXPECT_THROW(ParseRadiacodeJson("{\"markers\": [", {}), std::runtime_error);
}

TEST(SafecastReader, ReadsCountsAndDosesInEveryTimeForm) {
  ReaderOptions options;
  options.cpm_factor = 100;
  const std::vector<std::string> lines = {
      "Captured Time,Latitude,Longitude,Value,Unit,Location Name,Device "
      "ID,MD5Sum,Height,Surface,Radiation,Uploaded Time,Loader ID",
      "2011-09-26 09:36:06 UTC,37.7,140.4,35,cpm,\"Koriyama, west\",,abc,12,,,2011-09-27 00:00:00 "
      "UTC,1",
      "2011-09-26 09:36:07,37.7,140.4,0.12,usv,,,,,,,,",
      "2011-09-26T09:36:08Z,37.7,140.4,0.5,\xC2\xB5Sv/h,,,,,,,,",
      "2011-09-26 09:36:09,37.7,140.4,5,mR,,,,,,,,",
      "yesterday,37.7,140.4,5,cpm,,,,,,,,",
      "2011-09-26 09:36:09,91,140.4,5,cpm,,,,,,,,",
      "2011-09-26 09:36:09,37.7",
  };
  ExpectRecords(Parse("safecast", lines, options),
                {{RejectReason::kNone, 37.7, 140.4, 0.35, 35, "2011-09-26T09:36:06Z"},
                 {RejectReason::kNone, 37.7, 140.4, 0.12, -1, "2011-09-26T09:36:07Z"},
                 {RejectReason::kNone, 37.7, 140.4, 0.5, -1, "2011-09-26T09:36:08Z"},
                 {RejectReason::kNumber},
                 {RejectReason::kTime},
                 {RejectReason::kPositionRange},
                 {RejectReason::kFields}});
}

TEST(ErsReader, ReadsKeyValueRecordsWithDecimalCommas) {
  const std::vector<std::string> lines = {
      "IPC WGS84",
      "PA 1;CD 2019-07-15;CT 10:22:33;PN 49.12345;PE 14.3456;PH 1;DHSR 0.123",
      "PA 2;CD 2019-07-15;CT 10:22:34;PN 49.5;PE 14.5;PZ 400.5;PH 1;DHSR 0,25",
      "PA 3;CD 2019-07-15;CT 10:22:35;PN 49.5;PE 14.5",
      "PA 4;CD 2019-07-32;CT 10:22:35;PN 49.5;PE 14.5;DHSR 1",
      "PA 5;CD 2019-07-15;CT 10:22:35;PN 49.5;PE 181;DHSR 1",
  };
  const std::vector<RecordResult> results = Parse("ers", lines);
  ExpectRecords(results,
                {{RejectReason::kNone, 49.12345, 14.3456, 0.123, -1, "2019-07-15T10:22:33Z"},
                 {RejectReason::kNone, 49.5, 14.5, 0.25, -1, "2019-07-15T10:22:34Z"},
                 {RejectReason::kFields},
                 {RejectReason::kTime},
                 {RejectReason::kPositionRange}});
  EXPECT_DOUBLE_EQ(results[1].measurement.altitude, 400.5);
}

TEST(OwnReader, RejectsALineWithoutShiftingTheNext) {
  ReaderOptions utc;
  utc.utc_offset = 9 * 3600;
  const std::vector<std::string> lines = {
      "Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude",
      "2026/11/14 09:00:04,A,18,0.062,35.338111,139.479021,43.3",
      "2026/11/14 09:00:05,A,18,0.062,35.338111,139.479021,43.3,stray",
      "2026/11/14 09:00:06,A,n/a,0.062,35.338111,139.479021,43.3",
      "2026/11/14 9:00:07,A,18,0.062,35.338111,139.479021,43.3",
      "2026/11/14 09:00:08,\"A,B\",,0.07,35.5,139.5,1",
  };
  ExpectRecords(Parse("own", lines),
                {{RejectReason::kNone, 35.338111, 139.479021, 0.062, 18, "2026-11-14T09:00:04"},
                 {RejectReason::kFields},
                 {RejectReason::kNumber},
                 {RejectReason::kTime},
                 {RejectReason::kNone, 35.5, 139.5, 0.07, -1, "2026-11-14T09:00:08"}});
  EXPECT_EQ(IsoTime(Parse("own", {lines[0], lines[1]}, utc)[0].measurement.time, true),
            "2026-11-14T00:00:04Z");
}

TEST(DetectFormat, TellsEachFormatFromItsFirstLines) {
  const struct {
    std::string head;
    std::string format;  // its row's name and line parser: "" for none, "json" for the JSON track
  } cases[] = {
      {"# NEW LOG\r\n# x\r\n$BNRDD,2108,2013", "bgeigie"},
      {"Track: a\tb\nTimestamp\tTime\t", "radiacode"},
      {"  {\"markers\": []}", "json"},
      {"Captured Time,Latitude,Longitude,Value", "safecast"},
      {"IPC WGS84\r\nPA 1;CD 2019-07-15", "ers"},
      {"Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude\r\n2026/11/14 09:00:04,A", "own"},
      // The earliest telling line wins: a database header before a stray sentence.
      {"Captured Time,Latitude\n$BNRDD,2108,2013", "safecast"},
      {"a,b,c\n1,2,3\n", ""},
      {"", ""},
      {"\x89PNG\r\n", ""},
      {"\n# NEW LOG\n# format=2.0.0CzechRad\n$CZRA1,0159,2024-04-21T05:16:31Z", "czechrad"},
      {"$BZRDD,1,2024", "bgeigie"},
      {"unix timestamp;doserate (uSv/h);lat;lng", "atomfast"},
      {"[{\"dv\":3,\"d\":0.0536,\"r\":3,\"lat\":53.893616,\"lng\":27.477983}]", "json"},
      {"[{\"x\":1}]", ""},
      {"<?xml version=\"1.0\"?>\n<kml>\n<Placemark>\n<description><![CDATA[<b>26 июл 2025 "
       "11:28:49</b></br>0.15 мкЗв/ч</br>]]></description>",
       "json"},
      {"<kml><Document><name>a</name></Document></kml>", ""},
      {"time,latitude,longitude,altitude,dose_usvh,cpm,class,source\r\n", "csv"},
      {"time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source\r\n", "csv"},
      {"{\"type\":\"FeatureCollection\",\"features\":[\n{\"properties\":{\"dose_usvh\":1}}",
       "json"},
  };
  for (const auto& c : cases) {
    const FormatRow* format = DetectFormat(c.head);
    const std::string told = format == nullptr                ? ""
                             : format->line_parser == nullptr ? "json"
                                                              : std::string(format->name);
    EXPECT_EQ(told, c.format) << c.head;
  }
  EXPECT_EQ(FormatNames(),
            "radiacode, bgeigie, czechrad, atomfast, radiacode-kml, safecast, ers, own, csv, "
            "geojson");
  EXPECT_EQ(DetectFormat("[{\"d\":1,\"lat\":2}]")->name, "atomfast");
  EXPECT_EQ(DetectFormat("<kml><b>Feb 3, 2024 18:10:04</b></br>0.29 \xC2\xB5Sv/h")->name,
            "radiacode-kml");
  EXPECT_EQ(DetectFormat("{\"type\":\"FeatureCollection\",\"dose_usvh\":1")->name, "geojson");
}

TEST(CivilTime, ReadsTheFormsLogsUseAndRefusesImpossibleDates) {
  EXPECT_EQ(ParseCivilTime("1970-01-01 00:00:00"), 0);
  EXPECT_EQ(ParseCivilTime("2026-11-14T09:00:00+09:00"), ParseCivilTime("2026-11-14 00:00:00 UTC"));
  EXPECT_EQ(ParseCivilTime("2024-02-29T23:59:59.75Z"), ParseCivilTime("2024/02/29 23:59:59"));
  for (const char* bad :
       {"2023-02-29 00:00:00", "2026-11-14 24:00:00", "2026-11-14", "2026-11-14 09:00:00 JST",
        "2026-11-14 09:00:00+9", "2026-1-14 09:00:00"}) {
    EXPECT_FALSE(ParseCivilTime(bad)) << bad;
  }
  EXPECT_EQ(IsoTime(*ParseCivilTime("1969-12-31 23:59:59"), true), "1969-12-31T23:59:59Z");
  EXPECT_EQ(ParseUtcOffset("-05:30"), -19800);
  EXPECT_FALSE(ParseUtcOffset("+25:00"));
}

TEST(PrivacyZones, CirclesAndBoxesIncludeTheirEdgesAndBoxesCrossTheAntimeridian) {
  const PrivacyZone circle = ParseCircleZone("35.3462,139.4877,100");
  EXPECT_TRUE(circle.Contains(35.3462, 139.4877));
  // 100 m north is 100 / 6371008.8 radians.
  const double edge = 100 / 6371008.8 * 180 / 3.14159265358979323846;
  EXPECT_TRUE(circle.Contains(35.3462 + edge * 0.999999, 139.4877));
  EXPECT_FALSE(circle.Contains(35.3462 + edge * 1.000001, 139.4877));
  const PrivacyZone box = ParseBoxZone("-10,170,10,-170");
  EXPECT_TRUE(box.Contains(0, 179.9));
  EXPECT_TRUE(box.Contains(10, -170));
  EXPECT_FALSE(box.Contains(0, 0));
  for (const char* bad : {"1,2", "91,0,5", "0,0,-1", "a,b,c"})
    EXPECT_THROW(ParseCircleZone(bad), SurveyError) << bad;
  for (const char* bad : {"10,0,-10,1", "0,0,1", "0,181,1,1"})
    EXPECT_THROW(ParseBoxZone(bad), SurveyError) << bad;

  testing::TempDir dir;
  dir.Write("zones.txt", "# home\n35.3462,139.4877,100  # with a comment\n\n-10,170,10,-170\n");
  std::vector<PrivacyZone> zones;
  ReadPrivacyFile((dir.path() / "zones.txt").string(), zones);
  EXPECT_EQ(zones.size(), 2u);
  dir.Write("bad.txt", "35.3462,139.4877,100\n35.3462;139.4877\n");
  const auto failure = [&](const std::filesystem::path& path) {
    try {
      ReadPrivacyFile(path.string(), zones);
    } catch (const SurveyError& error) {
      return std::pair{error.kind(), std::string(error.what())};
    }
    return std::pair{SurveyErrorKind::kUsage, std::string("no failure")};
  };
  const auto [kind, why] = failure(dir.path() / "bad.txt");
  EXPECT_EQ(kind, SurveyErrorKind::kBadZone);
  EXPECT_NE(why.find("bad.txt: line 2: "), std::string::npos);
  EXPECT_EQ(why.find("139.4877"), std::string::npos);  // the user's place is never echoed
  EXPECT_EQ(failure(dir.path()).first, SurveyErrorKind::kCannotReadZones);
  EXPECT_EQ(failure(dir.path() / "none.txt").first, SurveyErrorKind::kCannotReadZones);
}

TEST(PrivacyZones, BoxesMayNotTurnInsideOutAndTreat180AsOneMeridian) {
  EXPECT_NO_THROW(ParseBoxZone("-18,179,-17,-179"));        // 2 degrees across the antimeridian
  EXPECT_THROW(ParseBoxZone("10,10,20,-10"), SurveyError);  // 340 degrees: W and E swapped
  EXPECT_THROW(ParseBoxZone("10,90,20,-90"), SurveyError);  // exactly 180
  EXPECT_THROW(ParseCircleZone("10,10,0"), SurveyError);
  const PrivacyZone east_edge = ParseBoxZone("10,170,20,180");
  const PrivacyZone west_edge = ParseBoxZone("10,-180,20,-170");
  EXPECT_TRUE(east_edge.Contains(15, -180));
  EXPECT_TRUE(west_edge.Contains(15, 180));
  EXPECT_FALSE(east_edge.Contains(15, -179.999));
  testing::TempDir dir;
  dir.Write("bom.txt", "\xEF\xBB\xBF# home\n35.1,139.1,100\n");
  std::vector<PrivacyZone> zones;
  ReadPrivacyFile((dir.path() / "bom.txt").string(), zones);
  EXPECT_EQ(zones.size(), 1u);
}

TEST(PrivacyZones, ALineCrossesAZoneWhenItPassesWithinItOrIsTooLongToTell) {
  const std::vector<PrivacyZone> circle = {ParseCircleZone("10,10.002,50")};
  const std::vector<PrivacyZone> box = {ParseBoxZone("9.999,10.0015,10.001,10.0025")};
  const std::vector<PrivacyZone> fiji = {ParseBoxZone("-17,179.9,-16,-179.9")};
  struct Case {
    const std::vector<PrivacyZone>* zones;
    double lat1, lon1, lat2, lon2;
    bool crosses;
  } const cases[] = {
      {&circle, 10, 10.000, 10, 10.004, true},            // straight through the centre
      {&circle, 10.0002, 10.000, 10.0002, 10.004, true},  // 22 m off the centre
      {&circle, 10.001, 10.000, 10.001, 10.004, false},   // 111 m off: clear of 50 m and the margin
      {&circle, 10, 10.000, 10, 10.001, false},           // ends 110 m short of it
      {&circle, 10, 10.003, 10, 10.004, false},  // starts 110 m past the centre, going away
      {&circle, 10, 10.0025, 10, 10.004, true},  // 55 m: within the margin of 20 m
      {&box, 10, 10.000, 10, 10.004, true},
      {&box, 10.002, 10.000, 10.002, 10.004, false},
      {&box, 9.9, 10.002, 10.1, 10.002, true},        // north to south through it
      {&fiji, -16.5, 179.95, -16.5, 179.99, true},    // in the half east of 179.9
      {&fiji, -16.5, -179.95, -16.5, -179.92, true},  // in the half west of -179.9
      {&fiji, -16.5, 179.0, -16.5, 179.5, false},
      {&circle, 0, 0, 0, 1.5, true},             // 167 km: too long to tell
      {&circle, 10, 179.99, 10, -179.99, true},  // across the antimeridian
  };
  for (const Case& c : cases) {
    EXPECT_EQ(LineMayCrossAnyZone(*c.zones, c.lat1, c.lon1, c.lat2, c.lon2), c.crosses)
        << c.lat1 << "," << c.lon1 << " to " << c.lat2 << "," << c.lon2;
  }
  EXPECT_FALSE(LineMayCrossAnyZone({}, 0, 0, 0, 1.5)) << "no zone, nothing to cross";
}

TEST(PrivacyDoubt, AnyReadingOfTwoNumbersInAZoneMakesARecordPrivate) {
  const std::vector<PrivacyZone> home = {ParseCircleZone("35.6812,139.7671,100")};
  const std::vector<PrivacyZone> box = {ParseBoxZone("-18,179,-17,-179")};
  struct Case {
    const char* text;
    const std::vector<PrivacyZone>* zones;
    bool is_private;
  } cases[] = {
      // A bGeigie sentence cut off before its E/W letter: DDMM.MMMM readings.
      {"$BNRDD,2601,2026-11-21T01:30:00Z,28,2,2,A,3540.8720,N,13946.02", &home, true},
      // An own-log line with a field too many, and one with decimal commas.
      {"2026/01/01 00:00:05,A,10,0.1,35.6812,139.7671,1,extra", &home, true},
      {"2026/01/01 00:00:10,A,10,0.1,35,6812,139,7671,1", &home, true},
      // Either order and either sign.
      {"lon 139.7671 lat 35.6812", &home, true},
      {"x;-17.5;y;179.5", &box, true},
      {"x;17.5;y;-179.5", &box, true},
      // Far away, or a single number.
      {"2026/01/01 00:00:15,A,10,0.1,37.2,140.2,1,extra", &home, false},
      {"35.6812", &home, false},
      {"", &home, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MayLieInAnyZone(*c.zones, c.text), c.is_private) << c.text;
  }
  EXPECT_FALSE(MayLieInAnyZone({}, cases[0].text));
  // A megabyte of numbers near the zone is read in a bounded time.
  std::string many;
  for (int i = 0; many.size() < (1 << 20); ++i)
    many += "35.68" + std::to_string(i % 100) + ",139.76" + std::to_string(i % 100) + ";";
  EXPECT_TRUE(MayLieInAnyZone(home, many));
}

TEST(DecimalCommas, ErsAndTsvExportsReadLikeTheirDecimalPointTwins) {
  const auto kept_of = [](std::string_view format, const std::vector<std::string>& lines) {
    const std::vector<RecordResult> results = Parse(format, lines);
    EXPECT_EQ(results.size(), 1u);
    return results.empty() ? RecordResult{} : results[0];
  };
  const RecordResult point =
      kept_of("ers", {"PA 1;CD 2026-11-21;CT 01:30:00;PN 37.421;PE 140.471;PZ 210.5;DHSR 0.0838"});
  const RecordResult comma =
      kept_of("ers", {"PA 1;CD 2026-11-21;CT 01:30:00;PN 37,421;PE 140,471;PZ 210,5;DHSR 0,0838"});
  ASSERT_EQ(comma.reason, RejectReason::kNone);
  EXPECT_EQ(comma.measurement.latitude, point.measurement.latitude);
  EXPECT_EQ(comma.measurement.longitude, point.measurement.longitude);
  EXPECT_EQ(comma.measurement.altitude, point.measurement.altitude);
  EXPECT_EQ(comma.measurement.dose_usvh, point.measurement.dose_usvh);
  const std::string header = "Timestamp\tTime\tLatitude\tLongitude\tAccuracy\tDoseRate\tCountRate";
  const RecordResult tsv_point =
      kept_of("radiacode", {header, "1\t2024-02-03 18:10:04\t37.5\t140.25\t4\t15.5\t9.25"});
  const RecordResult tsv_comma =
      kept_of("radiacode", {header, "1\t2024-02-03 18:10:04\t37,5\t140,25\t4\t15,5\t9,25"});
  ASSERT_EQ(tsv_comma.reason, RejectReason::kNone);
  EXPECT_EQ(tsv_comma.measurement.latitude, tsv_point.measurement.latitude);
  EXPECT_EQ(tsv_comma.measurement.dose_usvh, tsv_point.measurement.dose_usvh);
  EXPECT_EQ(tsv_comma.measurement.cpm, tsv_point.measurement.cpm);
  EXPECT_EQ(kept_of("ers", {"PA 1;CD 2026-11-21;CT 01:30:00;PN 37,4,2;PE 140;DHSR 1"}).reason,
            RejectReason::kNumber);
}

TEST(CivilTime, ALeapSecondOnlyEndsADay) {
  EXPECT_TRUE(ParseCivilTime("2016-12-31T23:59:60Z"));
  EXPECT_FALSE(ParseCivilTime("2016-12-31T23:58:60Z"));
  EXPECT_FALSE(ParseCivilTime("2016-12-31T12:59:60Z"));
}

TEST(RadiacodeReader, JsonDoseRatesAreMicrosievertsUnlessTheTrackSaysRoentgen) {
  // Real iOS tracks: "doseRate": 0.33 with "countRate": 31 cps, as the same model's TSV export
  // reads about 0.2 µSv/h at 9 cps. "sv": false, before or after the markers, means µR/h.
  const std::string marker =
      R"({"date": 1728127340, "lat": 44.085683, "lon": 43.031404, "countRate": 31, "doseRate": 0.33})";
  for (const auto& [track, dose] : std::vector<std::pair<std::string, double>>{
           {"{\"markers\": [" + marker + "]}", 0.33},
           {"{\"sv\": true, \"markers\": [" + marker + "]}", 0.33},
           {"{\"sv\": false, \"markers\": [" + marker + "]}", 0.0033},
           {"{\"markers\": [" + marker + "], \"isSievert\": false}", 0.0033}}) {
    const std::vector<RecordResult> results = ParseRadiacodeJson(track, {});
    ASSERT_EQ(results.size(), 1u) << track;
    EXPECT_DOUBLE_EQ(results[0].measurement.dose_usvh, dose) << track;
    EXPECT_DOUBLE_EQ(results[0].measurement.cpm, 31 * 60);
  }
}

TEST(RadiacodeReader, AValuePastAnyRealTracksLengthRejectsItsMarkerAndTheTrackGoesOn) {
  // Strings of plain, two-byte and escaped characters (pairs of \u escapes too) and a number,
  // each longer than the longest token a track may hold whole, wherever the cut falls.
  const auto marker = [](int second, const std::string& extra) {
    return "{\"date\": " + std::to_string(1756286772 + second) +
           ", \"lat\": 41.5, \"lon\": -1.5, \"doseRate\": 0.2" + extra + "}";
  };
  std::vector<std::string> longs;
  for (const std::string unit : {"x", "\xC3\xA9", "\\n", "\\uD83D\\uDE00", "ab\\u00e9"}) {
    std::string text;
    while (text.size() < kMaxJsonTokenBytes + 100) text += unit;
    longs.push_back(", \"note\": \"" + text + "\"");
  }
  longs.push_back(", \"countRate\": 1" + std::string(kMaxJsonTokenBytes + 5, '0'));
  longs.push_back(", \"countRate\": 0." + std::string(kMaxJsonTokenBytes, '5') + "e2");
  longs.push_back(", \"" + std::string(kMaxJsonTokenBytes + 1, 'k') + "\": 1");
  std::string track = "{\"markers\": [" + marker(0, "");
  for (std::size_t i = 0; i < longs.size(); ++i)
    track += ", " + marker(static_cast<int>(i) + 1, longs[i]);
  track += ", " + marker(100, "") + "]}";
  const std::vector<RecordResult> records = ParseRadiacodeJson(track, {});
  std::map<std::string, int> reasons;
  for (const RecordResult& r : records) ++reasons[std::string(ReasonName(r.reason))];
  EXPECT_EQ(reasons, (std::map<std::string, int>{{"none", 2}, {"fields", 6}, {"number", 2}}));
}

TEST(RadiacodeReader, RejectsNonFiniteNumbersAndTimesPastTheYear9999) {
  const std::vector<RecordResult> results = ParseRadiacodeJson(R"({"markers": [
      {"date": 253402300800, "lat": 41.5, "lon": -1.5, "doseRate": 10, "countRate": 2},
      {"date": 1756286772, "lat": 41.5, "lon": -1.5, "doseRate": 10, "countRate": 1e307},
      {"date": 1756286773, "lat": 41.5, "lon": -1.5, "doseRate": 10, "countRate": 2}]})",
                                                               {});
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].reason, RejectReason::kTime);
  EXPECT_EQ(results[1].reason, RejectReason::kNumber);  // 1e307 cps is finite; its cpm is not
  EXPECT_EQ(results[2].reason, RejectReason::kNone);
}

// A source of n records, each line's text its number, failing after `fail_after` when set.
class CountingSource : public RecordSource {
 public:
  // width: each text padded to that many bytes, when given.
  CountingSource(long n, long fail_after = -1, std::size_t width = 0)
      : n_(n), fail_after_(fail_after), width_(width) {}
  ReadEnd Read(const RecordHandler& handle) override {
    for (long line = 1; line <= n_; ++line) {
      if (line == fail_after_) throw std::runtime_error("broken at " + std::to_string(line));
      RecordResult result;
      result.measurement.dose_usvh = static_cast<double>(line);
      std::string text = std::to_string(line);
      if (text.size() < width_) text.resize(width_, ' ');
      result.text = line % 3 == 0 ? std::string_view(text) : std::string_view();
      handle(result, line, text, "evidence " + text);
      read_ = line;
    }
    return {};
  }
  long read_ = 0;

 private:
  long n_, fail_after_;
  std::size_t width_;
};

TEST(ReadAhead, HandsOnEveryRecordInOrderWithItsTextsAndStopsWithEitherSidesFailure) {
  CountingSource source(10000);
  long expected = 0;
  std::int64_t bytes = 0;
  const std::thread::id here = std::this_thread::get_id();
  // The check runs where the log is read; what it finds private comes without its texts.
  const RecordCheck check = [here](RecordResult& result, std::string_view evidence) {
    EXPECT_NE(std::this_thread::get_id(), here);
    if (evidence.ends_with('7')) result.reason = RejectReason::kPrivacy;
  };
  const RecordCheck none = [](RecordResult&, std::string_view) {};
  (void)ReadAhead(
      source, [&source] { return source.read_; }, &bytes, check,
      [&](RecordResult& result, long line, std::string_view text, std::string_view evidence) {
        ++expected;
        ASSERT_EQ(line, expected);
        EXPECT_EQ(result.measurement.dose_usvh, static_cast<double>(line));
        EXPECT_GE(bytes, line - 1024) << "progress lags by a block at most";
        if (line % 10 == 7) {
          EXPECT_EQ(result.reason, RejectReason::kPrivacy);
          EXPECT_TRUE(text.empty() && evidence.empty() && result.text.empty());
          return;
        }
        EXPECT_EQ(result.reason, RejectReason::kNone);
        EXPECT_EQ(text, std::to_string(line));
        EXPECT_EQ(evidence, "evidence " + std::to_string(line));
        EXPECT_EQ(result.text, line % 3 == 0 ? text : std::string_view());
      });
  EXPECT_EQ(expected, 10000);
  // Long texts end a block early: the reading thread is never far ahead in bytes.
  CountingSource wide(400, -1, 64 << 10);
  (void)ReadAhead(
      wide, [&wide] { return wide.read_; }, &bytes, none,
      [&](RecordResult&, long line, std::string_view text, std::string_view) {
        EXPECT_EQ(text.size(), 64u << 10);
        EXPECT_LE(bytes, line + 8) << "a block holds a few long texts";
      });
  // The reading side fails: what came before is handed on, then its exception.
  CountingSource broken(10000, 5000);
  long handled = 0;
  EXPECT_THROW((void)ReadAhead(
                   broken, [] { return std::int64_t{0}; }, &bytes, none,
                   [&](RecordResult&, long, std::string_view, std::string_view) { ++handled; }),
               std::runtime_error);
  EXPECT_EQ(handled, 4999);
  // The handling side fails: the reading stops soon after, well before the end.
  CountingSource endless(100000000);
  EXPECT_THROW((void)ReadAhead(
                   endless, [] { return std::int64_t{0}; }, &bytes, none,
                   [](RecordResult&, long line, std::string_view, std::string_view) {
                     if (line == 100) throw SurveyError(SurveyErrorKind::kCancelled, "cancelled");
                   }),
               SurveyError);
  EXPECT_LT(endless.read_, 100000000 / 2);
}

TEST(ReadInBlocks, ChecksEachRecordOnceBeforeItIsHandedOnWithItsTextsAndStopsAtEitherFailure) {
  CountingSource source(5000);
  std::int64_t bytes = 0;
  long checked = 0, prefetched = 0, handed = 0;
  // Each record is prefetched and checked once, in order, ahead of its handling; the texts stay
  // those of the record after the source has moved on.
  const RecordPrefetch prefetch = [&](RecordResult&) { ++prefetched; };
  const RecordCheck check = [&](RecordResult& result, std::string_view evidence) {
    ++checked;
    EXPECT_EQ(result.measurement.dose_usvh, static_cast<double>(checked));
    EXPECT_LE(checked - handed, 1024) << "a block at most ahead";
    if (evidence.ends_with('7')) result.reason = RejectReason::kPrivacy;
  };
  const RecordHandler handle = [&](RecordResult& result, long line, std::string_view text,
                                   std::string_view evidence) {
    ASSERT_EQ(line, ++handed);
    EXPECT_GE(checked, line);
    EXPECT_GE(bytes, line);
    if (line % 10 == 7) {
      EXPECT_EQ(result.reason, RejectReason::kPrivacy);
      EXPECT_TRUE(text.empty() && evidence.empty() && result.text.empty());
      return;
    }
    EXPECT_EQ(text, std::to_string(line));
    EXPECT_EQ(evidence, "evidence " + std::to_string(line));
    EXPECT_EQ(result.text, line % 3 == 0 ? text : std::string_view());
  };
  (void)ReadInBlocks(
      source, [&source] { return source.read_; }, &bytes, check, handle, prefetch);
  EXPECT_EQ(checked, 5000);
  EXPECT_EQ(prefetched, 5000);
  EXPECT_EQ(handed, 5000);
  // The reading fails: the records before are checked and handed on once, then its exception.
  CountingSource broken(5000, 3000);
  checked = handed = 0;
  EXPECT_THROW(
      (void)ReadInBlocks(
          broken, [] { return std::int64_t{0}; }, &bytes, check,
          [&](RecordResult&, long, std::string_view, std::string_view) { ++handed; }, prefetch),
      std::runtime_error);
  EXPECT_EQ(checked, 2999);
  EXPECT_EQ(handed, 2999);
  // The handling fails: its exception, with the reading stopped a block after it.
  CountingSource endless(100000000);
  checked = handed = 0;
  EXPECT_THROW((void)ReadInBlocks(
                   endless, [] { return std::int64_t{0}; }, &bytes, check,
                   [&](RecordResult&, long line, std::string_view, std::string_view) {
                     ++handed;
                     if (line == 1500) throw SurveyError(SurveyErrorKind::kCancelled, "cancelled");
                   },
                   prefetch),
               SurveyError);
  EXPECT_EQ(handed, 1500);
  EXPECT_LE(endless.read_, 3000);
  EXPECT_EQ(checked, endless.read_) << "each record read before the failure checked once";
}

// What a reading hands on, one record a line of text.
struct Handed {
  std::vector<std::string> records;
  RecordHandler Handler() {
    return [this](RecordResult& result, long line, std::string_view text, std::string_view) {
      const Measurement& m = result.measurement;
      records.push_back(std::to_string(line) + "/" + std::to_string(m.part) + " " +
                        std::string(ReasonName(result.reason)) + " " + std::to_string(m.dose_usvh) +
                        " " + std::to_string(m.latitude) + " " + std::string(text.substr(0, 40)));
    };
  }
};

// Lines taken many at a time and split are the lines taken one at a time, with the same numbers,
// texts, flags and bytes read, whatever the bounds asked for: CR LF and lone CRs, empty lines, a
// line too long for a whole line's limit (with and without a CR before its LF), one too long for
// the buffer, and a last line without an LF.
TEST(LineReader, LinesTakenManyAtATimeAreTheLinesTakenOneAtATime) {
  // First, so that it comes whole in the reader's first fill, within a run.
  std::string log = std::string(kMaxLineBytes - 1, 'b') + "\r\r\n";
  log += "first\r\n\n\r\nx\ry\n";
  for (int i = 0; i < 20000; ++i) log += "line " + std::to_string(i) + (i % 3 ? "\n" : "\r\n");
  log += std::string(kMaxLineBytes + 5, 'a') + "\r\n";
  log += "after\n" + std::string(3 * kMaxLineBytes, 'c') + "\nend\r";
  struct Line {
    long number;
    std::string text;
    bool too_long;
    std::int64_t consumed;
    bool operator==(const Line&) const = default;
  };
  std::vector<Line> one;
  {
    LineReader reader("log", log);
    std::string_view text;
    bool too_long;
    while (reader.NextLine(&text, &too_long))
      one.push_back({reader.line_number(), std::string(text), too_long, reader.bytes_consumed()});
  }
  ASSERT_EQ(one.size(), 20000u + 9);
  EXPECT_TRUE(one[0].too_long);
  EXPECT_EQ(one[0].text.size(), kMaxLineBytes - 1);  // cut, then its CR dropped
  EXPECT_EQ(one[4].text, "x\ry");
  EXPECT_TRUE(one[20005].too_long);
  EXPECT_EQ(one[20005].text.size(), kMaxLineBytes);
  EXPECT_EQ(one[20006].text, "after");
  EXPECT_TRUE(one[20007].too_long);
  EXPECT_EQ(one.back().text, "end");
  for (const std::size_t max_bytes : {std::size_t{1}, std::size_t{100}, std::size_t{4} << 20}) {
    for (const long max_lines : {1L, 7L, 100000L}) {
      LineReader reader("log", log);
      std::vector<Line> many;
      std::string_view text;
      bool too_long;
      long count = 0;
      std::size_t runs = 0;
      for (;;) {
        if (reader.NextLines(max_bytes, max_lines, &text, &count)) {
          ASSERT_LE(count, max_lines);
          ASSERT_LE(text.size(), max_bytes);
          ++runs;
          long number = reader.line_number() - count;
          const std::int64_t start =
              reader.bytes_consumed() - static_cast<std::int64_t>(text.size());
          std::size_t at = 0;
          ForEachWholeLine(text, [&](std::string_view line, bool long_line) {
            at = text.find('\n', at) + 1;
            many.push_back(
                {++number, std::string(line), long_line, start + static_cast<std::int64_t>(at)});
          });
          ASSERT_EQ(number, reader.line_number());
        } else if (reader.NextLine(&text, &too_long)) {
          many.push_back(
              {reader.line_number(), std::string(text), too_long, reader.bytes_consumed()});
        } else {
          break;
        }
      }
      EXPECT_TRUE(many == one) << max_bytes << " " << max_lines;
      if (max_bytes > 1 && max_lines > 1) {
        EXPECT_LT(runs * 3, one.size());
      }
    }
  }
}

// Parsed on two threads, a log gives what one thread gives: the same records in the same order,
// with a header that changes the columns halfway (the chunks parsed before it was read are parsed
// again), and a line that lost its line ends cut into pieces across chunks (its records numbered
// on across them).
TEST(ParseAhead, HandsOnWhatOneThreadReadsWithHeadersAndLongLinesAnywhere) {
  const auto both = [](const std::string& log, std::string_view format) {
    const FormatRow* row = FormatNamed(format);
    Handed one, two;
    LineReader serial_reader("log", log);
    (void)row->open(serial_reader, ReaderOptions{})->Read(one.Handler());
    LineReader reader("log", log);
    const std::unique_ptr<RecordSource> source = row->open(reader, ReaderOptions{});
    std::int64_t bytes = 0;
    std::int64_t checked = 0;
    (void)ParseAhead(
        *dynamic_cast<LineSource*>(source.get()), 2, &bytes,
        [&checked](RecordResult&, std::string_view) { ++checked; }, two.Handler(),
        [](const RecordResult&) {});
    EXPECT_EQ(checked, static_cast<std::int64_t>(one.records.size()));
    EXPECT_EQ(bytes, static_cast<std::int64_t>(log.size()));
    return std::make_pair(one.records, two.records);
  };
  std::string database = "Captured Time,Latitude,Longitude,Value,Unit\n";
  for (int i = 0; i < 60000; ++i) {
    // Halfway the export names its columns in another order (a second export appended).
    if (i == 30000) database += "Captured Time,Value,Unit,Latitude,Longitude\n";
    const std::string place = "37." + std::to_string(100000 + i) + ",140.5";
    const std::string value = std::to_string(20 + i % 50) + ",cpm";
    database += "2026-11-21 01:30:00 UTC," +
                (i < 30000 ? place + "," + value : value + "," + place) +
                (i % 1000 == 7 ? ",x\n" : "\n");
  }
  auto [one, two] = both(database, "safecast");
  ASSERT_EQ(one.size(), 60000u);
  EXPECT_EQ(one[45000].substr(0, 30), two[45000].substr(0, 30));
  EXPECT_TRUE(one == two);
  EXPECT_NE(one[45000].find(" 37.1"), std::string::npos) << one[45000];

  // 3 MiB of sentences without a line end, between ordinary lines.
  const std::string sentence =
      "$BNRDD,2601,2026-11-21T01:30:00Z,28,2,100,A,3725.2600,N,14028.2600,E,210.00,A,9,112*00";
  std::string bgeigie = "# NEW LOG\n";
  for (int i = 0; i < 5000; ++i) bgeigie += sentence + "\n";
  for (std::size_t size = 0; size < (3u << 20); size += sentence.size()) bgeigie += sentence;
  bgeigie += "\n";
  for (int i = 0; i < 5000; ++i) bgeigie += sentence + "\r\n";
  std::tie(one, two) = both(bgeigie, "bgeigie");
  EXPECT_GT(one.size(), 40000u);
  EXPECT_TRUE(one == two);
}

// The handling side fails halfway through a chunk: every thread stops within the chunks in
// flight, well before the end of the log, and the failure comes out of ParseAhead.
TEST(ParseAhead, StopsEveryThreadSoonAfterTheHandlingSideFails) {
  std::string log = "Captured Time,Latitude,Longitude,Value,Unit\n";
  for (int i = 0; i < 200000; ++i)
    log += "2026-11-21 01:30:00 UTC,37." + std::to_string(100000 + i) + ",140.5,20,cpm\n";
  for (const int parsers : {1, 2, 3}) {
    LineReader reader("log", log);
    const std::unique_ptr<RecordSource> source =
        FormatNamed("safecast")->open(reader, ReaderOptions{});
    std::int64_t bytes = 0;
    long handled = 0;
    EXPECT_THROW((void)ParseAhead(
                     *dynamic_cast<LineSource*>(source.get()), parsers, &bytes,
                     [](RecordResult&, std::string_view) {},
                     [&handled](RecordResult&, long line, std::string_view, std::string_view) {
                       ++handled;
                       if (line == 3000)
                         throw SurveyError(SurveyErrorKind::kCancelled, "cancelled");
                     }),
                 SurveyError);
    EXPECT_EQ(handled, 2999) << parsers;
    EXPECT_LT(reader.bytes_consumed(), static_cast<std::int64_t>(log.size() / 4)) << parsers;
  }
}

// A whole run over logs in memory.
class SurveyRunTest : public ::testing::Test {
 protected:
  struct Collected : MeasurementSink, RejectSink {
    void Add(const Measurement& m, int dose_class) override { kept.push_back({m, dose_class}); }
    void Break() override { breaks.push_back(kept.size()); }
    void Reject(const std::string&, long line, RejectReason reason,
                std::string_view text) override {
      rejected.push_back(std::to_string(line) + " " + std::string(ReasonName(reason)) + " " +
                         std::string(text));
    }
    std::vector<std::pair<Measurement, int>> kept;
    std::vector<std::string> rejected;
    std::vector<std::size_t> breaks;  // how many were kept when each break came
  };

  void Write(const std::string& name, const std::string& bytes) { logs_[name] = bytes; }

  // Logs not written are looked for on disk (and are not there).
  void Run(const std::vector<std::string>& names) {
    std::vector<OpenLog> logs;
    for (const std::string& name : names) {
      if (logs_.count(name) != 0) {
        logs.push_back(OpenLogInMemory(name, logs_[name]));
      } else {
        std::vector<OpenLog> opened = OpenLogs({name}, nullptr);
        logs.push_back(std::move(opened[0]));
      }
    }
    RunSurvey(logs, options_, {&sink_}, &sink_, stats_);
  }

  std::map<std::string, std::string> logs_;
  SurveyOptions options_;
  Collected sink_;
  DriveStatistics stats_;
};

TEST_F(SurveyRunTest, PrivacyComesBeforeEveryOtherReasonAndLeavesNoTrace) {
  Write("a.LOG",
        Sentence("BNRDD,1,2020-01-01T00:00:00Z,334,1,1,A,3500.0000,N,13900.0000,E,1,A,7") + "\n" +
            // in the zone, with a bad checksum and a void fix: privacy and nothing else
            "$BNRDD,1,2020-01-01T00:00:05Z,334,1,1,V,3530.0000,N,13930.0000,E,1,V,7*00\n" +
            Sentence("BNRDD,1,2020-01-01T00:00:10Z,334,1,1,A,3530.0000,X,13930.0000,E,1,A,7") +
            "\n" + "$BNRDD,1,2020-01-01T00:00:1*00\n");
  Write("own.csv", "h,h,h,h,h,h,h\n2026/11/14 09:00:00,A,1,0.2,35.3462,139.4877,1\n");
  options_.zones.push_back(ParseCircleZone("35.5,139.5,1000"));
  Run({"a.LOG", "own.csv"});
  EXPECT_EQ(stats_.read(), 5);
  EXPECT_EQ(stats_.kept(), 1);
  EXPECT_EQ(stats_.privacy(), 3);  // two in the zone, one in the own log's fixed rectangle
  EXPECT_EQ(stats_.rejected(RejectReason::kChecksum), 1);
  ASSERT_EQ(sink_.rejected.size(), 1u);
  EXPECT_EQ(sink_.rejected[0], "4 checksum $BNRDD,1,2020-01-01T00:00:1*00");
}

TEST_F(SurveyRunTest, RoutesBreakWherePrivateRecordsLayOrALineWouldCrossAZone) {
  // Along latitude 10, a point every 0.001 degrees (110 m); a zone of 50 m round 10.002.
  const auto log = [](std::initializer_list<const char*> longitudes) {
    std::string text = "h,h,h,h,h,h,h\n";
    int second = 0;
    for (const char* longitude : longitudes) {
      text += "2026/01/01 00:00:" + std::string(second < 10 ? "0" : "") + std::to_string(second) +
              ",A,1,0.1,10," + longitude + ",1\n";
      second += 10;
    }
    return text;
  };
  struct Case {
    std::string log;
    double max_speed_kmh;
    std::vector<std::size_t> breaks;
  } const cases[] = {
      {log({"10.000", "10.001", "10.002", "10.003", "10.004"}), 300, {2}},  // one private between
      {log({"10.000", "10.001", "10.002", "10.003", "10.004"}), 0, {2}},    // no speed check
      {log({"10.000", "10.004"}), 300, {1}},                                // a line through it
      {log({"10.000", "10.001"}), 300, {}},
  };
  for (const Case& c : cases) {
    sink_ = {};
    stats_ = {};
    options_ = {};
    options_.quality.max_speed_kmh = c.max_speed_kmh;
    options_.zones = {ParseCircleZone("10,10.002,50")};
    Write("drive.csv", c.log);
    Run({"drive.csv"});
    EXPECT_EQ(sink_.breaks, c.breaks) << c.log;
  }
  // Without zones, nothing breaks (the own log's rectangle lies far away).
  sink_ = {};
  options_ = {};
  Write("drive.csv", log({"10.000", "10.001", "10.002", "10.003", "10.004"}));
  Run({"drive.csv"});
  EXPECT_TRUE(sink_.breaks.empty());
  EXPECT_EQ(sink_.kept.size(), 5u);
}

TEST_F(SurveyRunTest, FiguresFollowConsecutiveKeptPointsOfEachLog) {
  // Two logs; the second point of the first is rejected, so 0 and 20 s are consecutive; a gap
  // of more than 600 s is not integrated.
  Write("one.csv",
        "h,h,h,h,h,h,h\n"
        "2026/01/01 00:00:00,A,1,0.1,10,10,1\n"
        "2026/01/01 00:00:10,A,1,x,10,10.001,1\n"
        "2026/01/01 00:00:20,A,1,0.3,10,10.001,1\n"
        "2026/01/01 00:20:00,A,1,0.6,10,10.002,1\n");
  Write("two.csv", "h,h,h,h,h,h,h\n2025/12/31 23:00:00,A,1,0.05,20,20,1\n");
  Run({"one.csv", "two.csv"});
  EXPECT_EQ(stats_.kept(), 4);
  EXPECT_DOUBLE_EQ(stats_.dose_total_usv(), (0.1 + 0.3) / 2 * 20 / 3600);
  const double metre_of_longitude = GreatCircleMetres(10, 10, 10, 10.001);
  // The step across the gap of 1,180 s adds no distance either.
  EXPECT_NEAR(stats_.distance_km(), metre_of_longitude / 1000, 1e-12);
  EXPECT_EQ(stats_.per_class(), (std::array<std::int64_t, 5>{1, 1, 0, 1, 1}));
  EXPECT_EQ(
      stats_.Json(),
      "{\"read\":5,\"kept\":4,\"rejected\":{\"number\":1},\"privacy\":0,\"per_class\":[1,1,0,1,1],"
      "\"first_time\":\"2025-12-31T23:00:00\",\"last_time\":\"2026-01-01T00:20:00\",\"duration_s\":"
      "4800,"
      "\"distance_km\":" +
          ShortestNumber(stats_.distance_km()) +
          ",\"dose_max_usvh\":0.6,\"dose_mean_usvh\":0.2625,\"dose_total_usv\":" +
          ShortestNumber(stats_.dose_total_usv()) + ",\"files_read\":2,\"files_skipped\":0}");
  EXPECT_EQ(sink_.kept[3].first.log, 1);
  EXPECT_EQ(sink_.kept[2].first.line, 5);
}

TEST(DriveStatistics, AStepOfMoreThanTenMinutesAddsNoDistance) {
  // Consecutive kept points 110 m apart, 600 s (counted), 601 s (a gap) and -601 s apart.
  const std::int64_t times[] = {0, 600, 1201, 600};
  DriveStatistics stats;
  Measurement m;
  for (int i = 0; i < 4; ++i) {
    m.time = times[i];
    m.latitude = 10, m.longitude = 10 + 0.001 * i;
    stats.Keep(m, 1);
  }
  EXPECT_NEAR(stats.distance_km(), GreatCircleMetres(10, 10, 10, 10.001) / 1000, 1e-12);
}

TEST_F(SurveyRunTest, NothingKeptGivesNullFiguresAndUnknownLogsStopBeforeReading) {
  Write("empty.csv", "h,h,h,h,h,h,h\n2026/01/01 00:00:00,A,1,0.1,0,0,1\n");
  Run({"empty.csv"});
  EXPECT_EQ(stats_.Json(),
            "{\"read\":1,\"kept\":0,\"rejected\":{\"zero_position\":1},\"privacy\":0,\"per_class\":"
            "[0,0,0,0,0],"
            "\"first_time\":null,\"last_time\":null,\"duration_s\":null,\"distance_km\":0,"
            "\"dose_max_usvh\":null,\"dose_mean_usvh\":null,\"dose_total_usv\":0,\"files_read\":1,"
            "\"files_skipped\":0}");
  Write("photo.png", "\x89PNG\r\n\x1a\n");
  try {
    Run({"empty.csv", "photo.png"});
    FAIL() << "an unknown format was read";
  } catch (const SurveyError& error) {
    EXPECT_NE(std::string(error.what()).find("photo.png: not a survey log of a known format"),
              std::string::npos);
  }
  EXPECT_THROW(Run({"missing.LOG"}), SurveyError);
}

TEST_F(SurveyRunTest, EachSentenceOfAJoinedLineIsARecordWithItsOwnText) {
  const std::string good =
      Sentence("BNRDD,1,2020-01-01T00:00:00Z,334,1,1,A,3500.0000,N,13900.0000,E,1,A,7");
  const std::string bad =
      "$BNRDD,1,2020-01-01T00:00:05Z,334,1,1,A,3600.0000,N,13900.0000,E,1,A,7*00";
  Write("a.LOG", good + bad + "\n# a comment, then a sentence " + good + "\n");
  options_.quality.keep_duplicates = true;  // the same sentence twice
  Run({"a.LOG"});
  EXPECT_EQ(stats_.kept(), 2);
  ASSERT_EQ(sink_.rejected.size(), 1u);
  EXPECT_EQ(sink_.rejected[0], "1 checksum " + bad);
}

TEST_F(SurveyRunTest, AnEndlessLineOfSentencesIsReadSentenceBySentence) {
  std::string line;
  int count = 0;
  for (; line.size() < 3 * kMaxLineBytes; ++count) {
    line += Sentence("BNRDD,1,2020-01-01T00:00:00Z,334,1,1,A,3500.0000,N,13900.0000,E,1,A,7");
  }
  Write("endless.LOG", line + "\n" + line);
  options_.quality.keep_duplicates = true;
  Run({"endless.LOG"});
  EXPECT_EQ(stats_.kept(), 2 * count);
  EXPECT_EQ(stats_.read(), 2 * count);
  EXPECT_EQ(sink_.kept.back().first.line, 2);
}

TEST_F(SurveyRunTest, DoubtfulRecordsInAZoneAreCountedAsPrivateAndListedNowhere) {
  Write("a.LOG", Sentence("BNRDD,1,2020-01-01T00:00:00Z,334,1,1,A,3600.0000,N,13900.0000,E,1,A,7") +
                     "\n" +
                     // cut off before its E/W letter, at home
                     "$BNRDD,1,2020-01-01T00:00:05Z,334,1,1,A,3530.0000,N,13930.00\n" +
                     // far away, cut off: listed
                     "$BNRDD,1,2020-01-01T00:00:10Z,334,1,1,A,3730.0000,N,14130.00\n");
  options_.zones.push_back(ParseCircleZone("35.5,139.5,1000"));
  Run({"a.LOG"});
  EXPECT_EQ(stats_.kept(), 1);
  EXPECT_EQ(stats_.privacy(), 1);
  ASSERT_EQ(sink_.rejected.size(), 1u);
  EXPECT_EQ(sink_.rejected[0].substr(0, 10), "3 checksum");
}

TEST_F(SurveyRunTest, AHomeReadWithFlippedSignsIsPrivateWhateverCheckRejectsIt) {
  // Home is 35.5 N 139.5 E; its sentences with S and W read as a place far away, where the GPS
  // jump, duplicate and accuracy checks reject them. None of their lines may be listed.
  const auto at = [](int second, const char* place) {
    return Sentence("BNRDD,1,2020-01-01T00:00:" + std::string(second < 10 ? "0" : "") +
                    std::to_string(second) + "Z,334,1,1,A," + place + ",1,A,7") +
           "\n";
  };
  const char* near = "3600.0000,N,13900.0000,E";
  const char* flipped = "3530.0000,S,13930.0000,W";
  Write("a.LOG", at(0, near) + at(5, flipped) + at(10, near) + at(20, flipped) + at(20, flipped) +
                     at(30, near));
  Write("f.csv",
        "unix timestamp;doserate (uSv/h);lat;lng;wgs84_alt (m.);speed (m/s);cps;cp_2s;"
        "horizontal accuracy (radius of 68% confidence [m])\n"
        "1795224600;0.08;-35.5;-139.5;210;9.5;0.4;0.9;500\n"
        "1795224605;0.08;-35.6;-139.5;210;9.5;0.4;0.9;500\n");
  for (const int threads : {1, 2}) {
    SCOPED_TRACE(threads);
    sink_ = {}, stats_ = {}, options_ = {};
    options_.threads = threads;
    options_.zones.push_back(ParseCircleZone("35.5,139.5,1000"));
    Run({"a.LOG", "f.csv"});
    EXPECT_EQ(stats_.kept(), 3);
    EXPECT_EQ(stats_.privacy(), 4);  // a jump, its duplicate and the poor fix at home
    ASSERT_EQ(sink_.rejected.size(), 1u);
    EXPECT_EQ(sink_.rejected[0].substr(0, 10), "3 accuracy");  // the poor fix far from home
    EXPECT_EQ(sink_.breaks, (std::vector<std::size_t>{1, 2}));
  }
}

TEST_F(SurveyRunTest, NumbersThatAreNotFiniteAfterConversionAreRejected) {
  Write("a.LOG",
        Sentence("BNRDD,1,2020-01-01T00:00:00Z,334,1,1,A,3600.0000,N,13900.0000,E,1,A,7") + "\n");
  Write("t.rctrk", R"({"markers": [
      {"date": 1756286772, "lat": 41.5, "lon": -1.5, "doseRate": 10, "countRate": 1e307}]})");
  options_.reader.cpm_factor = 1e-307;  // 334 cpm is then beyond the largest double
  Run({"a.LOG", "t.rctrk"});
  EXPECT_EQ(stats_.kept(), 0);
  EXPECT_EQ(stats_.rejected(RejectReason::kNumber), 2);
}

}  // namespace
}  // namespace dosemap

namespace dosemap {
namespace {

// A count over 60 s is known to its square root: the dose's uncertainty, worked by hand.
TEST(CountingUncertainty, IsTheDoseOverTheRootOfItsCountAndNoneForAGivenDose) {
  const std::vector<RecordResult> counted = Parse(
      "bgeigie",
      {Sentence("BNRDD,300,2012-12-16T17:58:24Z,30,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1"),
       Sentence("BNRDD,300,2012-12-16T17:58:29Z,3000,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1"),
       Sentence("BNRDD,300,2012-12-16T17:58:34Z,0,9,115,A,4043.5368,N,07355.3663,W,11.50,A,7,1")});
  ASSERT_EQ(counted.size(), 3u);
  // 30 cpm: 0.0898204 µSv/h ± 18.26 %, that is ± 0.0163989.
  EXPECT_NEAR(counted[0].measurement.dose_sigma_usvh, 30.0 / 334 / std::sqrt(30.0), 1e-15);
  EXPECT_NEAR(counted[0].measurement.dose_sigma_usvh, 0.0163989, 1e-7);
  // 3,000 cpm: ± 1.826 %.
  EXPECT_NEAR(counted[1].measurement.dose_sigma_usvh / counted[1].measurement.dose_usvh, 0.018257,
              1e-6);
  // No count: the dose of one count, 1/334 µSv/h.
  EXPECT_EQ(counted[2].measurement.dose_usvh, 0);
  EXPECT_NEAR(counted[2].measurement.dose_sigma_usvh, 0.00299401, 1e-8);
  // The user's factor is the one the uncertainty follows.
  ReaderOptions options;
  options.cpm_factor = 100;
  EXPECT_NEAR(
      Parse("bgeigie",
            {Sentence("BNRDD,300,2012-12-16T17:58:34Z,0,9,115,A,4043.5368,N,07355.3663,W,1,A,7,1")},
            options)[0]
          .measurement.dose_sigma_usvh,
      0.01, 1e-15);
  // A dose the log gives has no counting uncertainty of ours.
  const std::vector<RecordResult> given = Parse(
      "safecast", {"Captured Time,Latitude,Longitude,Value,Unit,Location Name,Device ID,MD5Sum,"
                   "Height,Surface,Radiation,Uploaded Time,Loader ID",
                   "2011-03-27 00:00:00,37.4,140.5,0.12,usv,,,,,,,,"});
  ASSERT_EQ(given.size(), 1u);
  EXPECT_EQ(given[0].reason, RejectReason::kNone);
  EXPECT_TRUE(std::isnan(given[0].measurement.dose_sigma_usvh));
}

// A CSV map read back keeps each uncertainty; one written before the column was there still reads.
TEST(CountingUncertainty, ReadBackFromCsvMapsOfEitherVersion) {
  const std::vector<RecordResult> now = Parse(
      "csv", {"time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source",
              "2026-11-21T01:30:00Z,37.4,140.5,,0.08383233532934131,0.015842822221943654,28,2,a:4",
              "2026-11-21T01:30:05Z,37.4,140.5,,0.1,,,2,a:5",
              "2026-11-21T01:30:10Z,37.4,140.5,,0.1,x,,2,a:6"});
  ASSERT_EQ(now.size(), 3u);
  EXPECT_EQ(now[0].measurement.dose_sigma_usvh, 0.015842822221943654);
  EXPECT_EQ(now[0].measurement.cpm, 28);
  EXPECT_TRUE(std::isnan(now[1].measurement.dose_sigma_usvh));
  EXPECT_EQ(now[2].reason, RejectReason::kNumber);
  const std::vector<RecordResult> before =
      Parse("csv", {"time,latitude,longitude,altitude,dose_usvh,cpm,class,source",
                    "2026-11-21T01:30:00Z,37.4,140.5,210,0.08,28,2,a:4"});
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].reason, RejectReason::kNone);
  EXPECT_EQ(before[0].measurement.cpm, 28);
  EXPECT_EQ(before[0].measurement.altitude, 210);
}

// A cell's mean is known to its doses' spread over the root of their number; one measurement to
// its own uncertainty.
TEST(CountingUncertainty, OfACellsMean) {
  GridAccumulator grid(100);
  Measurement m;
  m.latitude = 37.4, m.longitude = 140.5;
  const auto sigma_of = [](GridAccumulator& cells) {
    double sigma = -1;
    cells.ForEachCell(1, [&](const GridCell& cell) { sigma = cell.dose_sigma(); });
    return sigma;
  };
  m.dose_usvh = 0.2, m.dose_sigma_usvh = 0.03;
  grid.Add(m);
  EXPECT_EQ(sigma_of(grid), 0.03);  // n = 1: its own
  GridAccumulator given(100);
  m.dose_sigma_usvh = std::numeric_limits<double>::quiet_NaN();
  given.Add(m);
  EXPECT_TRUE(std::isnan(sigma_of(given)));  // n = 1, a dose given: none
  GridAccumulator two(100);
  for (const double dose : {0.1, 0.3}) m.dose_usvh = dose, two.Add(m);
  // n = 2: s = 0.141421, over √2: 0.1.
  EXPECT_NEAR(sigma_of(two), 0.1, 1e-15);
  GridAccumulator ten(100);
  for (int i = 1; i <= 10; ++i) m.dose_usvh = 0.1 * i, ten.Add(m);
  // n = 10, doses 0.1 to 1.0: s = 0.302765, over √10: 0.0957427.
  EXPECT_NEAR(sigma_of(ten), 0.0957427, 1e-7);
  GridAccumulator equal(100);
  for (int i = 0; i < 3; ++i) m.dose_usvh = 0.1, equal.Add(m);
  EXPECT_EQ(sigma_of(equal), 0);  // equal doses: exactly 0
}

}  // namespace
}  // namespace dosemap
