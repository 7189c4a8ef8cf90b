#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "legacy/settings/settings_file.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

// The fake window, also keeping SETT.TXT as it stands after each change.
class FakeForm : public testing::SaveOnChangeBoxes {
 public:
  FakeForm(TextFiles& files, const TempDir& dir) : SaveOnChangeBoxes(files), dir_(dir) {}
  std::vector<std::string> writes;

 protected:
  void AfterChange() override {
    const bool is_file = std::filesystem::is_regular_file(dir_.path() / kSettingsFileName);
    writes.push_back(is_file ? dir_.Read(kSettingsFileName) : "(none)");
  }

 private:
  const TempDir& dir_;
};

using testing::SavedLine;

class SettingsTest : public ::testing::Test {
 protected:
  TempDir dir_;
  TextFiles files_{dir_.path()};
  FakeForm form_{files_, dir_};
};

TEST_F(SettingsTest, StartUpSequencesWriteInOrderAndFillTheBoxes) {
  const std::vector<std::string> defaults_writes = {SavedLine("DATA_0", "Text2", " 19", " 19"),
                                                    SavedLine("DATA_0", "DATA_0", " 19", " 19"),
                                                    SavedLine("DATA_0", "DATA_0", " 11", " 19")};
  const std::vector<std::string> defaults_texts = {"DATA_0", "DATA_0", "0.11", "0.19"};
  const struct {
    const char* file;  // nullptr: no SETT.TXT
    std::vector<std::string> writes;
    std::vector<std::string> texts;
  } cases[] = {
      {nullptr, defaults_writes, defaults_texts},
      {"", defaults_writes, defaults_texts},
      {"word", defaults_writes, defaults_texts},
      {"a,b, 3000000000, 19,", defaults_writes, defaults_texts},  // overflow: all four lost
      {"DATA_0,DATA_0,11,19,,,,,,,,,,,,,,,,,\r\n", defaults_writes, defaults_texts},
      {"a,b, 7, 150,",
       {SavedLine("a", "Text2", " 19", " 19"), SavedLine("a", "b", " 19", " 19"),
        SavedLine("a", "b", " 7", " 19"), SavedLine("a", "b", " 7", " 150")},
       {"a", "b", "0.07", "1.5"}},
      {"a,b, 11.5, 12.5", {}, {"a", "b", "0.12", "0.12"}},
      {"a,b,-50, 10", {}, {"a", "b", "-0.5", "0.1"}},
      {"a,b,DATA_0, 0", {}, {"a", "b", "0", "0"}},
      {"a,b,2147483647,-2147483648", {}, {"a", "b", "21474836.47", "-21474836.48"}},
      {"\"a,b\",\" c \", 19, 19", {}, {"a,b", " c ", "0.19", "0.19"}},
      {",,19,19", {}, {"", "", "0.19", "0.19"}},
  };
  for (const auto& c : cases) {
    TempDir dir;
    TextFiles files(dir.path());
    FakeForm form(files, dir);
    if (c.file != nullptr) dir.Write(kSettingsFileName, c.file);
    LoadSettings(files, form);
    const char* label = c.file ? c.file : "(no file)";
    EXPECT_EQ(form.Texts(), c.texts) << label;
    if (!c.writes.empty()) {
      EXPECT_EQ(form.writes, c.writes) << label;
    }
    EXPECT_FALSE(files.IsOpen(kSettingsFileNumber));
    // Whatever was loaded is what the file holds now and loads again.
    FakeForm again(files, dir);
    LoadSettings(files, again);
    EXPECT_EQ(again.Texts(), c.texts) << label;
  }
  EXPECT_EQ(defaults_writes.back().size(), 66u);
}

