// Hostile inputs and hostile file systems: odd bytes in maps and messages, maps that are the
// log, settings that could not be read back, permissions and stale temporary files.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>

#include "common/message_text.h"
#include "common/staged_file.h"
#include "legacy/convert/conversion_run.h"
#include "legacy/convert/kml_frame.h"
#include "legacy/settings/settings_file.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

TEST(QuotedForMessage, EscapesControlBytesAndCutsLongTexts) {
  EXPECT_EQ(QuotedForMessage("12a"), "\"12a\"");
  EXPECT_EQ(QuotedForMessage("1\n2\r\t\x01\x7f"), "\"1\\n2\\r\\t\\x01\\x7f\"");
  const std::string megabyte(1 << 20, 'x');
  EXPECT_EQ(QuotedForMessage(megabyte), "\"" + std::string(60, 'x') + "…\"");
  // A cut never splits a character: 60 bytes end inside the 20th three-byte character.
  std::string japanese;
  for (int i = 0; i < 21; ++i) japanese += "日";
  std::string first19;
  for (int i = 0; i < 19; ++i) first19 += "日";
  EXPECT_EQ(QuotedForMessage("x" + japanese), "\"x" + first19 + "…\"");
  EXPECT_EQ(OneLine("a\nb\x1b[2J"), "a\\nb\\x1b[2J");
}

// What an interrupt's clean-up removes is known to it from the moment it exists: made and
// registered in one step, whole folders too, and forgotten (never removed again) once dropped.
TEST(StagingPath, IsMadeKnownAndForgotten) {
  TempDir dir;
  const std::string kmz = (dir.path() / "map.kmz").string();
  auto document = StagingPath::Create(kmz + ".XXXXXX.kml", StagingKind::kFile, 4);
  auto folder = StagingPath::Create(kmz + ".XXXXXX", StagingKind::kFolder);
  ASSERT_TRUE(document && folder);
  const std::string name = document->path().filename().string();
  EXPECT_EQ(name.size(), std::string("map.kmz.XXXXXX.kml").size());
  EXPECT_EQ(name.substr(name.size() - 4), ".kml");
  EXPECT_EQ(name.find("XXXXXX"), std::string::npos);
  EXPECT_TRUE(std::filesystem::is_regular_file(document->path()));
  EXPECT_TRUE(std::filesystem::is_directory(folder->path()));
  dir.Write(folder->path().filename().string() + "/doc.kml", "x");
  RemoveAllStaging();
  EXPECT_FALSE(std::filesystem::exists(document->path()));
  EXPECT_FALSE(std::filesystem::exists(folder->path()));

  const std::filesystem::path dropped = document->path();
  document.reset();
  dir.Write(dropped.filename().string(), "someone else's");
  RemoveAllStaging();
  EXPECT_EQ(dir.Read(dropped.filename().string()), "someone else's");

  errno = 0;
  EXPECT_EQ(StagingPath::Create((dir.path() / "no/such/XXXXXX").string(), StagingKind::kFile),
            nullptr);
  EXPECT_EQ(errno, ENOENT);
}

// Once an interrupt's clean-up has begun, no thread makes a name again (a removed staging file
// reopened by name, a packer's temporary file), while reading and removing go on. Run in a child,
// since the filter lasts as long as the process.
TEST(StopNewNames, NoThreadMakesANameAfterwards) {
  TempDir dir;
  dir.Write("old", "x");
  const std::filesystem::path folder = dir.path();
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int code = 0;
    if (!StopNewNames()) ::_exit(100);  // no filter on this system
    std::thread([&] {
      const int made = ::open((folder / "made").c_str(), O_WRONLY | O_CREAT, 0600);
      if (made >= 0 || errno != EPERM) code |= 1;
      if (::mkdir((folder / "sub").c_str(), 0700) == 0) code |= 2;
      if (::rename((folder / "old").c_str(), (folder / "new").c_str()) == 0) code |= 4;
    }).join();
    if (::open((folder / "made2").c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600) >= 0) code |= 8;
    const int old = ::open((folder / "old").c_str(), O_RDONLY);
    if (old < 0) code |= 16;
    if (::unlink((folder / "old").c_str()) != 0) code |= 32;
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 100) GTEST_SKIP() << "no system call filter here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_FALSE(dir.Exists("made") || dir.Exists("made2") || dir.Exists("sub") || dir.Exists("new"));
  EXPECT_FALSE(dir.Exists("old"));
}

