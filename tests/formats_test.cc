// The newer meters' formats on real lines, our own maps read back, and the quality checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "common/byte_sink.h"
#include "dose/geodesy.h"
#include "maps/survey_maps.h"
#include "survey/civil_time.h"
#include "survey/line_reader.h"
#include "survey/log_format.h"
#include "survey/quality.h"
#include "survey/survey_run.h"

namespace dosemap {
namespace {

struct Row {
  Row(std::string r, double lat = 0, double lon = 0, double d = 0, double c = -1,
      std::string t = "", double a = -1)
      : reason(std::move(r)),
        latitude(lat),
        longitude(lon),
        dose(d),
        cpm(c),
        time(std::move(t)),
        accuracy(a) {}
  std::string reason;                     // "" for a kept record
  double latitude, longitude, dose, cpm;  // cpm -1: none
  std::string time;                       // ISO, kept records only
  double accuracy;                        // -1: none
};

// Every record of a log in memory, as its format (told from its content) reads it: line,
// reason, measurement.
std::vector<std::pair<long, RecordResult>> Read(const std::string& bytes,
                                                const ReaderOptions& options = {}) {
  const FormatRow* format = DetectFormat(bytes);
  if (format == nullptr) throw std::runtime_error("format not told");
  LineReader reader("log", bytes);
  std::vector<std::pair<long, RecordResult>> records;
  const ReadEnd end = format->open(reader, options)
                          ->Read([&](RecordResult& r, long line, std::string_view,
                                     std::string_view) { records.emplace_back(line, r); });
  if (!end.not_of_format.empty())
    throw std::runtime_error("not of its format: " + end.not_of_format);
  return records;
}

void Expect(const std::vector<std::pair<long, RecordResult>>& records,
            const std::vector<Row>& rows) {
  ASSERT_EQ(records.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE("record " + std::to_string(i + 1));
    const RecordResult& r = records[i].second;
    EXPECT_EQ(ReasonName(r.reason), rows[i].reason.empty() ? "none" : rows[i].reason);
    if (r.reason != RejectReason::kNone) continue;
    const Measurement& m = r.measurement;
    EXPECT_DOUBLE_EQ(m.latitude, rows[i].latitude);
    EXPECT_DOUBLE_EQ(m.longitude, rows[i].longitude);
    EXPECT_DOUBLE_EQ(m.dose_usvh, rows[i].dose);
    EXPECT_EQ(m.has_cpm, rows[i].cpm >= 0);
    if (m.has_cpm) {
      EXPECT_NEAR(m.cpm, rows[i].cpm, 1e-9);
    }
    EXPECT_EQ(IsoTime(m.time, m.utc), rows[i].time);
    EXPECT_EQ(m.has_accuracy, rows[i].accuracy >= 0);
    if (m.has_accuracy) {
      EXPECT_DOUBLE_EQ(m.accuracy_m, rows[i].accuracy);
    }
  }
}

TEST(CzechLogger, ReadsItsSentencesLikeTheBgeigiesAndMixesWithThem) {
  // The logger's own sample, after a blank first line; then a Zen sentence and a damaged one.
  const std::string log =
      "\n# NEW LOG\n# format=2.0.0CzechRad\n# deadtime=on\n"
      "$CZRA1,0159,2024-04-21T05:16:31Z,42,7,32804,A,5001.1094,N,01420.7866,E,384.69,A,5,193*1C\n"
      "$CZRA1,0159,2024-04-21T05:18:01Z,23,4,32840,A,5001.3877,N,01419.5630,E,367.3,A,7,107*29\n"
      "$BZRDD,0159,2024-04-21T05:18:01Z,23,4,32840,A,5001.3877,N,01419.5630,E,367.3,A,7,107*58\n"
      "$CZRA1,0159,2024-04-21T05:18:01Z,23,4,32840,A,5001.3877,N,01419.5630,E,367.3,A,7,107*28\n";
  // Each family takes its own device's factor: the logger's 328.5, the Zen's 334.
  Expect(Read(log),
         {{"", 50 + 1.1094 / 60, 14 + 20.7866 / 60, 42.0 / 328.5, 42, "2024-04-21T05:16:31Z"},
          {"", 50 + 1.3877 / 60, 14 + 19.5630 / 60, 23.0 / 328.5, 23, "2024-04-21T05:18:01Z"},
          {"", 50 + 1.3877 / 60, 14 + 19.5630 / 60, 23.0 / 334, 23, "2024-04-21T05:18:01Z"},
          {"checksum"}});
  EXPECT_EQ(DetectFormat(log)->name, "czechrad");
  // --cpm-factor F sets every family's; FORMAT=F one family's, and wins.
  ReaderOptions options;
  options.cpm_factor = 100;
  options.format_cpm_factors = {{"bgeigie", 200}};
  const auto records = Read(log, options);
  EXPECT_DOUBLE_EQ(records[0].second.measurement.dose_usvh, 0.42);
  EXPECT_DOUBLE_EQ(records[2].second.measurement.dose_usvh, 23.0 / 200);
  // The summary says which factor each format's kept records were converted with.
  DriveStatistics stats;
  stats.SetCpmFactor(FormatIndexOf(*FormatNamed("czechrad")), "czechrad", 328.5);
  stats.SetCpmFactor(FormatIndexOf(*FormatNamed("bgeigie")), "bgeigie", 334);
  stats.SetCpmFactor(FormatIndexOf(*FormatNamed("safecast")), "safecast", 334);
  for (const auto& [line, record] : Read(log)) {
    if (record.reason == RejectReason::kNone) stats.Keep(record.measurement, 1);
  }
  EXPECT_NE(stats.Json().find(",\"cpm_factor\":{\"bgeigie\":334,\"czechrad\":328.5},"),
            std::string::npos)
      << stats.Json();
  Measurement given;  // a dose the log gave: no factor
  DriveStatistics doses;
  doses.Keep(given, 1);
  EXPECT_EQ(doses.Json().find("cpm_factor"), std::string::npos);
}

// A public log kept under tests/real (see the README for where each comes from).
std::string RealLog(const std::string& name) {
  std::ifstream in(std::string(DOSEMAP_REAL_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(Ers, ReadsVersionOneAndTwoOfOneSurveyWithTheirUnitsAndNoGroundClearanceAsAltitude) {
  // The format's demo survey in both versions: DHSR in µSv/s in 1.0, µSv/h in 2.0; PH is the
  // aircraft's ground clearance, not an altitude.
  const auto one = Read(RealLog("DEMO_ERS1.0_Area1_Italy_excerpt.ers"));
  const auto two = Read(RealLog("DEMO_ERS2.0_Area1_Italy_excerpt.ers"));
  ASSERT_EQ(one.size(), 21u);
  ASSERT_EQ(two.size(), 21u);
  for (std::size_t i = 0; i < one.size(); ++i) {
    SCOPED_TRACE(i);
    const Measurement &a = one[i].second.measurement, &b = two[i].second.measurement;
    ASSERT_EQ(one[i].second.reason, RejectReason::kNone);
    ASSERT_EQ(two[i].second.reason, RejectReason::kNone);
    EXPECT_EQ(a.time, b.time);
    EXPECT_EQ(a.latitude, b.latitude);
    EXPECT_EQ(a.longitude, b.longitude);
    EXPECT_FALSE(a.has_altitude);
    EXPECT_FALSE(b.has_altitude);
    // The demo's maker divided by 3000, not 3600, going from µSv/h to µSv/s: read as the
    // format defines it, version 1.0 gives 1.2 times the doses of 2.0.
    EXPECT_NEAR(a.dose_usvh / b.dose_usvh, 1.2, 1e-5);
  }
  EXPECT_DOUBLE_EQ(one[0].second.measurement.dose_usvh, 1.922147e-05 * 3600);
  EXPECT_EQ(IsoTime(one[0].second.measurement.time, true), "2015-04-01T12:12:12Z");
  EXPECT_EQ(DetectFormat(RealLog("DEMO_ERS1.0_Area1_Italy_excerpt.ers"))->name, "ers");
  // An altitude is PZ (with or without a coordinate system's id); faults are rejected.
  Expect(Read("PA 1;CD 2015-04-01;CT 12:12:12;PE 14.9;PN 38.3;PH 49;PZ1 312,5;DHSR 0,05\n"
              "N \"p\" CD \"2015-04-1Z\" CT \"9-5-7Z\" PE 14.9 PN 38.3 PZ 300 DHSR 1e-5\n"),
         {{"", 38.3, 14.9, 0.05, -1, "2015-04-01T12:12:12Z"}});
  Expect(Read("V 1.0\n"
              "N \"p\" CD \"2015-04-1Z\" CT \"9-5-7Z\" PE 14.9 PN 38.3 PZ 300 DHSR 1e-5\n"
              "N \"p\" CD \"2015-04-1\" CT \"9-5-7Z\" PE 14.9 PN 38.3 DHSR 1e-5\n"
              "N \"p\" CD \"2015-04-1Z\" CT \"9-5-7Z\" PE 14.9 PN 38.3 DHSR x\n"
              "N \"p CD \"2015-04-1Z\" CT \"9-5-7Z\" PE 14.9 PN 38.3 DHSR 1e-5\n"),
         {{"", 38.3, 14.9, 0.036, -1, "2015-04-01T09:05:07Z"}, {"time"}, {"number"}, {"fields"}});
}

TEST(AtomFast, ReadsTheCsvExportByItsColumnNames) {
  const std::string header =
      "unix timestamp;doserate (uSv/h);lat;lng;wgs84_alt (m.);speed (m/s);cps;cp_2s;horizontal "
      "accuracy (radius of 68% confidence [m]);marker type (2-circle, 1-marker);SE (1 σ)[%]\n";
  Expect(Read(header +
              // two real rows
              "1752939428;0.04356;45.329978943;37.267513275;16.200000763;0.326333880;4.16472;"
              "5.50000;1.7000;2;11.5\n"
              "1752939432;0.04115;45.330036163;37.267486572;15.899999619;0.877086639;3.93412;"
              "4.50000;2.0000;2;11.5\n"
              "1752939434;0.04104;45.33;37.26;15.6;1.1;;3.0;;2;11.5\n"  // no cps, no accuracy
              "1752939436;0.03886;45.33;37.26;15.2;1.4;3.7;2.5;far;2;11.5\n"
              "1752939438;0.03886;45.33\n"
              "17529394x8;0.03886;45.33;37.26;15.2;1.4;3.7;2.5;2.1;2;11.5\n"
              // cut off after its cps: not read as if it had no accuracy
              "1752939440;0.03886;45.33;37.26;15.2;1.4;3.7\n"),
         {{"", 45.329978943, 37.267513275, 0.04356, 4.16472 * 60, "2025-07-19T15:37:08Z", 1.7},
          {"", 45.330036163, 37.267486572, 0.04115, 3.93412 * 60, "2025-07-19T15:37:12Z", 2.0},
          {"", 45.33, 37.26, 0.04104, -1, "2025-07-19T15:37:14Z"},
          {"number"},
          {"fields"},
          {"time"},
          {"fields"}});
  // Columns in another order are found by their names.
  Expect(Read("unix timestamp;lng;lat;doserate (uSv/h);cps\n1752939428;37.5;45.5;0.1;2\n"),
         {{"", 45.5, 37.5, 0.1, 120, "2025-07-19T15:37:08Z"}});
}

TEST(AtomFast, ReadsTheJsonArrayInFileOrderWithTimesCutToTheSecond) {
  Expect(Read("[{\"dv\":3,\"d\":0.0536,\"r\":3,\"lat\":53.893616,\"lng\":27.477983,\"sm\":0,"
              "\"s\":1700,\"t\":1513527459276},"
              "{\"dv\":3,\"d\":0.0532,\"r\":4,\"lat\":53.893614,\"lng\":27.478265,\"sm\":0,"
              "\"s\":1700,\"t\":1513527401999},"
              "{\"d\":0.05,\"lat\":53.9,\"t\":1513527459276},"
              "{\"d\":\"high\",\"lat\":53.9,\"lng\":27.4,\"t\":1513527459276},"
              "{\"d\":0.05,\"lat\":53.9,\"lng\":27.4,\"t\":1e300},"
              "7,"
              "{\"d\":0.05,\"lat\":53.9,\"lng\":{\"x\":1},\"t\":1513527459276}]"),
         {{"", 53.893616, 27.477983, 0.0536, -1, "2017-12-17T16:17:39Z"},
          {"", 53.893614, 27.478265, 0.0532, -1, "2017-12-17T16:16:41Z"},
          {"fields"},
          {"number"},
          {"time"},
          {"fields"},
          {"number"}});
  EXPECT_THROW(Read("[{\"d\":1,\"lat\":2,\"lng\":3,\"t\":4}"), std::runtime_error);  // cut off
}

TEST(RadiacodeKml, ReadsTheAppsPlacemarksInRussianAndEnglish) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<kml xmlns:gx=\"http://www.google.com/kml/ext/2.2\">\n<Document>\n<name>Бештау</name>\n"
      "<description>26 июл 2025 11:28, 06:24:06, Точек: 1019/1019, 4.03 км</description>\n";
  const auto placemark = [](std::string coordinates, std::string description) {
    return "<Placemark id=\"0\">\n<styleUrl>#FF006800</styleUrl>\n<Point>\n<coordinates>" +
           coordinates + "</coordinates>\n</Point>\n<description><![CDATA[" + description +
           "]]></description>\n</Placemark>\n";
  };
  const std::string kml =
      head +
      // two real placemarks
      placemark("43.0569708,44.0684605,0",
                "<b>26 июл 2025 11:28:49</b></br>0.15 мкЗв/ч</br>19.3 имп/c</br>Точность: "
                "±2200 м</br>") +
      placemark("43.0298435,44.0854283,0",
                "<b>26 июл 2025 11:29:54</b></br>0.29 мкЗв/ч</br>24.7 имп/c</br>Точность: ±63 "
                "м</br>") +
      placemark("139.5,35.5,0",
                "<b>Feb 3, 2024 18:10:04</b></br>0.29 µSv/h</br>69.2 cps</br>Accuracy: ±4 m</br>") +
      placemark("139.5,35.5,0", "<b>3 май 2024 18:10:04</b></br>120 µR/h</br>") +
      placemark("139.5,35.5,0", "<b>3 сент. 2024 18:10:04</b></br>0.1 мкЗв/ч</br>") +
      placemark("139.5,35.5,0", "<b>Feb 30, 2024 18:10:04</b></br>0.29 µSv/h</br>") +
      placemark("139.5,35.5,0", "<b>Feb 3, 2024 18:10:04</b></br>a lot µSv/h</br>") +
      placemark("139.5,35.5,0", "<b>Feb 3, 2024 18:10:04</b></br>69.2 cps</br>") +
      placemark("139.5;35.5", "<b>Feb 3, 2024 18:10:04</b></br>0.29 µSv/h</br>") +
      "<Placemark><name>no point</name></Placemark>\n</Document>\n</kml>\n";
  Expect(Read(kml), {{"", 44.0684605, 43.0569708, 0.15, 19.3 * 60, "2025-07-26T11:28:49", 2200},
                     {"", 44.0854283, 43.0298435, 0.29, 24.7 * 60, "2025-07-26T11:29:54", 63},
                     {"", 35.5, 139.5, 0.29, 69.2 * 60, "2024-02-03T18:10:04", 4},
                     {"", 35.5, 139.5, 1.2, -1, "2024-05-03T18:10:04"},
                     {"", 35.5, 139.5, 0.1, -1, "2024-09-03T18:10:04"},
                     {"time"},
                     {"number"},
                     {"number"},
                     {"number"},
                     {"fields"}});
  ReaderOptions moscow;
  moscow.utc_offset = 3 * 3600;
  EXPECT_EQ(IsoTime(Read(kml, moscow)[0].second.measurement.time, true), "2025-07-26T08:28:49Z");
  EXPECT_THROW(Read(head + placemark("1,2", "<b>x</b>0.1 мкЗв/ч")), std::runtime_error);  // cut
}

// A run over logs in memory, keeping what it kept and rejected.
class QualityRun : public ::testing::Test {
 protected:
  struct Collected : MeasurementSink, RejectSink {
    void Add(const Measurement& m, int) override { kept.push_back(m.line); }
    void Reject(const std::string& log, long line, RejectReason reason, std::string_view) override {
      rejected.push_back(log + ":" + std::to_string(line) + " " + std::string(ReasonName(reason)));
    }
    std::vector<long> kept;
    std::vector<std::string> rejected;
  };

  void Run(const std::vector<std::pair<std::string, std::string>>& named_logs) {
    std::vector<OpenLog> logs;
    for (const auto& [name, bytes] : named_logs) logs.push_back(OpenLogInMemory(name, bytes));
    RunSurvey(logs, options_, {&sink_}, &sink_, stats_);
  }

  SurveyOptions options_;
  Collected sink_;
  DriveStatistics stats_;
};

// An atomfast CSV line: seconds, latitude, longitude, accuracy.
std::string Line(int t, double lat, double lon, std::string accuracy = "3", double dose = 0.1) {
  return std::to_string(1752939400 + t) + ";" + std::to_string(dose) + ";" + std::to_string(lat) +
         ";" + std::to_string(lon) + ";1;1;1;1;" + accuracy + "\n";
}
const std::string kHeader =
    "unix timestamp;doserate;lat;lng;wgs84_alt;speed;cps;cp_2s;horizontal accuracy\n";

TEST_F(QualityRun, PoorAccuracyIsRejectedAtTheLimitsEdgeAndOnlyWhenGiven) {
  Run({{"a.csv", kHeader + Line(0, 45, 37, "100") + Line(5, 45, 37.0001, "100.5") +
                     Line(10, 45, 37.0002, "") + Line(15, 45, 37.0003, "1600")}});
  EXPECT_EQ(sink_.kept, (std::vector<long>{2, 4}));
  EXPECT_EQ(sink_.rejected, (std::vector<std::string>{"a.csv:3 accuracy", "a.csv:5 accuracy"}));
  options_.quality.max_accuracy_m = 0;  // off
  sink_ = {};
  Run({{"a.csv", kHeader + Line(15, 45, 37.0003, "1600")}});
  EXPECT_EQ(sink_.kept.size(), 1u);
}

TEST_F(QualityRun, ALoneJumpIsRejectedButAFastTrainAndTheEndsAreKept) {
  // 45°N: 0.01° of latitude is 1.1 km; 5 s apart that is 800 km/h.
  Run({{"jump.csv", kHeader + Line(0, 45.02, 37) +  // first: never judged, though far
                        Line(5, 45, 37) + Line(10, 45.0001, 37) +
                        Line(15, 45.01, 37) +  // thrown off and back: gps_jump
                        Line(20, 45.0002, 37) +
                        Line(25, 45.0003, 37, "500") +  // rejected: no neighbour
                        Line(30, 45.02, 37)},           // last: never judged
       {"train.csv", kHeader + Line(0, 46, 37) + Line(5, 46.01, 37) + Line(10, 46.02, 37) +
                         Line(15, 46.03, 37)}});
  EXPECT_EQ(sink_.rejected,
            (std::vector<std::string>{"jump.csv:5 gps_jump", "jump.csv:7 accuracy"}));
  EXPECT_EQ(sink_.kept, (std::vector<long>{2, 3, 4, 6, 8, 2, 3, 4, 5}));
  EXPECT_EQ(stats_.rejected(RejectReason::kGpsJump), 1);
  // The spike's 2.2 km out and back are not in the distance.
  EXPECT_LT(stats_.distance_km(), 2 * 2.3 + 3 * 1.2);
  // A flight: reached at 304 km/h and left at 308 on a leg turning by 29 degrees, as a real
  // track does (its neighbours 296 km/h apart). They lie farther apart than half the way
  // through it: kept.
  sink_ = {};
  Run({{"flight.csv", kHeader + Line(0, 47, 37) + Line(5, 47.0037952, 37) +
                          Line(10, 47.0071617, 37.0027364) + Line(15, 47.0105282, 37.0054728)}});
  EXPECT_EQ(sink_.kept.size(), 4u);
  options_.quality.max_speed_kmh = 0;
  sink_ = {};
  Run({{"jump.csv", kHeader + Line(0, 45, 37) + Line(5, 45.01, 37) + Line(10, 45, 37)}});
  EXPECT_EQ(sink_.kept.size(), 3u);
}

// The jump and route checks skip the trigonometry below this bound: were it ever under the
// distance, a jump would be kept, or a route drawn through a zone.
TEST(GreatCircleBound, IsNeverUnderTheDistanceEvenAlongAMeridianOrAcrossAPole) {
  std::mt19937_64 random(7);
  std::uniform_real_distribution<double> lat(-90, 90), lon(-180, 180), unit(-1, 1);
  for (int i = 0; i < 200000; ++i) {
    const double lat1 = lat(random), lon1 = lon(random);
    const double scale = std::pow(10.0, -(i % 10));  // from 1° down to a billionth of one
    const double lat2 = std::clamp(lat1 + unit(random) * scale, -90.0, 90.0);
    const double lon2 = i % 3 == 0 ? lon1 : lon1 + unit(random) * scale;  // along a meridian
    ASSERT_LE(GreatCircleMetres(lat1, lon1, lat2, lon2),
              GreatCircleMetresAtMost(lat1, lon1, lat2, lon2))
        << lat1 << "," << lon1 << " " << lat2 << "," << lon2;
  }
  EXPECT_LE(GreatCircleMetres(89.9, 0, 89.9, 180), GreatCircleMetresAtMost(89.9, 0, 89.9, 180));
  EXPECT_LT(GreatCircleMetresAtMost(45, 37, 45.0001, 37), 11.2);  // yet close for near points
}

TEST_F(QualityRun, ARecordReadBeforeInTheRunIsADuplicateFromAnyLog) {
  const std::string day = kHeader + Line(0, 45, 37) + Line(5, 45.0001, 37);
  // Appended to and given again: the old lines once, the new one once.
  Run({{"day.csv", day}, {"again.csv", day + Line(10, 45.0002, 37)}, {"same.csv", day}});
  EXPECT_EQ(sink_.kept, (std::vector<long>{2, 3, 4}));
  EXPECT_EQ(stats_.rejected(RejectReason::kDuplicate), 4);
  // A different dose at the same time and place is a measurement of its own.
  sink_ = {};
  Run({{"b.csv", kHeader + Line(0, 45, 37, "3", 0.1) + Line(0, 45, 37, "3", 0.2)}});
  EXPECT_EQ(sink_.kept.size(), 2u);
  options_.quality.keep_duplicates = true;
  sink_ = {};
  Run({{"day.csv", day}, {"same.csv", day}});
  EXPECT_EQ(sink_.kept.size(), 4u);
}

TEST_F(QualityRun, PrivacyAndTheFormatsOwnReasonsComeFirst) {
  options_.zones.push_back(ParseCircleZone("45,37,1000"));
  const std::string log = kHeader + Line(0, 45, 37, "900") + Line(5, 46, 37, "x");
  Run({{"a.csv", log}, {"b.csv", log}});
  EXPECT_EQ(stats_.privacy(), 2);  // poor accuracy and a duplicate, but at home
  EXPECT_EQ(sink_.rejected, (std::vector<std::string>{"a.csv:3 number", "b.csv:3 number"}));
}

TEST(FingerprintSet, HoldsAMillionRecordsInAtMostSixteenBytesEach) {
  FingerprintSet set;
  Measurement m;
  for (int i = 0; i < 1000000; ++i) {
    m.time = 1700000000 + i;
    m.latitude = 35 + i * 1e-6;
    ASSERT_TRUE(set.Insert(FingerprintOf(m))) << i;
    if (i % 99991 == 0) {
      ASSERT_FALSE(set.Insert(FingerprintOf(m)));
    }
  }
  EXPECT_EQ(set.size(), 1000000u);
  EXPECT_LE(set.bytes(), 16u * set.size());
  m.time = 1700000000;
  m.latitude = 35;
  EXPECT_FALSE(set.Insert(FingerprintOf(m)));
  m.latitude = -0.0;
  const std::uint64_t negative_zero = FingerprintOf(m);
  m.latitude = 0.0;
  EXPECT_EQ(negative_zero, FingerprintOf(m));
}

// Prefetched ahead as the reading thread does, the set says what a plain hash set says, on random
// fingerprints and on records that come again.
TEST(FingerprintSet, PrefetchedAheadAgreesWithAPlainHashSet) {
  FingerprintSet set;
  std::unordered_set<std::uint64_t> plain;
  std::mt19937_64 random(7);
  std::vector<std::uint64_t> fingerprints;
  for (int i = 0; i < 1000000; ++i) fingerprints.push_back(random() | 1);
  for (int i = 0; i < 1000000; ++i) fingerprints.push_back(fingerprints[random() % 1000000]);
  for (std::size_t i = 0; i < fingerprints.size(); ++i) {
    if (i + 8 < fingerprints.size()) set.Prefetch(fingerprints[i + 8]);
    ASSERT_EQ(set.Insert(fingerprints[i]), plain.insert(fingerprints[i]).second) << i;
  }
  EXPECT_EQ(set.size(), plain.size());
}

// At archive size each table outgrows a large page and is mapped on its own: growing through
// such tables keeps every fingerprint, and the memory stays within 16 bytes a record.
TEST(FingerprintSet, KeepsEveryFingerprintThroughTablesMappedOnTheirOwn) {
  FingerprintSet set;
  std::mt19937_64 random(11);
  std::vector<std::uint64_t> fingerprints(4000000);
  for (std::uint64_t& fingerprint : fingerprints) fingerprint = random() | 1;
  for (const std::uint64_t fingerprint : fingerprints) ASSERT_TRUE(set.Insert(fingerprint));
  EXPECT_GT(set.bytes(), std::size_t{16} << 21);  // sixteen tables, each over 2 MiB
  EXPECT_LE(set.bytes(), 16u * set.size());
  for (const std::uint64_t fingerprint : fingerprints) ASSERT_FALSE(set.Insert(fingerprint));
  EXPECT_EQ(set.size(), fingerprints.size());
}

// Fields split sixteen bytes at a time agree with a plain split of the same line, at every
// length and wherever a separator, a blank or a quote falls.
TEST(SplitFields, AgreesWithAPlainSplitAtEveryLength) {
  const auto plain = [](std::string_view text, char separator, bool quotes) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    for (;;) {
      while (at < text.size() && (text[at] == ' ' || text[at] == '\t') && text[at] != separator)
        ++at;
      std::size_t end = at;
      std::string field;
      if (quotes && at < text.size() && text[at] == '"') {
        for (end = at + 1; end < text.size(); ++end) {  // "" inside stays as it is
          if (text[end] == '"' && end + 1 < text.size() && text[end + 1] == '"') {
            ++end;
          } else if (text[end] == '"') {
            break;
          }
        }
        field = std::string(text.substr(at + 1, end - at - 1));
      } else {
        while (end < text.size() && text[end] != separator) ++end;
        field = std::string(text.substr(at, end - at));
        while (!field.empty() && (field.back() == ' ' || field.back() == '\t')) field.pop_back();
      }
      fields.push_back(field);
      while (end < text.size() && text[end] != separator) ++end;
      if (end >= text.size()) return fields;
      at = end + 1;
    }
  };
  std::mt19937 random(5);
  const std::string alphabet = ",,\t  \"a1.";
  std::vector<std::string_view> fields;
  for (int round = 0; round < 20000; ++round) {
    std::string line(random() % 70, 'x');
    const bool with_quotes = round % 3 == 0;
    for (char& c : line) {
      c = alphabet[random() % alphabet.size()];
      if (!with_quotes && c == '"') c = 'b';
    }
    for (const char separator : {',', '\t'}) {
      for (const bool quotes : {false, true}) {
        SplitFields(line, separator, quotes, fields);
        const std::vector<std::string> expected = plain(line, separator, quotes);
        ASSERT_EQ(std::vector<std::string>(fields.begin(), fields.end()), expected)
            << "[" << line << "] " << quotes;
      }
    }
  }
}

TEST(Summary, GivesDosesAndDistancesToThreeSignificantDigits) {
  EXPECT_EQ(ThreeDigits(0.13539587491683325), "0.135");
  EXPECT_EQ(ThreeDigits(8.058), "8.06");
  EXPECT_EQ(ThreeDigits(0.02232410179640721), "0.0223");
  EXPECT_EQ(ThreeDigits(0.9996), "1");
  EXPECT_EQ(ThreeDigits(1234.5), "1,230");
  EXPECT_EQ(ThreeDigits(0), "0");
  EXPECT_EQ(ThreeDigits(2e-7), "0.0000002");
  EXPECT_EQ(ThreeDigits(-0.00004), "-0.00004");
  EXPECT_EQ(FigureText(10160.3, 4), "10,160");
  EXPECT_EQ(FigureText(999999.7, 4), "1,000,000");
  EXPECT_EQ(FigureText(-123456, 3), "-123,000");
  EXPECT_EQ(FigureText(1e21, 2), "1,000,000,000,000,000,000,000");
  EXPECT_EQ(ThreeDigits(std::numeric_limits<double>::infinity()), "\xE2\x80\x94");
  EXPECT_EQ(ThreeDigits(std::nan("")), "\xE2\x80\x94");
  DriveStatistics stats;
  Measurement m;
  m.dose_usvh = 0.13539587491683325;
  stats.Keep(m, 2);
  EXPECT_NE(stats.Line().find("highest 0.135 \xC2\xB5Sv/h"), std::string::npos);
  EXPECT_NE(stats.Json().find("0.13539587491683325"), std::string::npos);  // every digit
  // Doses near the largest double: their sum and integral overflow. No output says inf or nan.
  DriveStatistics huge;
  for (int i = 0; i < 3; ++i) {
    m.time = i * 10;
    m.dose_usvh = std::numeric_limits<double>::max();
    huge.Keep(m, 5);
  }
  for (const std::string& text : {huge.Line(), huge.Json()}) {
    EXPECT_EQ(text.find("inf"), std::string::npos) << text;
    EXPECT_EQ(text.find("nan"), std::string::npos) << text;
  }
  EXPECT_NE(huge.Line().find("mean \xE2\x80\x94 \xC2\xB5Sv/h, total dose \xE2\x80\x94"),
            std::string::npos)
      << huge.Line();
  EXPECT_NE(huge.Json().find("\"dose_mean_usvh\":null,\"dose_total_usv\":null"), std::string::npos);
}

// Measurements through a map form and back through its reader, bit for bit.
TEST(OwnMaps, CsvAndGeoJsonComeBackExactly) {
  std::vector<Measurement> drive(4);
  drive[0] = {.time = 1795224600,
              .latitude = 0.1 + 0.2,
              .longitude = -179.99999999999997,
              .altitude = 210.53293835878,
              .has_altitude = true,
              .dose_usvh = 1.0 / 3,
              .cpm = 111.33333333333333,
              .has_cpm = true};
  drive[1] = {.time = -62135596800,
              .latitude = 89.99999999999999,
              .longitude = 1e-300,
              .dose_usvh = 5e-324};
  drive[2] = {.time = 253402300799,
              .utc = false,
              .latitude = -45.5,
              .longitude = 140.25,
              .altitude = -0.5,
              .has_altitude = true,
              .dose_usvh = 123456789.125};
  drive[3] = {.time = 0, .latitude = 1, .longitude = 1, .dose_usvh = 0};
  for (const char* form : {"csv", "geojson"}) {
    SCOPED_TRACE(form);
    const MapFormRow* row = nullptr;
    for (const MapFormRow* r : MapForms()) {
      if (r->name == form) row = r;
    }
    ASSERT_NE(row, nullptr);
    StringSink sink;
    std::unique_ptr<FormWriter> writer = row->write(sink, "drive", MapOptions{});
    writer->BeginLog(0, "a,\"b\".LOG");
    for (const Measurement& m : drive) writer->Add(m, 1);
    writer->Finish(DriveStatistics{});
    const auto records = Read(sink.bytes());
    ASSERT_EQ(records.size(), drive.size());
    for (std::size_t i = 0; i < drive.size(); ++i) {
      SCOPED_TRACE(i);
      const Measurement& in = drive[i];
      const Measurement& out = records[i].second.measurement;
      ASSERT_EQ(records[i].second.reason, RejectReason::kNone);
      EXPECT_EQ(out.time, in.time);
      EXPECT_EQ(out.utc, in.utc);
      for (const auto& [a, b] : {std::pair{in.latitude, out.latitude},
                                 {in.longitude, out.longitude},
                                 {in.dose_usvh, out.dose_usvh},
                                 {in.cpm, out.cpm},
                                 {in.altitude, out.altitude}}) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(a), std::bit_cast<std::uint64_t>(b))
            << a << " " << b;
      }
      EXPECT_EQ(out.has_cpm, in.has_cpm);
      EXPECT_EQ(out.has_altitude, in.has_altitude);
    }
  }
}

}  // namespace
}  // namespace dosemap
