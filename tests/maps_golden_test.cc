// Every map form's bytes, and the rejects file's, over an in-memory sink, compared byte for byte
// with tests/golden/. A small drive of two logs holds every class, a null cpm, a missing
// altitude, a local time, an odd name and a point on each edge of the world.
//
// After a deliberate change of a form, regenerate the files and review their diff:
//   DOSEMAP_UPDATE_GOLDEN=1 build/bin/dosemap_core_tests --gtest_filter='MapGolden*'
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "dose/dose_scale.h"
#include "maps/survey_maps.h"
#include "survey/readers.h"
#include "survey/statistics.h"

namespace dosemap {
namespace {

struct Point {
  int log;
  double latitude, longitude, dose, cpm, altitude;
  std::int64_t time;
  bool utc;
};

constexpr double kNone = -1;  // no cpm, or no altitude

// 2026-11-21T01:30:00Z and on.
constexpr std::int64_t kStart = 1795224600;

const std::vector<Point> kDrive = {
    {0, 37.4214865, 140.47155, 0.05, 16.7, 210.5, kStart, true},
    {0, 37.5, 140.5, 0.1, 33.4, kNone, kStart + 5, true},
    {0, 90, 180, 0.15, kNone, 0, kStart + 10, true},
    {0, -90, -180, 0.3, 100.2, -12.25, kStart + 15, true},
    {1, 35.6812, 139.7671, 0.6, 200.4, 40, kStart + 3600, false},
    {1, -0.000001, 0.000001, 1234.5678901234567, 412345678.9, 1e-7, kStart + 3605, false},
};

const char* const kLogNames[] = {"a.LOG", "odd <&> \"name\" é.LOG"};

std::string Golden(const std::string& name) {
  std::ifstream in(std::string(DOSEMAP_GOLDEN_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void ExpectGolden(const std::string& name, const std::string& bytes) {
  if (std::getenv("DOSEMAP_UPDATE_GOLDEN") != nullptr) {
    std::ofstream(std::string(DOSEMAP_GOLDEN_DIR) + "/" + name, std::ios::binary) << bytes;
    return;
  }
  const std::string expected = Golden(name);
  ASSERT_FALSE(expected.empty()) << "no tests/golden/" << name << " (see this file's header)";
  EXPECT_TRUE(bytes == expected)
      << "tests/golden/" << name << " differs; first difference at byte "
      << std::mismatch(bytes.begin(), bytes.end(), expected.begin(), expected.end()).first -
             bytes.begin();
}

// The report inlines Leaflet and Chart.js from Debian's packages: their bytes are theirs, not
// the form's, and change with the packages.
std::string WithoutAssets(std::string html) {
  const auto cut = [&html](std::string_view from, std::string_view to, std::string_view with) {
    const std::size_t begin = html.find(from);
    const std::size_t end = html.find(to, begin);
    if (begin == std::string::npos || end == std::string::npos) return;
    html.replace(begin + from.size(), end - begin - from.size(), with);
  };
  cut("<style>\n", "\nhtml,body{", "[leaflet.css]");
  cut("</style>\n", "\n</head>", "<script>[leaflet.js]</script>\n<script>[chart.js]</script>");
  return html;
}

TEST(MapGolden, EveryFormWritesTheSmallDriveAsItsGoldenFile) {
  const MapOptions options{0.11, 0.19, ""};
  DriveStatistics statistics;
  std::vector<Measurement> measurements;
  for (std::size_t i = 0; i < kDrive.size(); ++i) {
    const Point& p = kDrive[i];
    Measurement m;
    m.log = p.log;
    m.line = static_cast<long>(i) + 2;
    m.latitude = p.latitude, m.longitude = p.longitude, m.dose_usvh = p.dose;
    m.has_cpm = p.cpm != kNone, m.cpm = m.has_cpm ? p.cpm : 0;
    // A counted dose carries its counting uncertainty (one log of two counts).
    if (m.has_cpm && p.log == 0) m.dose_sigma_usvh = CountingSigma(m.dose_usvh, m.cpm, 334);
    m.has_altitude = p.altitude != kNone, m.altitude = m.has_altitude ? p.altitude : 0;
    m.time = p.time, m.utc = p.utc;
    measurements.push_back(m);
  }
  for (const MapFormRow* form : MapForms()) {
    if (form->copies_log_lines) continue;  // copied out of log files: the cleaned log's own tests
    if (form->write == nullptr) continue;  // tile archives: their own tests
    SCOPED_TRACE(std::string(form->name));
    StringSink sink;
    DriveStatistics figures;
    const std::unique_ptr<FormWriter> writer = form->write(sink, "golden <drive>", options);
    int log = -1;
    for (const Measurement& m : measurements) {
      if (m.log != log) {
        figures.StartLog();
        log = m.log;
        writer->BeginLog(log, kLogNames[log]);
      }
      const int dose_class =
          static_cast<int>(DoseScale{options.yellow, options.red}.ClassOf(m.dose_usvh));
      figures.Keep(m, dose_class);
      writer->Add(m, dose_class);
    }
    figures.Reject(RejectReason::kChecksum);
    figures.Reject(RejectReason::kPrivacy);
    writer->Finish(figures);
    const std::string bytes = form->name == "html" ? WithoutAssets(sink.bytes()) : sink.bytes();
    ExpectGolden("golden." + std::string(form->name), bytes);
  }
}

TEST(MapGolden, TheRejectsFileListsEachRecordAsItsGoldenFile) {
  StringSink sink;
  RejectsWriter rejects(sink);
  rejects.Reject("a.LOG", 4, RejectReason::kChecksum, "$BNRDD,2601,2026-11-21T01:31:40Z,42*00");
  rejects.Reject("odd, \"name\".LOG", 7, RejectReason::kFields, "=HYPERLINK(\"x\")\x01\ttab");
  rejects.Reject("=cmd.LOG", 9, RejectReason::kTime, std::string(300, 'x'));
  rejects.Reject("b.LOG", 12, RejectReason::kNumber, "-1,2,3 caf\xC3\xA9");
  ExpectGolden("golden.rejects.csv", sink.bytes());
}

TEST(MapGolden, TheRejectsFileWritesAFileNameAsValidUtf8OnOneLine) {
  StringSink sink;
  RejectsWriter rejects(sink);
  rejects.Reject("bad\x01\nname\xFF.LOG", 3, RejectReason::kFields, "x");
  EXPECT_EQ(sink.bytes(), "file,line,reason,text\nbad\\x01\\nname\xEF\xBF\xBD.LOG,3,fields,x\n");
}

}  // namespace
}  // namespace dosemap