TEST(XmlSafe, ReplacesWhatXmlCannotHoldAndKeepsValidUtf8) {
  const std::string r = "\xEF\xBF\xBD";
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"2026/11/14 09:00:00", "2026/11/14 09:00:00"},
      {"tab\tlf\ncr\r", "tab\tlf\ncr\r"},
      {"日本語 €𝄞", "日本語 €𝄞"},
      {std::string("a\0b", 3), "a" + r + "b"},
      {"\x01\x1f\x7f", r + r + "\x7f"},       // DEL is an XML character
      {"\x93\xfa\x96\x7b", r + r + r + "{"},  // Shift-JIS 日本
      {"\xC0\xAF", r + r},                    // overlong "/"
      {"\xED\xA0\x80", r + r + r},            // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},    // past U+10FFFF
      {"\xE3\x81", r + r},                    // cut off
      {"\xEF\xBF\xBE\xEF\xBF\xBF", r + r},    // U+FFFE, U+FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(XmlSafe(c.in), c.out) << c.in;
}

class MapIsTheLogTest : public ::testing::Test {
 protected:
  RunOutcome Run(MapWriter& map) {
    TextFiles files(dir_.path());
    testing::CountingBeeper beeper;
    return ConversionRun(files, "d", "d", FixedThresholds("0.11", "0.19"), beeper, map);
  }
  TempDir dir_;
  const std::string log_ = "h,h,h,h,h,h,h\r\n1,,1,0.05,1,1,1\r\n2,,1,0.05,2,2,2\r\n";
};

TEST_F(MapIsTheLogTest, NoFormOverwritesALinkedLog) {
  dir_.Write("d.csv", log_);
  for (const bool hard : {false, true}) {
    std::filesystem::remove(dir_.path() / "d.kml");
    if (hard) {
      std::filesystem::create_hard_link(dir_.path() / "d.csv", dir_.path() / "d.kml");
    } else {
      std::filesystem::create_symlink("d.csv", dir_.path() / "d.kml");
    }
    ClassicMap classic;
    StrictMap strict;
    for (MapWriter* map : {static_cast<MapWriter*>(&classic), static_cast<MapWriter*>(&strict)}) {
      const RunOutcome outcome = Run(*map);
      EXPECT_EQ(outcome.failure, RunFailure::kOutputNotCreated);
      EXPECT_EQ(outcome.message,
                "d.kml: is the survey log itself (a link to it); nothing was written");
      EXPECT_FALSE(outcome.output_opened);
      EXPECT_EQ(dir_.Read("d.csv"), log_);
    }
  }
}

TEST_F(MapIsTheLogTest, StrictMapsOfOddBytesHoldOnlyXmlCharacters) {
  // A Shift-JIS timestamp with a control byte and a NUL in it.
  constexpr char kLog[] = "h,h,h,h,h,h,h\r\n1,,1,0.05,1,1,1\r\n\x93\xfa\x01\0x,,1,0.5,2,2,2\r\n";
  dir_.Write("d.csv", std::string(kLog, sizeof kLog - 1));
  StrictMap strict("icon\x02.png", "name\xff");
  EXPECT_TRUE(Run(strict).reached_end_of_log());
  const std::string kml = dir_.Read("d.kml");
  EXPECT_NE(kml.find("<h1>\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDx-0.50(1cpm)</h1>"),
            std::string::npos);
  EXPECT_NE(kml.find("<name>name\xEF\xBF\xBD</name>"), std::string::npos);
  EXPECT_NE(kml.find("<href>icon\xEF\xBF\xBD.png</href>"), std::string::npos);
  // No staging file is left beside a finished map.
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    files += entry.is_regular_file();
  EXPECT_EQ(files, 2);
}

