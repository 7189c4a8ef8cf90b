// The tile forms: .pmtiles (with a MapLibre viewer beside it) and .mbtiles, one pyramid of vector
// tiles of the kept measurements and their averages.
#include <cctype>
#include <cmath>
#include <memory>
#include <nlohmann/json.hpp>

#include "common/error.h"
#include "common/xml_text.h"
#include "maps/map_text.h"
#include "maps/report_assets.h"
#include "maps/tile_archives.h"
#include "maps/vector_tiles.h"

namespace dosemap {
namespace {

using Json = nlohmann::ordered_json;

Json VectorLayers(int max_zoom) {
  return Json::array(
      {{{"id", "measurements"},
        {"description", "every kept measurement"},
        {"fields",
         {{"dose_usvh", "Number"}, {"cpm", "Number"}, {"time", "String"}, {"class", "Number"}}},
        {"minzoom", max_zoom},
        {"maxzoom", max_zoom}},
       {{"id", "cells"},
        {"description", "the measurements averaged in squares of 1/64 of a tile"},
        {"fields",
         {{"count", "Number"},
          {"dose_mean_usvh", "Number"},
          {"dose_max_usvh", "Number"},
          {"class", "Number"},
          {"class_max", "Number"}}},
        {"minzoom", 0},
        {"maxzoom", max_zoom - 1}}});
}

Json DoseClasses(const DoseScale& scale) {
  Json classes = Json::array();
  for (int c = 1; c <= kDoseClassCount; ++c) {
    double lower, upper;
    const bool any = scale.Bounds(static_cast<DoseClass>(c), &lower, &upper);
    const auto bound = [any](double v) { return any && std::isfinite(v) ? Json(v) : Json(); };
    classes.push_back({{"class", c},
                       {"from_usvh", any && std::isinf(lower) ? Json(0.0) : bound(lower)},
                       {"to_usvh", bound(upper)},
                       {"color", ClassStyleOf(c).html_colour}});
  }
  return classes;
}

// Where a viewer opens: the middle of the data, at a zoom that shows all of it.
PmtilesPlace PlaceOf(const PyramidFigures& f, int max_zoom) {
  PmtilesPlace place;
  place.max_zoom = max_zoom;
  if (f.tiled == 0) {
    place.west = -180, place.south = -kTileLatitudeLimit;
    place.east = 180, place.north = kTileLatitudeLimit;
    return place;
  }
  place.west = f.west, place.south = f.south, place.east = f.east, place.north = f.north;
  place.center_lon = (f.west + f.east) / 2;
  place.center_lat = (f.south + f.north) / 2;
  const double span = std::max(f.east - f.west, f.north - f.south);
  const int fits = span > 0 ? static_cast<int>(std::floor(std::log2(360.0 / span))) + 1 : max_zoom;
  place.center_zoom = std::clamp(fits, 0, max_zoom);
  return place;
}

// The metadata both containers carry, "summary" the run's --summary=json object.
Json Metadata(const std::string& title, const PyramidFigures& f, const PmtilesPlace& place,
              const DoseScale& scale, const DriveStatistics& statistics) {
  Json meta;
  meta["name"] = title;
  meta["description"] = "dose rate survey: measurements and their averages";
  meta["type"] = "overlay";
  meta["format"] = "pbf";
  meta["vector_layers"] = VectorLayers(place.max_zoom);
  meta["bounds"] = {place.west, place.south, place.east, place.north};
  meta["center"] = {place.center_lon, place.center_lat, place.center_zoom};
  meta["minzoom"] = 0;
  meta["maxzoom"] = place.max_zoom;
  meta["dose_classes"] = DoseClasses(scale);
  meta["dropped_points"] = f.dropped_points;
  meta["summary"] = Json::parse(statistics.Json());
  return meta;
}

std::string Dump(const Json& json) {
  return json.dump(-1, ' ', false, Json::error_handler_t::replace);
}

// An empty tile at 0/0/0 for a run that kept nothing, so that the containers are never empty.
void AtLeastOneTile(const PyramidFigures& f, TileSink& sink) {
  if (f.tiles == 0) sink.Tile(0, 0, 0, Gzip(""));
}

// The archive's name as a relative URL from the viewer's folder.
std::string ArchiveUrl(const std::filesystem::path& out) {
  std::string url = "../";
  static const char* const kHex = "0123456789ABCDEF";
  for (const unsigned char c : out.filename().string()) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

std::string ViewerPage(const std::filesystem::path& out) {
  std::string page(ViewerHtml());
  const auto replace = [&page](std::string_view mark, const std::string& text) {
    for (std::size_t at = page.find(mark); at != std::string::npos;
         at = page.find(mark, at + text.size()))
      page.replace(at, mark.size(), text);
  };
  replace("@TITLE@", XmlEscaped(XmlSafe(out.stem().string())));
  replace("@ARCHIVE@", ArchiveUrl(out));  // percent-encoded: safe in the attribute
  return page;
}

const char* const kViewerFiles[] = {"index.html", "viewer.js", "maplibre-gl.css"};

class TilesMap : public SurveyMap {
 public:
  TilesMap(const std::filesystem::path& out, const MapOptions& options, bool pmtiles)
      : out_(out),
        pmtiles_(pmtiles),
        folder_(out.parent_path() / IconFolderName(out)),
        file_(out),
        scale_{options.yellow, options.red},
        cancel_(options.cancel),
        pyramid_(options.max_zoom) {
    if (pmtiles_) {
      RefuseLink(folder_);
      for (const char* name : kViewerFiles) RefuseLink(folder_ / name);
    }
  }
  void Add(const Measurement& m, int dose_class) override { pyramid_.Add(m, dose_class); }
  void Finish(const DriveStatistics& statistics) override {
    const std::string title = out_.stem().string();
    const int max_zoom = pyramid_.max_zoom();
    if (pmtiles_) {
      PmtilesWriter writer(max_zoom);
      pyramid_.Build(scale_, writer, cancel_);
      AtLeastOneTile(pyramid_.figures(), writer);
      const PmtilesPlace place = PlaceOf(pyramid_.figures(), max_zoom);
      writer.Write(file_, place,
                   Dump(Metadata(title, pyramid_.figures(), place, scale_, statistics)));
      file_.Close();
      viewer_.push_back(StagePicture(folder_, "index.html", ViewerPage(out_)));
      viewer_.push_back(StagePicture(folder_, "viewer.js", ViewerJs()));
      viewer_.push_back(StagePicture(folder_, "maplibre-gl.css", ViewerCss()));
      return;
    }
    file_.Seal();  // SQLite writes the staging file by its path
    MbtilesWriter writer(file_.staging());
    pyramid_.Build(scale_, writer, cancel_);
    AtLeastOneTile(pyramid_.figures(), writer);
    const PmtilesPlace place = PlaceOf(pyramid_.figures(), max_zoom);
    Json meta = Metadata(title, pyramid_.figures(), place, scale_, statistics);
    const auto number = [](double v) { return Dump(Json(v)); };
    std::vector<std::pair<std::string, std::string>> rows = {
        {"name", title},
        {"format", "pbf"},
        {"type", "overlay"},
        {"description", meta["description"]},
        {"minzoom", "0"},
        {"maxzoom", std::to_string(max_zoom)},
        {"bounds", number(place.west) + "," + number(place.south) + "," + number(place.east) + "," +
                       number(place.north)},
        {"center", number(place.center_lon) + "," + number(place.center_lat) + "," +
                       std::to_string(place.center_zoom)}};
    for (const char* key :
         {"name", "description", "type", "format", "bounds", "center", "minzoom", "maxzoom"})
      meta.erase(key);
    rows.emplace_back("json", Dump(meta));
    writer.Finish(rows);
    file_.Close();
  }
  void Commit() override {
    for (const auto& file : viewer_) file->Commit();
    file_.Commit();
  }

 private:
  std::filesystem::path out_;
  bool pmtiles_;
  std::filesystem::path folder_;
  StagedFile file_;
  DoseScale scale_;
  CancelFlag cancel_;
  TilePyramid pyramid_;
  std::vector<std::unique_ptr<StagedFile>> viewer_;
};

std::unique_ptr<SurveyMap> MakePmtiles(const std::filesystem::path& out,
                                       const MapOptions& options) {
  return std::make_unique<TilesMap>(out, options, true);
}
std::unique_ptr<SurveyMap> MakeMbtiles(const std::filesystem::path& out,
                                       const MapOptions& options) {
  return std::make_unique<TilesMap>(out, options, false);
}

void ViewerFiles(const std::filesystem::path& out, const MapOptions&,
                 std::vector<std::filesystem::path>& files) {
  const std::filesystem::path folder = out.parent_path() / IconFolderName(out);
  for (const char* name : kViewerFiles) files.push_back(folder / name);
}

}  // namespace

const MapFormRow kPmtilesForm = {
    "pmtiles",
    {".pmtiles", ""},
    "vector tiles (PMTiles 3) of every measurement and their averages, with a MapLibre viewer in "
    "OUT_files/",
    nullptr,
    MakePmtiles,
    nullptr,
    nullptr,
    ViewerFiles,
    {},
    false,
    true};

const MapFormRow kMbtilesForm = {
    "mbtiles",
    {".mbtiles", ""},
    "the same vector tiles as an MBTiles 1.3 database, for QGIS and GDAL",
    nullptr,
    MakeMbtiles,
    nullptr,
    nullptr,
    nullptr,
    {},
    false,
    true};

}  // namespace dosemap
