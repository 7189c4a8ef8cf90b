#include "legacy/convert/map_writer.h"

#include "common/number_text.h"
#include "legacy/convert/kml_frame.h"

namespace dosemap {
namespace {

// The colour and scale of each class, as the classic lines have them.
// The camera over the first point, from high enough to see the route around it.
constexpr const char* kDocumentRange = "5000";

}  // namespace

void MapWriter::OpenOutput(TextFiles& files, std::string_view kml_name) {
  files.OpenForOutput(kKmlFileNumber, kml_name);
}

void ClassicMap::WriteHeader(TextFiles& files, const SurveyRecord& first,
                             std::string_view kml_base_name) {
  WriteKmlHeader(files, first, kml_base_name);
}

std::optional<DoseClass> ClassicMap::WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                                    const ThresholdSource& thresholds) {
  return dosemap::WritePlacemark(files, record, thresholds);
}

void ClassicMap::WriteFooter(TextFiles& files) { WriteKmlFooter(files); }

StrictMap::StrictMap(std::string icon_address, std::string folder_name, bool staged)
    : icon_address_(std::move(icon_address)),
      folder_name_(std::move(folder_name)),
      staged_(staged) {}

void StrictMap::OpenOutput(TextFiles& files, std::string_view kml_name) {
  if (!staged_) return MapWriter::OpenOutput(files, kml_name);
  files.OpenForReplace(kKmlFileNumber, kml_name);
}

void StrictMap::WriteHeader(TextFiles& files, const SurveyRecord& first,
                            std::string_view kml_base_name) {
  const int f = kKmlFileNumber;
  const std::string name = XmlEscaped(XmlSafe(folder_name_.empty() ? kml_base_name : folder_name_));
  files.PrintItems(
      f, {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
          "<kml xmlns=\"http://www.opengis.net/kml/2.2\">\r\n"
          "<Document>\r\n"
          "<name>",
          name,
          "</name>\r\n"
          "<open>1</open>\r\n"
          "<LookAt><longitude>",
          StrictNumber(first.Longitude), "</longitude><latitude>", StrictNumber(first.Latitude),
          "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt><range>",
          kDocumentRange, "</range></LookAt>"});
  const std::string icon = XmlEscaped(XmlSafe(icon_address_));
  for (int c = 0; c < 5; ++c) {
    const ClassStyle& style = LegacyClassStyleOf(c + 1);
    files.PrintItems(
        f, {"<Style id=\"dose", std::to_string(c + 1), "\"><IconStyle><color>", style.kml_colour,
            "</color><scale>", style.icon_scale, "</scale><Icon><href>", icon,
            "</href></Icon></IconStyle><LabelStyle><color>", style.kml_colour, "</color><scale>",
            style.icon_scale, "</scale></LabelStyle></Style>"});
  }
  files.PrintItems(f, {"<Folder>\r\n"
                       "<name>",
                       name,
                       "</name>\r\n"
                       "<open>1</open>"});
}

std::optional<DoseClass> StrictMap::WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                                   const ThresholdSource& thresholds) {
  if (InExclusionBox(record.Latitude, record.Longitude)) return std::nullopt;
  // Everything that can fail comes first, so a placemark is written whole or not at all.
  const DoseClass dose_class = SelectDoseClass(record.DoseRate, thresholds);
  const bool described = record.DoseRate >= 0.1;
  const std::string count = described ? CountText(record.CountRate) : std::string();
  const std::string dose = StrictNumber(record.DoseRate);
  const std::string longitude = StrictNumber(record.Longitude);
  const std::string latitude = StrictNumber(record.Latitude);
  const int f = kKmlFileNumber;
  files.PrintItems(f, {"<Placemark>\r\n"
                       "<name>",
                       dose,
                       "</name>\r\n"
                       "<visibility>1</visibility>"});
  if (described) {
    // The same text as the classic description, lines and all.
    files.PrintItems(
        f, {"<description><![CDATA[\r\n"
            "     <h1>",
            CdataSafe(XmlSafe(record.Timestamp)), "-", DoseText(record.DoseRate), "(", count,
            "cpm)</h1>\r\n"
            "     <p><font color=\"; red; \">Text is <i>more readable</i> and\r\n"
            "   <b>easier to write</b> when you can avoid using entity\r\n"
            "references.</font></p>\r\n"
            "]]></description>"});
  }
  files.PrintItems(f, {"<LookAt><longitude>", longitude, "</longitude><latitude>", latitude,
                       "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt>"
                       "<range>1000</range></LookAt>\r\n"
                       "<styleUrl>#dose",
                       std::to_string(static_cast<int>(dose_class)),
                       "</styleUrl>\r\n"
                       "<Point><altitudeMode>relativeToGround</altitudeMode><coordinates>",
                       longitude, ",", latitude, ",", StrictNumber(record.Altitude),
                       "</coordinates></Point>\r\n"
                       "</Placemark>"});
  return dose_class;
}

void StrictMap::WriteFooter(TextFiles& files) {
  files.PrintItems(kKmlFileNumber, {"</Folder>\r\n"
                                    "</Document>\r\n"
                                    "</kml>"});
}

}  // namespace dosemap
