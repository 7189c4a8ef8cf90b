// Real failures of the file system: unreadable and unwritable places (checked as an unprivileged
// user, since root may read and write anything) and a settings save killed part-way.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <functional>
#include <random>
#include <string>

#include "legacy/convert/conversion_run.h"
#include "legacy/settings/settings_file.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

constexpr uid_t kNobody = 65534;

using Quiet = testing::CountingBeeper;

// Runs check in a child process as the user nobody; true when it returned true.
bool AsNobody(const std::function<bool()>& check) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(2);
    ::_exit(check() ? 0 : 1);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

using Boxes = testing::SaveOnChangeBoxes;

constexpr const char* kLog =
    "h,h,h,h,h,h,h\r\n2012,,1,0.05,35.25,139.5,5\r\n2012,,1,0.15,35.5,139.5,10\r\n";

class FaultTest : public ::testing::Test {
 protected:
  void SetUp() override { std::filesystem::permissions(dir_.path(), std::filesystem::perms::all); }
  void Mode(const std::string& name, mode_t mode) { ::chmod((dir_.path() / name).c_str(), mode); }

  TempDir dir_;
};

TEST_F(FaultTest, UnreadableLogsAndUnwritableMapsAreReportedWithNothingLeftOpen) {
  dir_.Write("DATA_0.csv", kLog);
  Mode("DATA_0.csv", 0200);
  std::filesystem::create_directory(dir_.path() / "locked");
  Mode("locked", 0555);
  std::filesystem::create_directory(dir_.path() / "folder.csv");
  const struct {
    const char* log;
    const char* map;
    RunFailure failure;
  } cases[] = {
      {"DATA_0", "DATA_0", RunFailure::kLogNotOpened},  // no read permission
      {"folder", "DATA_0", RunFailure::kLogNotOpened},  // a directory
  };
  for (const auto& c : cases) {
    EXPECT_TRUE(AsNobody([&] {
      TextFiles files(dir_.path());
      Quiet quiet;
      const RunOutcome outcome =
          ConversionRun(files, c.log, c.map, FixedThresholds("0.11", "0.19"), quiet);
      return outcome.failure == c.failure && !files.IsOpen(1) && !files.IsOpen(2);
    })) << c.log;
  }
  EXPECT_FALSE(dir_.Exists("DATA_0.kml"));

  Mode("DATA_0.csv", 0644);
  EXPECT_TRUE(AsNobody([&] {
    TextFiles files(dir_.path());
    Quiet quiet;
    const RunOutcome outcome =
        ConversionRun(files, "DATA_0", "locked/map", FixedThresholds("0.11", "0.19"), quiet);
    return outcome.failure == RunFailure::kOutputNotCreated && !files.IsOpen(1) &&
           !files.IsOpen(2) && outcome.message.find("locked/map.kml") != std::string::npos;
  }));
  EXPECT_FALSE(std::filesystem::exists(dir_.path() / "locked" / "map.kml"));
}

TEST_F(FaultTest, ReadOnlySettingsStillOpenTheWindowWithTheirValues) {
  const std::string saved = "a,b, 7, 150,   ,   ,   ,   ,   ,   ,   ,   ,   ,   ,   ,";
  dir_.Write("SETT.TXT", saved);
  Mode("SETT.TXT", 0444);
  EXPECT_TRUE(AsNobody([&] {
    TextFiles files(dir_.path());
    Boxes boxes(files);
    LoadSettings(files, boxes);
    return boxes.texts == std::array<std::string, 4>{"a", "b", "0.07", "1.5"} &&
           boxes.failed_saves == 4 && !files.IsOpen(kSettingsFileNumber);
  }));
  EXPECT_EQ(dir_.Read("SETT.TXT"), saved);

  std::filesystem::remove(dir_.path() / "SETT.TXT");
  Mode(".", 0555);
  EXPECT_TRUE(AsNobody([&] {
    TextFiles files(dir_.path());
    Boxes boxes(files);
    LoadSettings(files, boxes);
    return boxes.texts == std::array<std::string, 4>{"DATA_0", "DATA_0", "0.11", "0.19"};
  }));
  Mode(".", 0777);
  EXPECT_FALSE(dir_.Exists("SETT.TXT"));
}

TEST_F(FaultTest, ASaveKilledAtAnyMomentLeavesTheOldOrTheNewFileWhole) {
  const auto line = [](const std::string& name) {
    std::string text = name + ",DATA_0, 11, 19,";
    for (int i = 0; i < 11; ++i) text += "   ,";
    return text;
  };
  const std::string first = line("first"), second = line("second");
  dir_.Write("SETT.TXT", first);
  std::mt19937 random(3);
  for (int attempt = 0; attempt < 30; ++attempt) {
    const pid_t child = ::fork();
    if (child == 0) {
      TextFiles files(dir_.path());
      Boxes boxes(files);
      boxes.texts = {"first", "DATA_0", "0.11", "0.19"};
      for (int i = 0;; ++i) boxes.SetBoxText(Box::kText1, i % 2 ? "first" : "second");
    }
    ::usleep(random() % 20000);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const std::string now = dir_.Read("SETT.TXT");
    ASSERT_TRUE(now == first || now == second) << "attempt " << attempt << ": [" << now << "]";
  }
}

}  // namespace
}  // namespace dosemap
