// The cleaned log: the kept records' own lines, byte for byte, and nothing private or broken.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "conversion/drive_conversion.h"
#include "tests/sentences.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::Sentence;
using testing::TempDir;

class CleanedLogTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_.path() / name).string(); }

  // Converts logs into out with the home zone; the run's figures.
  DriveStatistics Convert(const std::vector<std::string>& logs, const std::string& out) {
    DriveRequest request;
    for (const std::string& log : logs) request.logs.push_back(Path(log));
    request.maps = {Path(out)};
    request.survey.zones = {ParseCircleZone("37.4,140.5017,200")};  // home: 37°24', 140°30.1'
    return ConvertDrive(request);
  }

  // The CSV map's rows without the column that names the log's file and line.
  std::vector<std::string> PointsOf(const std::string& csv) {
    std::vector<std::string> rows;
    std::istringstream in(dir_.Read(csv));
    for (std::string row; std::getline(in, row);) rows.push_back(row.substr(0, row.rfind(',')));
    return rows;
  }

  TempDir dir_;
};

TEST_F(CleanedLogTest, KeepsTheKeptRecordsOwnLinesAndLeavesOutEverythingElse) {
  const std::string home = Sentence(0, 24.0), near_home = Sentence(5, 24.03);
  const std::string a = Sentence(10, 24.2), b = Sentence(15, 24.25, 'A', false);
  const std::string void_fix = Sentence(20, 24.3, 'V'), c = Sentence(25, 24.35);
  const std::string d = Sentence(30, 24.4), broken = Sentence(35, 24.45, 'A', false);
  const std::string e = Sentence(40, 24.5), f = Sentence(45, 24.55), g = Sentence(50, 24.6);
  const std::string back_home = Sentence(55, 24.02), at_home = Sentence(60, 24.0);
  const std::string log =
      "# NEW LOG\r\n# format=1.3.6nano\r\n"
      "# parked at 3724.0000,N,14030.1000,E\n" +  // a comment that tells home
      home +
      "\n" + near_home + "\n\n" + a + "\r\n" + b + "\n" + "# deadtime=on\n" + void_fix + "\n" + c +
      "\n" + c + "\n" +    // duplicate
      d + broken + "\n" +  // a spliced line: one record kept, one broken
      e + f + "\r\n" +     // a spliced line whose records are both kept
      "GPS lost\n" + g + "\n" + back_home + "\n" + at_home;
  dir_.Write("drive.LOG", log);
  const DriveStatistics stats = Convert({"drive.LOG"}, "drive.clean.LOG");
  EXPECT_EQ(stats.kept(), 6);
  EXPECT_EQ(stats.rejected(RejectReason::kPrivacy), 4);
  EXPECT_EQ(dir_.Read("drive.clean.LOG"), "# NEW LOG\r\n# format=1.3.6nano\r\n" + a + "\r\n" +
                                              "# deadtime=on\n" + c + "\n" + d + "\n" + e + f +
                                              "\r\n" + g + "\n");

  // Read back, the cleaned log gives the same points, and nothing to reject or hide.
  Convert({"drive.LOG"}, "drive.csv");
  const DriveStatistics again = Convert({"drive.clean.LOG"}, "clean.csv");
  EXPECT_EQ(again.read(), 6);
  EXPECT_EQ(again.kept(), 6);
  EXPECT_EQ(PointsOf("clean.csv"), PointsOf("drive.csv"));
}

TEST_F(CleanedLogTest, LogsFollowEachOtherAndALastLineWithoutAnEndGetsOneOnlyBeforeMore) {
  dir_.Write("a.LOG", "# NEW LOG\n" + Sentence(0, 25.0));
  dir_.Write("b.LOG", "# NEW LOG\r\n" + Sentence(5, 25.05) + "\r\n" + Sentence(10, 24.0));
  Convert({"a.LOG", "b.LOG"}, "both.log");
  EXPECT_EQ(dir_.Read("both.log"),
            "# NEW LOG\n" + Sentence(0, 25.0) + "\n# NEW LOG\r\n" + Sentence(5, 25.05) + "\r\n");
  Convert({"a.LOG"}, "a.clean.LOG");
  EXPECT_EQ(dir_.Read("a.clean.LOG"), "# NEW LOG\n" + Sentence(0, 25.0));
}

