// Periods: records outside --since/--until are neither kept nor rejected, and never judged by the
// checks that compare records.
#include <gtest/gtest.h>

#include "conversion/drive_conversion.h"
#include "survey/civil_time.h"
#include "tests/sentences.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::Sentence;
using testing::TempDir;

TEST(PeriodTime, ReadsIsoDatesAndTimesAsTheFirstWholeSecondAtOrAfterThem) {
  const std::int64_t day = 1714521600;  // 2024-05-01T00:00:00Z
  for (const auto& [text, seconds] : {std::pair{"2024-05-01", day},
                                      {"2024-05-01T09:00:00", day + 9 * 3600},
                                      {"2024-05-01T09:00:00Z", day + 9 * 3600},
                                      {"2024-05-01T09:00:00+09:00", day},
                                      {"2024-05-01T09:00:00-00:30", day + 9 * 3600 + 1800},
                                      {"2024-05-01T09:00:00.000", day + 9 * 3600},
                                      {"2024-05-01T09:00:00.25Z", day + 9 * 3600 + 1},
                                      {"2024-05-01T23:59:59.999+09:00", day - 9 * 3600 + 86400}}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(ParsePeriodTime(text), std::optional<std::int64_t>(seconds));
  }
  for (const char* wrong :
       {"", "2024-5-01", "2024-05-01 09:00:00", "2024-05-01T09:00", "2024-05-01T09:00:00+0900",
        "2024-05-01T09:00:00 UTC", "2024-02-30", "2024-05-01T25:00:00", "2024-05-01T09:00:00.",
        "2024-05-01T09:00:00Zx", "2024/05/01", "2024-05-01T", "yesterday"}) {
    SCOPED_TRACE(wrong);
    EXPECT_EQ(ParsePeriodTime(wrong), std::nullopt);
  }
}

TEST(Period, RecordsOutsideAreCountedApartAfterTheFormatAndThePrivacyZones) {
  TempDir dir;
  std::string log = "# NEW LOG\n";
  for (int second = 0; second <= 60; second += 5)
    log += Sentence(second, 25.0 + second / 1000.0) + "\n";
  log += Sentence(5, 25.005) + "\n";             // a duplicate, both outside the period
  log += Sentence(20, 25.2, 'A', false) + "\n";  // broken, inside
  log += Sentence(55, 25.3, 'A', false) + "\n";  // broken, outside
  log += Sentence(50, 24.0) + "\n";              // at home, outside
  dir.Write("drive.LOG", log);
  DriveRequest request;
  request.logs = {(dir.path() / "drive.LOG").string()};
  request.maps = {dir.path() / "drive.csv"};
  request.survey.zones = {ParseCircleZone("37.4,140.5017,200")};
  request.survey.period.since = ParsePeriodTime("2026-11-21T01:30:15Z");
  request.survey.period.until = ParsePeriodTime("2026-11-21T10:30:45+09:00");
  const DriveStatistics stats = ConvertDrive(request);
  EXPECT_EQ(stats.kept(), 6);  // seconds 15 to 40
  EXPECT_EQ(stats.outside_period(), 8);
  EXPECT_EQ(stats.rejected(RejectReason::kChecksum), 2);
  EXPECT_EQ(stats.rejected(RejectReason::kDuplicate), 0);
  EXPECT_EQ(stats.privacy(), 1);
  EXPECT_EQ(stats.read(), 17);
  EXPECT_EQ(stats.rejected_total(), 2);
  EXPECT_NE(stats.Line().find(", in privacy zones 1, outside period 8, "), std::string::npos)
      << stats.Line();
  EXPECT_NE(stats.Json().find("\"privacy\":1,\"outside_period\":8,"), std::string::npos)
      << stats.Json();
  EXPECT_EQ(stats.first_time(), *ParsePeriodTime("2026-11-21T01:30:15Z"));
  EXPECT_EQ(stats.last_time(), *ParsePeriodTime("2026-11-21T01:30:40Z"));

  // Without a period, the summary says nothing of one.
  request.survey.period = {};
  const DriveStatistics all = ConvertDrive(request);
  EXPECT_EQ(all.Line().find("outside period"), std::string::npos);
  EXPECT_EQ(all.Json().find("outside_period"), std::string::npos);
  EXPECT_EQ(all.rejected(RejectReason::kDuplicate), 1);

  // An empty period is refused before anything is read.
  request.survey.period.since = ParsePeriodTime("2026-11-21");
  request.survey.period.until = ParsePeriodTime("2026-11-21");
  try {
    Validate(request);
    ADD_FAILURE() << "taken";
  } catch (const SurveyError& error) {
    EXPECT_EQ(error.kind(), SurveyErrorKind::kUsage);
    EXPECT_STREQ(error.what(), "--since must be before --until");
  }
}

}  // namespace
}  // namespace dosemap
