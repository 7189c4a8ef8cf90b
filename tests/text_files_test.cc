#include "legacy/textfile/text_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

class TextFilesTest : public ::testing::Test {
 protected:
  // Reads every field of bytes into text targets until the input ends.
  std::vector<std::string> Fields(const std::string& bytes) {
    dir_.Write("in.csv", bytes);
    files_.OpenForInput(2, "in.csv");
    std::vector<std::string> fields;
    std::string field;
    try {
      for (;;) {
        files_.InputFields(2, {field});
        fields.push_back(field);
      }
    } catch (const FileError& error) {
      EXPECT_EQ(error.kind(), FileErrorKind::kReadPastEnd) << error.what();
    }
    files_.CloseFile(2);
    return fields;
  }

  TempDir dir_;
  TextFiles files_{dir_.path()};
};

TEST_F(TextFilesTest, PrintStatementsBuildLinesFromItems) {
  files_.OpenForOutput(1, "out.txt");
  files_.PrintItems(1, {"a"}, LineEnd::kContinue);
  files_.PrintItems(1, {"b"});
  files_.PrintItems(1, {0.5, "x"}, LineEnd::kContinue);
  files_.PrintItems(1, {"y"});
  files_.PrintItems(1, {-0.25, ",", 12.0, "!"});
  files_.PrintItems(1, {"no line end"}, LineEnd::kContinue);
  files_.CloseFile(1);
  EXPECT_EQ(dir_.Read("out.txt"), "ab\r\n .5 xy\r\n-.25 , 12 !\r\nno line end");
}

TEST_F(TextFilesTest, OutputEmptiesAnExistingFileAndAddsNothing) {
  dir_.Write("out.txt", "old content");
  files_.OpenForOutput(1, "out.txt");
  files_.CloseFile(1);
  EXPECT_EQ(dir_.Read("out.txt"), "");
}