TEST_F(CleanedLogTest, ALineThatLostItsEndsIsCopiedRecordByRecordAcrossItsPieces) {
  // Far more than the reader hands out at once: it comes in pieces that each end before a "$".
  std::string line, expected;
  constexpr int kRecords = 14000;
  for (int i = 0; i < kRecords; ++i) {
    const int cpm = 30 + i;  // every record differs
    const bool broken = i == 7000 || i == kRecords - 1;
    const std::string sentence = Sentence(0, 25.0, 'A', !broken, cpm);
    line += sentence;
    if (!broken) expected += sentence + "\n";
  }
  ASSERT_GT(line.size(), 1u << 20);
  dir_.Write("spliced.LOG", "# NEW LOG\n" + line + "\n");
  const DriveStatistics stats = Convert({"spliced.LOG"}, "spliced.clean.LOG");
  EXPECT_EQ(stats.kept(), kRecords - 2);
  EXPECT_EQ(dir_.Read("spliced.clean.LOG"), "# NEW LOG\n" + expected);
}

TEST_F(CleanedLogTest, RefusesLogsItCannotCopyAndWritesNothing) {
  dir_.Write("drive.LOG", Sentence(0, 25.0) + "\n");
  std::ifstream ers(std::string(DOSEMAP_REAL_DIR) + "/DEMO_ERS2.0_Area1_Italy_excerpt.ers");
  dir_.Write("drive.ers", std::string(std::istreambuf_iterator<char>(ers), {}));
  for (const std::vector<std::string>& logs :
       {std::vector<std::string>{"drive.LOG", "drive.ers"}, {"-"}}) {
    DriveRequest request;
    for (const std::string& log : logs) request.logs.push_back(log == "-" ? log : Path(log));
    request.maps = {Path("out.LOG"), Path("out.csv")};
    try {
      ConvertDrive(request);
      ADD_FAILURE() << "taken";
    } catch (const SurveyError& error) {
      EXPECT_EQ(error.kind(), SurveyErrorKind::kUsage);
      const std::string what = error.what();
      EXPECT_NE(what.find(logs.back() == "-" ? "standard input" : Path("drive.ers")),
                std::string::npos)
          << what;
    }
    EXPECT_FALSE(dir_.Exists("out.LOG"));
    EXPECT_FALSE(dir_.Exists("out.csv"));
  }
}

// A sink that refuses bytes fails as a map does (a write failure), not as a log that can't be read.
TEST_F(CleanedLogTest, AWriteFailureIsTheMapsNotTheLogs) {
  struct FullSink : ByteSink {
    void Write(std::string_view) override {
      throw FileError(FileErrorKind::kWriteFailed, "out.LOG: No space left on device");
    }
    std::int64_t offset() const override { return 0; }
    void Patch(std::int64_t, std::string_view) override {}
  } full;
  dir_.Write("drive.LOG", "# NEW LOG\n" + Sentence(0, 25.0) + "\n");
  std::vector<OpenLog> logs = OpenLogs({Path("drive.LOG")}, nullptr);
  const MapFormRow* form = MapFormOf("out.LOG");
  ASSERT_NE(form, nullptr);
  const std::unique_ptr<FormWriter> writer = form->write(full, "out", MapOptions{});
  DriveStatistics stats;
  RunSurvey(logs, SurveyOptions{}, {writer.get()}, nullptr, stats);
  try {
    writer->Finish(stats);
    ADD_FAILURE() << "written";
  } catch (const FileError& error) {
    EXPECT_EQ(error.kind(), FileErrorKind::kWriteFailed);
  }
}

// Public logs: every line of the cleaned log is a line of the log, in the log's order.
TEST_F(CleanedLogTest, RealLogsGiveOnlyTheirOwnLines) {
  for (const char* name : {"bgeigie.log", "bgeigie_with_corruption.log", "malformed_bgeigie.log",
                           "CzechRad_data_sample.LOG"}) {
    SCOPED_TRACE(name);
    std::ifstream in(std::string(DOSEMAP_REAL_DIR) + "/" + name, std::ios::binary);
    dir_.Write("in.LOG", std::string(std::istreambuf_iterator<char>(in), {}));
    const DriveStatistics stats = Convert({"in.LOG"}, "out.LOG");
    std::istringstream original(dir_.Read("in.LOG")), cleaned(dir_.Read("out.LOG"));
    std::string line, kept;
    long sentences = 0;
    while (std::getline(cleaned, kept)) {
      sentences += std::count(kept.begin(), kept.end(), '$');
      while (std::getline(original, line) && line != kept) {
      }
      EXPECT_EQ(line, kept) << "not a line of the log, or out of order";
    }
    EXPECT_EQ(sentences, stats.kept());
    // A log with nothing to leave out comes back byte for byte.
    if (std::string(name) == "CzechRad_data_sample.LOG") {
      EXPECT_EQ(stats.kept(), stats.read());
      EXPECT_EQ(dir_.Read("out.LOG"), dir_.Read("in.LOG"));
    }
  }
}

}  // namespace
}  // namespace dosemap