TEST_F(SettingsTest, TypingSavesEveryChangeThatLoadsBack) {
  LoadSettings(files_, form_);
  const struct {
    Box box;
    const char* text;
    const char* field;  // what the box saves as; nullptr: the file keeps its bytes
    SaveResult result;
  } steps[] = {
      {Box::kText3, "0", " 0", SaveResult::kSaved},  // 0.25 typed over a selected 0.11
      {Box::kText3, "0.", " 0", SaveResult::kSaved},
      {Box::kText3, "0.2", " 20", SaveResult::kSaved},
      {Box::kText3, "0.25", " 25", SaveResult::kSaved},
      {Box::kText3, "", nullptr, SaveResult::kKeptThresholdNotNumber},
      {Box::kText3, "-", nullptr, SaveResult::kKeptThresholdNotNumber},
      {Box::kText3, "30000000", nullptr, SaveResult::kKeptThresholdOutOfRange},
      {Box::kText3, "1e307", nullptr, SaveResult::kKeptThresholdOutOfRange},
      // Its hundredths are a double whose 15-digit text is beyond the double range.
      {Box::kText3, "1.7976931348623157e306", nullptr, SaveResult::kKeptThresholdOutOfRange},
      {Box::kText3, "0.07", " 7", SaveResult::kSaved},
      {Box::kText3, "0.29", " 29", SaveResult::kSaved},
      {Box::kText3, "0.115", " 11.5", SaveResult::kSaved},
  };
  for (const auto& step : steps) {
    const std::string before = dir_.Read(kSettingsFileName);
    form_.SetBoxText(step.box, step.text);
    EXPECT_EQ(form_.last_result, step.result) << step.text;
    EXPECT_EQ(dir_.Read(kSettingsFileName),
              step.field ? SavedLine("DATA_0", "DATA_0", step.field, " 19") : before)
        << step.text;
  }
  FakeForm restarted(files_, dir_);
  LoadSettings(files_, restarted);
  EXPECT_EQ(restarted.BoxText(Box::kText3), "0.12");  // the third decimal rounds away
}

TEST_F(SettingsTest, NamesThatTheReaderWouldSplitOrTrimAreQuoted) {
  LoadSettings(files_, form_);
  const struct {
    const char* name;
    const char* field;
  } cases[] = {
      {"a,b", "\"a,b\""}, {" lead", "\" lead\""}, {"trail ", "\"trail \""}, {"in side", "in side"},
      {"", ""},           {"日本語", "日本語"}};
  for (const auto& c : cases) {
    form_.SetBoxText(Box::kText1, c.name);
    EXPECT_EQ(dir_.Read(kSettingsFileName), SavedLine(c.field, "DATA_0", " 11", " 19"));
    FakeForm restarted(files_, dir_);
    LoadSettings(files_, restarted);
    EXPECT_EQ(restarted.BoxText(Box::kText1), c.name);
    EXPECT_EQ(restarted.BoxText(Box::kText2), "DATA_0");
  }
}

TEST_F(SettingsTest, AnUnwritableSettingsFileLeavesTheDefaultsInTheBoxes) {
  // A directory named SETT.TXT can be neither read nor written, even by root.
  std::filesystem::create_directory(dir_.path() / kSettingsFileName);
  LoadSettings(files_, form_);
  EXPECT_EQ(form_.Texts(), (std::vector<std::string>{"DATA_0", "DATA_0", "0.11", "0.19"}));
  EXPECT_NE(form_.last_error.find("SETT.TXT"), std::string::npos);
  EXPECT_FALSE(files_.IsOpen(kSettingsFileNumber));
}

TEST(PlainNumberText, ShowsHundredthsWithAZeroBeforeThePoint) {
  const struct {
    std::int32_t hundredths;
    const char* text;
  } cases[] = {
      {11, "0.11"}, {19, "0.19"}, {7, "0.07"},   {10, "0.1"},    {100, "1"},
      {150, "1.5"}, {0, "0"},     {-5, "-0.05"}, {-150, "-1.5"}, {2147483647, "21474836.47"}};
  for (const auto& c : cases) EXPECT_EQ(PlainNumberText(c.hundredths), c.text);
}

}  // namespace
}  // namespace dosemap
