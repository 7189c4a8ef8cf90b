#include "legacy/convert/placemark.h"

#include <array>

#include "common/number_text.h"

namespace dosemap {
namespace {

constexpr double kDescriptionFrom = 0.1;

double ThresholdNumber(const std::string& text, bool red) {
  try {
    return NumberOf(text);
  } catch (const NumberError& error) {
    throw ThresholdError(red, std::string(red ? "red" : "yellow") + " threshold " + error.what());
  }
}

}  // namespace

std::string CdataSafe(std::string_view text) {
  std::string safe;
  std::size_t from = 0;
  for (std::size_t at; (at = text.find("]]>", from)) != std::string_view::npos; from = at + 3) {
    safe.append(text.substr(from, at - from)).append("]]]]><![CDATA[>");
  }
  return safe.append(text.substr(from));
}

bool InExclusionBox(double latitude, double longitude) {
  return InOwnLogRectangle(latitude, longitude);
}

DoseClass SelectDoseClass(double dose_rate, const ThresholdSource& thresholds) {
  if (dose_rate < kGreenBelow) return DoseClass::k1;
  if (dose_rate < ThresholdNumber(thresholds.YellowThresholdText(), false)) return DoseClass::k2;
  if (dose_rate < ThresholdNumber(thresholds.RedThresholdText(), true)) return DoseClass::k3;
  return dose_rate < kLargeRedFrom ? DoseClass::k4 : DoseClass::k5;
}

DoseClass DoseClassOf(double dose_rate, double yellow, double red) {
  return DoseScale{yellow, red}.ClassOf(dose_rate);
}

std::string_view DoseClassLine(DoseClass dose_class) {
  // Built once from the class styles every map shares, as maps made so far spell them.
  static const std::array<std::string, kDoseClassCount> lines = [] {
    std::array<std::string, kDoseClassCount> built;
    for (int c = 1; c <= kDoseClassCount; ++c) {
      const ClassStyle& style = LegacyClassStyleOf(c);
      built[c - 1] = std::string(" <color>") + style.kml_colour + "</color> <scale>" +
                     style.icon_scale + "</scale>";
    }
    return built;
  }();
  return lines[static_cast<int>(dose_class) - 1];
}

void WriteDoseClassLine(TextFiles& files, double dose_rate, const ThresholdSource& thresholds) {
  files.PrintItems(kKmlFileNumber, {DoseClassLine(SelectDoseClass(dose_rate, thresholds))});
}

namespace {

std::string DoseTextOf(std::string_view number_text) {
  const std::string number(number_text);
  // Decided on the written digits, not on the double: a dose just below 1 that rounds to 1 in 15
  // digits is shown "1", not "010".
  if (number.size() < 2 || number[1] != '.') return number.substr(1, 6);
  std::string text = number + "0";
  text[0] = '0';
  return text.substr(0, 4);
}

// The description with the dose's number text formatted once for the name, heading and label.
void WriteDescriptionOf(TextFiles& files, const SurveyRecord& record, const NumberItemText& dose) {
  const int f = kKmlFileNumber;
  files.PrintItems(f, {"<name>", dose.item(),
                       "</name>\r\n"
                       "   <description>\r\n"
                       "   <![CDATA["});
  // The heading is two statements: a count that is no number fails with the line still open.
  files.PrintItems(
      f, {"     <h1>", CdataSafe(record.Timestamp), "-", DoseTextOf(dose.number_text()), "("},
      LineEnd::kContinue);
  files.PrintItems(f, {CountText(record.CountRate), "cpm)", "</h1>"});
  files.PrintItems(f, {"     <p><font color=\"; red; \">Text is <i>more readable</i> and\r\n"
                       "   <b>easier to write</b> when you can avoid using entity\r\n"
                       "references.</font></p>\r\n"
                       "]]>\r\n"
                       "   </description>"});
}

}  // namespace

std::string DoseText(double dose_rate) {
  return DoseTextOf(NumberItemText(dose_rate).number_text());
}

std::string CountText(const Variant& count_rate) {
  return NumberText(NumberOfVariant(count_rate)).substr(1, 10);
}

void WriteDescription(TextFiles& files, const SurveyRecord& record) {
  WriteDescriptionOf(files, record, NumberItemText(record.DoseRate));
}

namespace {

// The fixed text of a placemark around its numbers, one set per dose class, joined once so that
// a placemark is a handful of items. The bytes are those of one statement per line.
struct PlacemarkText {
  std::string up_to_name;       // lines 1-2 and the start of line 3
  std::string up_to_longitude;  // the end of line 3, lines 4-6, the start of line 7
  std::string after_latitude;   // the end of line 7, lines 8-17
};

const PlacemarkText& PlacemarkTextOf(DoseClass dose_class) {
  static const auto texts = [] {
    std::array<PlacemarkText, 5> all;
    for (int c = 0; c < 5; ++c) {
      const std::string line(DoseClassLine(static_cast<DoseClass>(c + 1)));
      all[c].up_to_name = " <Placemark>\r\n" + line + "\r\n   <name>";
      all[c].up_to_longitude = "</name>\r\n" + line +
                               "\r\n <visibility>1</visibility>\r\n"
                               " <LookAt>\r\n"
                               " <longitude>";
      all[c].after_latitude =
          "</latitude>\r\n"
          " <range>1000</range>  <tilt>VORP</tilt>  <heading>0</heading>\r\n"
          " </LookAt>\r\n"
          " <Style>\r\n"
          " <IconStyle>\r\n" +
          line + "\r\n <Icon><href>" + kIconAddress +
          "</href></Icon>\r\n"
          " </IconStyle>\r\n"
          " <LabelStyle> " +
          line + "\r\n</LabelStyle>\r\n   </Style>";
    }
    return all;
  }();
  return texts[static_cast<int>(dose_class) - 1];
}

}  // namespace

std::optional<DoseClass> WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                        const ThresholdSource& thresholds) {
  if (InExclusionBox(record.Latitude, record.Longitude)) return std::nullopt;
  const int f = kKmlFileNumber;
  DoseClass dose_class;
  try {
    // Selected once: nothing it depends on changes within a placemark.
    dose_class = SelectDoseClass(record.DoseRate, thresholds);
  } catch (const ThresholdError&) {
    files.PrintItems(f, {" <Placemark>"});  // a threshold that is no number stops the run here
    throw;
  }
  const PlacemarkText& text = PlacemarkTextOf(dose_class);
  const NumberItemText dose(record.DoseRate);
  const NumberItemText longitude(record.Longitude);
  const NumberItemText latitude(record.Latitude);
  files.PrintItems(f, {text.up_to_name, dose.item(), text.up_to_longitude, longitude.item(),
                       "</longitude>  <latitude>", latitude.item(), text.after_latitude});
  if (record.DoseRate >= kDescriptionFrom) WriteDescriptionOf(files, record, dose);
  files.PrintItems(f, {"  <Point>\r\n"
                       "  <altitudeMode>relativeToGround</altitudeMode>\r\n"
                       "     <coordinates>",
                       longitude.item(), ",", latitude.item(), ",", record.Altitude,
                       "</coordinates>\r\n"
                       "   </Point>\r\n"
                       " </Placemark>"});
  return dose_class;
}

}  // namespace dosemap
