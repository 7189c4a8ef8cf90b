#ifndef DOSEMAP_LEGACY_CONVERT_KML_FRAME_H_
#define DOSEMAP_LEGACY_CONVERT_KML_FRAME_H_

#include <string>
#include <string_view>

#include "common/xml_text.h"
#include "legacy/convert/survey_log.h"
#include "legacy/textfile/text_files.h"

namespace dosemap {

// Writes the twelve header lines to file number 1: the declaration, the kml element, the outer
// folder with a camera on the first record's position, and the inner folder named kml_base_name.
void WriteKmlHeader(TextFiles& files, const SurveyRecord& first, std::string_view kml_base_name);

// Writes the three footer lines that close both folders and the kml element.
void WriteKmlFooter(TextFiles& files);

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_CONVERT_KML_FRAME_H_
