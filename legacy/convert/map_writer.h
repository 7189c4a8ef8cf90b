#ifndef DOSEMAP_LEGACY_CONVERT_MAP_WRITER_H_
#define DOSEMAP_LEGACY_CONVERT_MAP_WRITER_H_

#include <optional>
#include <string>
#include <string_view>

#include "common/number_text.h"
#include "dose/dose_scale.h"
#include "legacy/convert/placemark.h"
#include "legacy/convert/survey_log.h"
#include "legacy/textfile/text_files.h"

namespace dosemap {

// The form of the map a run writes to file number 1: its frame and one placemark per record.
class MapWriter {
 public:
  virtual ~MapWriter() = default;
  // Opens file number 1 for the map. By default the file is created or emptied at once.
  virtual void OpenOutput(TextFiles& files, std::string_view kml_name);
  virtual void WriteHeader(TextFiles& files, const SurveyRecord& first,
                           std::string_view kml_base_name) = 0;
  // The class of the placemark written, or nothing for a record in the exclusion box.
  virtual std::optional<DoseClass> WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                                  const ThresholdSource& thresholds) = 0;
  virtual void WriteFooter(TextFiles& files) = 0;
};

// The form the window writes, byte for byte as maps made so far have it (KML 2.0).
class ClassicMap : public MapWriter {
 public:
  void WriteHeader(TextFiles& files, const SurveyRecord& first,
                   std::string_view kml_base_name) override;
  std::optional<DoseClass> WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                          const ThresholdSource& thresholds) override;
  void WriteFooter(TextFiles& files) override;
};

// The same map as standard KML 2.2 that every reader takes: the five classes as shared styles,
// plain coordinates, escaped names, a description in one CDATA section. A record whose
// placemark can't be written whole (a threshold or count that is no number) writes none of it,
// so a run that stops early still leaves a well-formed document.
class StrictMap : public MapWriter {
 public:
  // icon_address: where the square icon is, a web address or a path inside a KMZ. folder_name:
  // the name shown for the map, when it is not the KML base name. staged: the map is written
  // beside its file and renamed over it when the run ends, so an interrupted or concurrent run
  // never leaves half a map; off for a file that is itself a private staging file.
  explicit StrictMap(std::string icon_address = kIconAddress, std::string folder_name = "",
                     bool staged = true);

  void OpenOutput(TextFiles& files, std::string_view kml_name) override;
  void WriteHeader(TextFiles& files, const SurveyRecord& first,
                   std::string_view kml_base_name) override;
  std::optional<DoseClass> WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                          const ThresholdSource& thresholds) override;
  void WriteFooter(TextFiles& files) override;

 private:
  std::string icon_address_;
  std::string folder_name_;
  bool staged_;
};

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_CONVERT_MAP_WRITER_H_
