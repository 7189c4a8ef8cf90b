#include "legacy/convert/kml_frame.h"

namespace dosemap {

void WriteKmlHeader(TextFiles& files, const SurveyRecord& first, std::string_view kml_base_name) {
  const int f = kKmlFileNumber;
  files.PrintItems(f, {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>"});
  files.PrintItems(f, {" <kml xmlns=\"http://earth.google.com/kml/2.0\">"});
  files.PrintItems(f, {"<Folder>"});
  files.PrintItems(f, {" <open>1"});
  files.PrintItems(f, {"</open>"});
  files.PrintItems(f, {"<LookAt>"});
  files.PrintItems(f, {"<longitude>", first.Longitude, "</longitude>  <latitude>", first.Latitude,
                       "</latitude>"});
  // The camera range is the first longitude again, not a distance: maps made so far rely on it.
  files.PrintItems(f,
                   {"        <altitude>1</altitude>  <heading>0</heading> <tilt>0</tilt>  <range>",
                    first.Longitude, "</range>"});
  files.PrintItems(f, {"</LookAt>"});
  files.PrintItems(f, {"<visibility>1</visibility>"});
  files.PrintItems(f, {"<Folder>"});
  files.PrintItems(f, {"<open>1</open> <name>", XmlEscaped(kml_base_name),
                       "</name> <visibility>1</visibility>"});
}

void WriteKmlFooter(TextFiles& files) {
  files.PrintItems(kKmlFileNumber, {"</Folder>"});
  files.PrintItems(kKmlFileNumber, {"</Folder>"});
  files.PrintItems(kKmlFileNumber, {" </kml>"});
}

}  // namespace dosemap
