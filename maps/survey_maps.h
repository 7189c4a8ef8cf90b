#ifndef DOSEMAP_MAPS_SURVEY_MAPS_H_
#define DOSEMAP_MAPS_SURVEY_MAPS_H_

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "maps/staged_file.h"
#include "survey/survey_run.h"

namespace dosemap {

// The map forms of the path form, by the output's extension.
enum class MapForm { kGeoJson, kKml, kKmz, kGpx, kCsv, kHtml };

// The form for an output path's extension (".geojson", ".kml", ".kmz", ".gpx", ".csv", ".html",
// any case), or nothing.
std::optional<MapForm> MapFormOf(const std::filesystem::path& out);

// A map the survey run writes as it goes. Finish completes it in its staging files, replacing
// nothing; Commit then puts it in place. A writer dropped before Commit leaves any old file at
// its path as it was, and no staging file.
class SurveyMap : public MeasurementSink {
 public:
  virtual void Finish() = 0;
  virtual void Commit() = 0;
};

struct MapOptions {
  double yellow = 0.11;  // for the legend and the class names
  double red = 0.19;
  std::string icon_url;  // a web icon instead of our own file beside the map (KML)
  const DriveStatistics* statistics = nullptr;  // the figures the HTML report shows at its end
};

// Creates the map for out; throws FileError when its staging file can't be created.
std::unique_ptr<SurveyMap> MakeSurveyMap(MapForm form, const std::filesystem::path& out,
                                         const MapOptions& options);

// The namespace of our GPX extensions (dose_usvh, cpm, class).
inline constexpr const char* kGpxNamespace = "urn:dosemap:gpx:1";

// "#rrggbb" of a dose class.
std::string HtmlColourOf(int dose_class);

// The rejects file: "file,line,reason,text", the text escaped and cut at 200 bytes. Written
// beside its path, completed by Finish and put in place by Commit.
class RejectsFile : public RejectSink {
 public:
  explicit RejectsFile(const std::filesystem::path& path);
  void Reject(const std::string& log_name, long line, RejectReason reason,
              std::string_view text) override;
  void Finish() { file_.Close(); }
  void Commit() { file_.Commit(); }

 private:
  StagedFile file_;
  std::string row_;
};

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_SURVEY_MAPS_H_
