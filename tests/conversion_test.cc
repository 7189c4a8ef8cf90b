#include <gtest/gtest.h>

#include <string>

#include "legacy/convert/conversion_run.h"
#include "legacy/convert/kml_frame.h"
#include "legacy/convert/map_writer.h"
#include "legacy/convert/placemark.h"
#include "tests/fakes.h"
#include "tests/temp_dir.h"

namespace dosemap {
namespace {

using testing::TempDir;

constexpr const char* kLogHeader = "Time,Aux,CPM,uSv/h,Lat,Lon,Alt\r\n";
constexpr const char* kFirstRecord = "2012/07/12 09:29:00,x,100,0.05,35.25,139.5,5\r\n";

std::string Header(const std::string& name) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
         " <kml xmlns=\"http://earth.google.com/kml/2.0\">\r\n"
         "<Folder>\r\n"
         " <open>1\r\n"
         "</open>\r\n"
         "<LookAt>\r\n"
         "<longitude> 139.5 </longitude>  <latitude> 35.25 </latitude>\r\n"
         "        <altitude>1</altitude>  <heading>0</heading> <tilt>0</tilt>  <range> 139.5 "
         "</range>\r\n"
         "</LookAt>\r\n"
         "<visibility>1</visibility>\r\n"
         "<Folder>\r\n"
         "<open>1</open> <name>" +
         name + "</name> <visibility>1</visibility>\r\n";
}

constexpr const char* kFooter = "</Folder>\r\n</Folder>\r\n </kml>\r\n";

// The placemark of a record with dose 0.15, count 123, at 139.5, 35.5, 10, with 0.11 and 0.19.
constexpr const char* kExamplePlacemark =
    " <Placemark>\r\n"
    " <color>a000ffff</color> <scale>1.2</scale>\r\n"
    "   <name> .15 </name>\r\n"
    " <color>a000ffff</color> <scale>1.2</scale>\r\n"
    " <visibility>1</visibility>\r\n"
    " <LookAt>\r\n"
    " <longitude> 139.5 </longitude>  <latitude> 35.5 </latitude>\r\n"
    " <range>1000</range>  <tilt>VORP</tilt>  <heading>0</heading>\r\n"
    " </LookAt>\r\n"
    " <Style>\r\n"
    " <IconStyle>\r\n"
    " <color>a000ffff</color> <scale>1.2</scale>\r\n"
    " <Icon><href>http://maps.google.com/mapfiles/kml/shapes/placemark_square.png</href></Icon>\r\n"
    " </IconStyle>\r\n"
    " <LabelStyle>  <color>a000ffff</color> <scale>1.2</scale>\r\n"
    "</LabelStyle>\r\n"
    "   </Style>\r\n"
    "<name> .15 </name>\r\n"
    "   <description>\r\n"
    "   <![CDATA[\r\n"
    "     <h1>2012/07/12 09:30:00-0.15(123cpm)</h1>\r\n"
    "     <p><font color=\"; red; \">Text is <i>more readable</i> and\r\n"
    "   <b>easier to write</b> when you can avoid using entity\r\n"
    "references.</font></p>\r\n"
    "]]>\r\n"
    "   </description>\r\n"
    "  <Point>\r\n"
    "  <altitudeMode>relativeToGround</altitudeMode>\r\n"
    "     <coordinates> 139.5 , 35.5 , 10 </coordinates>\r\n"
    "   </Point>\r\n"
    " </Placemark>\r\n";

using testing::CountingBeeper;

class ConversionRunTest : public ::testing::Test {
 protected:
  RunOutcome Run(const std::string& log, const std::string& yellow = "0.11",
                 const std::string& red = "0.19") {
    if (!log.empty()) dir_.Write("DATA_0.csv", log);
    const int beeps_before = beeper_.beeps;
    RunOutcome outcome =
        ConversionRun(files_, "DATA_0", kml_name_, FixedThresholds(yellow, red), beeper_);
    EXPECT_EQ(beeper_.beeps, beeps_before + 1);
    for (int number = 1; number <= TextFiles::kMaxFileNumber; ++number) {
      EXPECT_FALSE(files_.IsOpen(number)) << number;
    }
    return outcome;
  }
  std::string Kml() const { return dir_.Read(kml_name_ + ".kml"); }
  // The placemark lines of the run: everything between the header and the footer.
  std::string Body() const {
    const std::string kml = Kml();
    const std::string header = Header(kml_name_);
    EXPECT_EQ(kml.substr(0, header.size()), header);
    EXPECT_GE(kml.size(), header.size() + std::string(kFooter).size());
    return kml.substr(header.size(), kml.size() - header.size() - std::string(kFooter).size());
  }