TEST_F(TextFilesTest, SplitsFieldsAtCommasAndEveryKindOfLineEnd) {
  const struct {
    const char* bytes;
    std::vector<std::string> fields;
  } cases[] = {
      {"a,b\r\nc", {"a", "b", "c"}},
      {"a,b\nc\n", {"a", "b", "c"}},
      {"a,b\rc\r", {"a", "b", "c"}},
      {"a\r\n\r\nb", {"a", "", "b"}},
      {"a\n\nb", {"a", "", "b"}},
      {",,\r\n", {"", "", ""}},
      {"a,", {"a"}},
      {"", {}},
      {"  \r\n", {""}},
      {"\"x,y\",z", {"x,y", "z"}},
      {"\"x\ny\"\r\nz", {"x\ny", "z"}},
      {"\"x\"  ,z", {"x", "z"}},
      {"\"x\"junk,z", {"x", "z"}},
      {"\"never closed, at all", {"never closed, at all"}},
      {"\"\",z", {"", "z"}},
      {"  \t lead,trail  \t,in side", {"lead", "trail", "in side"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Fields(c.bytes), c.fields) << c.bytes;
  EXPECT_EQ(Fields(std::string("nul\0byte,\xff\xfe", 11)),
            (std::vector<std::string>{std::string("nul\0byte", 8), "\xff\xfe"}));
}

TEST_F(TextFilesTest, StoresFieldsByTheKindOfTheirTarget) {
  dir_.Write("in.csv",
             "DATA_0,DATA_0, 11, 19,\r\n"
             ",,\r\n"
             " 3000000000, 11.5,12.5,-0.5,DATA_0,DATA_0, 7,\"8\",11abc\r\n");
  files_.OpenForInput(4, "in.csv");
  std::string first, second, empty_text;
  std::int32_t yellow = -1, red = -1;
  files_.InputFields(4, {first});
  files_.InputFields(4, {second});
  files_.InputFields(4, {yellow});
  files_.InputFields(4, {red});
  EXPECT_EQ(first, "DATA_0");
  EXPECT_EQ(second, "DATA_0");
  EXPECT_EQ(yellow, 11);
  EXPECT_EQ(red, 19);

  double number = -1;
  Variant variant = 1.0;
  files_.InputFields(4, {empty_text, number, variant});  // the empty field after 19, then ",,"
  EXPECT_EQ(empty_text, "");
  EXPECT_EQ(number, 0);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(variant));
  files_.InputFields(4, {empty_text});

  std::int32_t rounded[3];
  double big = 0, word_number = -1;
  Variant word, seven, quoted, mixed;
  files_.InputFields(
      4, {big, rounded[0], rounded[1], rounded[2], word_number, word, seven, quoted, mixed});
  EXPECT_EQ(big, 3000000000.0);
  EXPECT_EQ(rounded[0], 12);  // halves go to the even neighbour
  EXPECT_EQ(rounded[1], 12);
  EXPECT_EQ(rounded[2], 0);
  EXPECT_EQ(word_number, 0);
  EXPECT_EQ(std::get<std::string>(word), "DATA_0");
  EXPECT_EQ(std::get<double>(seven), 7);
  EXPECT_EQ(std::get<std::string>(quoted), "8");  // a quoted field is a text
  EXPECT_EQ(std::get<std::string>(mixed), "11abc");
  EXPECT_EQ(NumberOfVariant(quoted), 8);
  EXPECT_THROW(NumberOfVariant(mixed), NumberError);
  EXPECT_EQ(NumberOfVariant(Variant()), 0);
}

TEST_F(TextFilesTest, OverflowFailsTheStatementAndKeepsTheTarget) {
  const struct {
    const char* bytes;
    bool into_integer;
  } cases[] = {{" 3000000000", true},
               {"2147483647.5", true},
               {"-2147483649", true},
               {"1e999", false},
               {"-1e400", false}};
  for (const auto& c : cases) {
    dir_.Write("in.csv", c.bytes);
    files_.OpenForInput(2, "in.csv");
    std::int32_t integer = 5;
    double number = 5;
    try {
      if (c.into_integer) {
        files_.InputFields(2, {integer});
      } else {
        files_.InputFields(2, {number});
      }
      ADD_FAILURE() << c.bytes << " did not overflow";
    } catch (const FileError& error) {
      EXPECT_EQ(error.kind(), FileErrorKind::kNumberOverflow) << c.bytes;
      EXPECT_EQ(std::string(error.what()).rfind("in.csv: line 1: number out of range", 0), 0u);
    }
    EXPECT_EQ(integer, 5);
    EXPECT_EQ(number, 5);
    files_.CloseFile(2);
  }
  dir_.Write("in.csv", "2147483647,-2147483648");
  files_.OpenForInput(2, "in.csv");
  std::int32_t high = 0, low = 0;
  files_.InputFields(2, {high, low});
  EXPECT_EQ(high, 2147483647);
  EXPECT_EQ(low, -2147483647 - 1);
}

TEST_F(TextFilesTest, FileNumberErrors) {
  const auto kind_of = [](auto&& operation) {
    try {
      operation();
    } catch (const FileError& error) {
      return error.kind();
    }
    return FileErrorKind::kWriteFailed;  // stands for "no failure"
  };
  EXPECT_EQ(kind_of([&] { files_.OpenForInput(2, "missing.csv"); }), FileErrorKind::kCannotOpen);
  EXPECT_EQ(kind_of([&] { files_.OpenForInput(2, "."); }), FileErrorKind::kCannotOpen);
  EXPECT_EQ(kind_of([&] { files_.OpenForOutput(1, "no/such/dir.kml"); }),
            FileErrorKind::kCannotOpen);
  std::string text;
  EXPECT_EQ(kind_of([&] { files_.InputFields(2, {text}); }), FileErrorKind::kNotOpen);
  EXPECT_EQ(kind_of([&] { files_.PrintItems(1, {"x"}); }), FileErrorKind::kNotOpen);
  files_.CloseFile(3);  // closing a closed number does nothing
  files_.OpenForOutput(1, "a.txt");
  EXPECT_EQ(kind_of([&] { files_.OpenForOutput(1, "b.txt"); }), FileErrorKind::kAlreadyOpen);
  EXPECT_EQ(kind_of([&] { files_.InputFields(1, {text}); }), FileErrorKind::kNotOpen);
  files_.PrintItems(1, {"still open"});
  files_.CloseFile(1);
  EXPECT_EQ(dir_.Read("a.txt"), "still open\r\n");
  EXPECT_FALSE(dir_.Exists("b.txt"));
}

TEST_F(TextFilesTest, LongFieldsCrossBufferRefillsUpToTheBound) {
  const std::string filler(1500000, 'x');
  const std::string almost(kMaxFieldBytes, 'y');
  // Compared with EXPECT_TRUE: a failure must not print megabytes.
  EXPECT_TRUE(Fields(filler.substr(0, 1048570) + ",abcdefghij\r\n" + almost) ==
              (std::vector<std::string>{filler.substr(0, 1048570), "abcdefghij", almost}));
  EXPECT_EQ(Fields("a\r" + std::string(1048575, ' ') + "\nb").size(), 3u);

  dir_.Write("in.csv", filler);
  files_.OpenForInput(2, "in.csv");
  std::string field;
  try {
    files_.InputFields(2, {field});
    ADD_FAILURE() << "no failure";
  } catch (const FileError& error) {
    EXPECT_EQ(error.kind(), FileErrorKind::kFieldTooLong);
  }
}

TEST_F(TextFilesTest, ReplaceKeepsTheOldFileUntilTheCloseSucceeds) {
  dir_.Write("SETT.TXT", "old");
  files_.OpenForReplace(4, "SETT.TXT");
  files_.PrintItems(4, {"new"}, LineEnd::kContinue);
  EXPECT_EQ(dir_.Read("SETT.TXT"), "old");
  files_.CloseFile(4);
  EXPECT_EQ(dir_.Read("SETT.TXT"), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);

  {
    TextFiles abandoned(dir_.path());
    abandoned.OpenForReplace(4, "SETT.TXT");
    abandoned.PrintItems(4, {"never closed"});
  }
  EXPECT_EQ(dir_.Read("SETT.TXT"), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 1);

  ::chmod((dir_.path() / "SETT.TXT").c_str(), 0444);
  if (::geteuid() != 0) {  // root may write any file, as a plain open would let it
    EXPECT_THROW(files_.OpenForReplace(4, "SETT.TXT"), FileError);
  }
}

TEST_F(TextFilesTest, WriteToAFullDeviceFailsAtTheLatestOnClose) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", dir_.path() / "full.kml");
  files_.OpenForOutput(1, "full.kml");
  files_.PrintItems(1, {"x"});
  try {
    files_.CloseFile(1);
    ADD_FAILURE() << "no failure";
  } catch (const FileError& error) {
    EXPECT_EQ(error.kind(), FileErrorKind::kWriteFailed);
  }
  EXPECT_FALSE(files_.IsOpen(1));
}

}  // namespace
}  // namespace dosemap