TEST(TextFilesFaults, AReadErrorIsAReadFailureNotAnOpenFailure) {
  TextFiles files;
  // Reading this process's memory at offset 0 fails with EIO.
  files.OpenForInput(1, "/proc/self/mem");
  std::string field;
  try {
    files.InputFields(1, {field});
    FAIL() << "read succeeded";
  } catch (const FileError& error) {
    EXPECT_EQ(error.kind(), FileErrorKind::kReadFailed);
    EXPECT_NE(std::string(error.what()).find("cannot read"), std::string::npos);
  }
}

class SettingsHardeningTest : public ::testing::Test {
 protected:
  TempDir dir_;
  TextFiles files_{dir_.path()};
  testing::SaveOnChangeBoxes form_{files_};
};

TEST_F(SettingsHardeningTest, NamesThatWouldNotReadBackAreNotSaved) {
  LoadSettings(files_, form_);
  const std::string saved = dir_.Read(kSettingsFileName);
  for (const char* name : {"\"survey", "\"", "a,\"b", " \"x", "\"a,b\""}) {
    form_.SetBoxText(Box::kText1, name);
    EXPECT_EQ(form_.last_result, SaveResult::kKeptNameNotStorable) << name;
    EXPECT_EQ(dir_.Read(kSettingsFileName), saved) << name;
  }
  // A quote that needs no quoting is kept, and every setting survives a restart.
  form_.SetBoxText(Box::kText1, "say \"hi\"");
  form_.SetBoxText(Box::kText3, "0.2");
  testing::SaveOnChangeBoxes restarted(files_);
  LoadSettings(files_, restarted);
  EXPECT_EQ(restarted.Texts(), (std::vector<std::string>{"say \"hi\"", "DATA_0", "0.2", "0.19"}));
}

TEST_F(SettingsHardeningTest, SavesKeepTheModeAndLeaveNoTemporaryFile) {
  LoadSettings(files_, form_);
  const std::filesystem::path settings = dir_.path() / kSettingsFileName;
  for (const mode_t mode : {0666, 0640, 0600}) {
    ::chmod(settings.c_str(), mode);
    form_.SetBoxText(Box::kText1, "name" + std::to_string(mode));
    struct stat info;
    ASSERT_EQ(::stat(settings.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, mode);
  }
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.path()))
    files += entry.is_regular_file();
  EXPECT_EQ(files, 1);
}

TEST_F(SettingsHardeningTest, StartUpRemovesTheTemporaryFilesOfKilledSavesOnly) {
  // A process that is gone: a child that has exited and been reaped.
  const pid_t gone = ::fork();
  if (gone == 0) ::_exit(0);
  ::waitpid(gone, nullptr, 0);
  const std::string stale = std::string(kSettingsFileName) + "." + std::to_string(gone) + ".tmp";
  const std::string live =
      std::string(kSettingsFileName) + "." + std::to_string(::getppid()) + ".tmp";
  for (const std::string& name :
       {stale, live, std::string("SETT.TXT.12x.tmp"), std::string("other.1.tmp")}) {
    dir_.Write(name, "partial");
  }
  LoadSettings(files_, form_);
  EXPECT_FALSE(dir_.Exists(stale));
  EXPECT_TRUE(dir_.Exists(live));
  EXPECT_TRUE(dir_.Exists("SETT.TXT.12x.tmp"));
  EXPECT_TRUE(dir_.Exists("other.1.tmp"));
}

TEST_F(SettingsHardeningTest, AStaleTemporaryFileOrLinkOfOurOwnNumberIsNotWrittenThrough) {
  LoadSettings(files_, form_);
  dir_.Write("victim", "keep");
  std::filesystem::create_symlink("victim", ReplacementTempPath(dir_.path() / kSettingsFileName));
  form_.SetBoxText(Box::kText1, "after");
  EXPECT_EQ(form_.failed_saves, 0);
  EXPECT_EQ(dir_.Read("victim"), "keep");
  EXPECT_EQ(dir_.Read(kSettingsFileName), testing::SavedLine("after", "DATA_0", " 11", " 19"));
}

}  // namespace
}  // namespace dosemap