  TempDir dir_;
  TextFiles files_{dir_.path()};
  CountingBeeper beeper_;
  std::string kml_name_ = "DATA_0";
};

std::string Record(const std::string& dose, const std::string& lat = "35.5",
                   const std::string& lon = "139.5", const std::string& count = "123",
                   const std::string& time = "2012/07/12 09:30:00") {
  return time + ",," + count + "," + dose + "," + lat + "," + lon + ",10\r\n";
}

TEST_F(ConversionRunTest, WritesTheWholeDocumentByteForByte) {
  const RunOutcome outcome = Run(std::string(kLogHeader) + kFirstRecord + Record("0.15"));
  EXPECT_TRUE(outcome.reached_end_of_log()) << outcome.message;
  EXPECT_EQ(Kml(), Header("DATA_0") + kExamplePlacemark + kFooter);

  const std::string first = Kml();
  Run("");
  EXPECT_EQ(Kml(), first);  // the same inputs give the same file
}

TEST_F(ConversionRunTest, EndsNormallyAtTheEndOfTheLog) {
  const struct {
    std::string log;
    std::string body;
  } cases[] = {
      {std::string(kLogHeader) + kFirstRecord, ""},
      {std::string(kLogHeader) + kFirstRecord + Record("0.15") + "partial,record,",
       kExamplePlacemark},
      // Unix line ends and a last line without one read the same.
      {"t,a,c,d,la,lo,al\n2012,x,1,0.05,35.25,139.5,5\n2012/07/12 09:30:00,,123,0.15,35.5,139.5,10",
       kExamplePlacemark},
  };
  for (const auto& c : cases) {
    const RunOutcome outcome = Run(c.log);
    EXPECT_TRUE(outcome.reached_end_of_log()) << outcome.message;
    EXPECT_EQ(Body(), c.body);
  }
}

TEST_F(ConversionRunTest, FailuresBeforeTheOutputLeaveAnyOldMapUntouched) {
  const struct {
    std::string log;  // empty: no log file at all
    RunFailure failure;
  } cases[] = {
      {"", RunFailure::kLogNotOpened},
      {std::string(kLogHeader), RunFailure::kLogTooShort},
      {std::string(kLogHeader) + "2012,x,100,0.05,35.25", RunFailure::kLogTooShort},
      {std::string(kLogHeader) + "2012,x,100,1e999,35.25,139.5,5", RunFailure::kRecordUnreadable},
  };
  for (const auto& c : cases) {
    dir_.Write("DATA_0.kml", "old map");
    std::filesystem::remove(dir_.path() / "DATA_0.csv");
    const RunOutcome outcome = Run(c.log);
    EXPECT_EQ(outcome.failure, c.failure) << c.log;
    EXPECT_NE(outcome.message.find("DATA_0.csv"), std::string::npos) << outcome.message;
    EXPECT_EQ(Kml(), "old map");
  }
  std::filesystem::remove(dir_.path() / "DATA_0.kml");
  Run("");
  EXPECT_FALSE(dir_.Exists("DATA_0.kml"));

  kml_name_ = "no/such/dir";
  const RunOutcome outcome = Run(std::string(kLogHeader) + kFirstRecord);
  EXPECT_EQ(outcome.failure, RunFailure::kOutputNotCreated);
  EXPECT_NE(outcome.message.find("no/such/dir.kml"), std::string::npos) << outcome.message;
}

TEST_F(ConversionRunTest, AFailureMidRunKeepsWhatWasWrittenAndAddsTheFooter) {
  const std::string head = std::string(kLogHeader) + kFirstRecord;
  const std::string example(kExamplePlacemark);
  const std::string up_to_count = example.substr(0, example.find("123cpm"));
  const struct {
    std::string records;
    std::string yellow, red;
    RunFailure failure;
    long record;
    std::string body;
  } cases[] = {
      {Record("0.15") + Record("0.3"), "", "0.19", RunFailure::kYellowThreshold, 2,
       " <Placemark>\r\n"},
      {Record("0.15") + Record("0.3"), "0.11", "abc", RunFailure::kRedThreshold, 2,
       " <Placemark>\r\n"},
      // The footer goes on in the open heading line.
      {Record("0.15", "35.5", "139.5", "n/a") + Record("0.3"), "0.11", "0.19",
       RunFailure::kCountRateNotNumber, 2, up_to_count},
      {Record("0.15") + "2012,,1,0.2,35.5,1e400,10\r\n" + Record("0.3"), "0.11", "0.19",
       RunFailure::kRecordUnreadable, 3, example},
  };
  for (const auto& c : cases) {
    const RunOutcome outcome = Run(head + c.records, c.yellow, c.red);
    EXPECT_EQ(outcome.failure, c.failure) << outcome.message;
    EXPECT_EQ(outcome.record, c.record) << outcome.message;
    EXPECT_EQ(Kml(), Header("DATA_0") + c.body + kFooter);
  }
}

TEST_F(ConversionRunTest, ThresholdsAreConvertedOnlyWhenAClassNeedsThem) {
  // Doses below 0.07 never read a threshold, and doses below yellow never read red.
  const std::string log = std::string(kLogHeader) + kFirstRecord + Record("0.01") + Record("0.05");
  EXPECT_TRUE(Run(log, "", "").reached_end_of_log());
  EXPECT_TRUE(Run(std::string(kLogHeader) + kFirstRecord + Record("0.08"), "0.11", "")
                  .reached_end_of_log());
}

TEST_F(ConversionRunTest, RecordsInTheExclusionBoxGetNoPlacemark) {
  const struct {
    const char* lat;
    const char* lon;
    bool excluded;
  } cases[] = {
      {"35.346", "139.488", true},       {"35.3465", "139.4875", true},
      {"35.3462", "139.4877", true},     {"35.3459999", "139.4877", false},
      {"35.3465001", "139.4877", false}, {"35.3462", "139.4874999", false},
      {"35.3462", "139.4880001", false}, {"35.3462", "139.5", false},
      {"35.5", "139.4877", false},
  };
  for (const auto& c : cases) {
    Run(std::string(kLogHeader) + kFirstRecord + Record("0.01", c.lat, c.lon));
    EXPECT_EQ(Body().empty(), c.excluded) << c.lat << " " << c.lon;
    EXPECT_EQ(InExclusionBox(std::stod(c.lat), std::stod(c.lon)), c.excluded);
  }
}

TEST(DoseClass, FirstMatchingRowWinsAndComparisonsAreStrict) {
  const struct {
    double dose;
    const char* yellow;
    const char* red;
    int dose_class;
  } cases[] = {
      {0.069, "0.11", "0.19", 1},  {0.07, "0.11", "0.19", 2},
      {0.1099, "0.11", "0.19", 2}, {0.11, "0.11", "0.19", 3},
      {0.19, "0.11", "0.19", 4},   {0.4999, "0.11", "0.19", 4},
      {0.5, "0.11", "0.19", 5},    {3, "0.11", "0.19", 5},
      {0.6, "0.3", "0.8", 3},      {0.5, "0.5", "0.8", 3},
      {0.2, "0.3", "0.1", 2},      {0.3, "0.3", "0.1", 4},
      {0.6, "0.3", "0.1", 5},      {0.05, "0.01", "0.19", 1},
      {0.07, "0.01", "0.19", 3},   {-1, "", "", 1},
      {0.08, " 1e-1 ", "x", 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(static_cast<int>(SelectDoseClass(c.dose, FixedThresholds(c.yellow, c.red))),
              c.dose_class)
        << c.dose << " " << c.yellow << " " << c.red;
  }
  EXPECT_THROW(SelectDoseClass(0.07, FixedThresholds("", "0.19")), ThresholdError);
  EXPECT_THROW(SelectDoseClass(0.2, FixedThresholds("0.11", "0,19")), ThresholdError);
}

TEST(DoseText, TruncatesToTwoDecimalsBelowOneAndSixCharactersAbove) {
  const struct {
    double dose;
    const char* text;
  } cases[] = {{0.1, "0.10"},          {0.15, "0.15"},
               {0.199, "0.19"},        {0.5, "0.50"},
               {0.999, "0.99"},        {1, "1"},
               {1.23456789, "1.2345"}, {123.456789, "123.45"},
               {1234567.8, "123456"},  {0.99999999999999994, "1"}};
  for (const auto& c : cases) EXPECT_EQ(DoseText(c.dose), c.text) << c.dose;
}

TEST(CountText, DropsTheFirstCharacterAndKeepsTen) {
  const struct {
    Variant count;
    const char* text;
  } cases[] = {{123.0, "123"},   {45.5, "45.5"},
               {Variant(), "0"}, {std::string(" 7 "), "7"},
               {-12.0, "12"},    {12345678901.0, "1234567890"},
               {0.5, ".5"}};
  for (const auto& c : cases) EXPECT_EQ(CountText(c.count), c.text);
  EXPECT_THROW(CountText(std::string("n/a")), NumberError);
}

TEST_F(ConversionRunTest, NamesAndTimestampsCannotBreakTheDocument) {
  kml_name_ = "a&b<c>";
  Run(std::string(kLogHeader) + kFirstRecord + Record("0.15", "35.5", "139.5", "123", "x]]>y<&"));
  const std::string kml = Kml();
  EXPECT_NE(kml.find("<name>a&amp;b&lt;c&gt;</name>"), std::string::npos);
  EXPECT_NE(kml.find("<h1>x]]]]><![CDATA[>y<&-0.15(123cpm)</h1>"), std::string::npos);
  EXPECT_TRUE(dir_.Exists("a&b<c>.kml"));
}

TEST_F(ConversionRunTest, StrictFormWritesWholePlacemarksAndCountsTheRun) {
  dir_.Write("DATA_0.csv", std::string(kLogHeader) + kFirstRecord + Record("0.15") +
                               Record("0.01", "35.3462", "139.4877") +
                               Record("0.2", "35.5", "139.5", "n/a") + Record("0.3"));
  StrictMap strict;
  const RunOutcome outcome =
      ConversionRun(files_, "DATA_0", "DATA_0", FixedThresholds("0.11", "0.19"), beeper_, strict);
  EXPECT_EQ(outcome.failure, RunFailure::kCountRateNotNumber);
  const std::string kml = Kml();
  EXPECT_NE(
      kml.find("<Placemark>\r\n<name>0.15</name>\r\n<visibility>1</visibility>\r\n"
               "<description><![CDATA[\r\n"
               "     <h1>2012/07/12 09:30:00-0.15(123cpm)</h1>\r\n"
               "     <p><font color=\"; red; \">Text is <i>more readable</i> and\r\n"
               "   <b>easier to write</b> when you can avoid using entity\r\n"
               "references.</font></p>\r\n"
               "]]></description>\r\n"
               "<LookAt><longitude>139.5</longitude><latitude>35.5</latitude><altitude>0</altitude>"
               "<heading>0</heading><tilt>0</tilt><range>1000</range></LookAt>\r\n"
               "<styleUrl>#dose3</styleUrl>\r\n"
               "<Point><altitudeMode>relativeToGround</altitudeMode>"
               "<coordinates>139.5,35.5,10</coordinates></Point>\r\n"
               "</Placemark>\r\n</Folder>\r\n</Document>\r\n</kml>\r\n"),
      std::string::npos);
  EXPECT_EQ(kml.rfind("<Placemark>"), kml.find("<Placemark>"));  // the failing record wrote nothing
  EXPECT_EQ(SummaryLine(outcome),
            "records read 4, placemarks 1, in the exclusion box 1, per dose class 1-5 0 0 1 0 0, "
            "highest dose 0.15 at 2012/07/12 09:30:00 (latitude 35.5, longitude 139.5), stopped: " +
                outcome.message);
}

TEST(StrictNumber, SpellsNumbersAsXmlSchemaDoes) {
  const struct {
    double x;
    const char* text;
  } cases[] = {{0.15, "0.15"},   {-0.5, "-0.5"},  {139.5, "139.5"},  {0, "0"},
               {-75.5, "-75.5"}, {1e15, "1E+15"}, {0.00009, "9E-05"}};
  for (const auto& c : cases) EXPECT_EQ(StrictNumber(c.x), c.text);
}

TEST_F(ConversionRunTest, AFullDeviceIsAReportedWriteFailure) {
  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  std::filesystem::create_symlink("/dev/full", dir_.path() / "DATA_0.kml");
  const RunOutcome outcome = Run(std::string(kLogHeader) + kFirstRecord + Record("0.15"));
  EXPECT_EQ(outcome.failure, RunFailure::kWriteFailed);
  EXPECT_NE(outcome.message.find("DATA_0.kml"), std::string::npos) << outcome.message;
}

}  // namespace
}  // namespace dosemap
