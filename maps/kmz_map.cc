// The KMZ form: one document up to 5,000 measurements, a regionated archive above that.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "common/error.h"
#include "maps/kml_document.h"
#include "maps/kmz.h"
#include "maps/legend_image.h"

namespace dosemap {
namespace {

// A measurement as the KMZ keeps it until the end: 64 bytes, with 4 more for its place in the
// order of the quadtree. Every number is kept exactly, as the other forms write it.
struct StoredMeasurement {
  double latitude, longitude, dose_usvh, dose_sigma_usvh, altitude, cpm;
  std::int64_t time;
  std::uint32_t line;
  std::uint16_t log;
  std::uint8_t flags;  // kUtc | kHasAltitude | kHasCpm | kBreakBefore
  std::uint8_t dose_class;
  // kBreakBefore: the route does not join it to the measurement before it.
  static constexpr std::uint8_t kUtc = 1, kHasAltitude = 2, kHasCpm = 4, kBreakBefore = 8;
};
static_assert(sizeof(StoredMeasurement) == 64);

// Measurements in blocks, so that a long drive never needs one huge block or a copy to grow.
class MeasurementStore {
 public:
  void Add(const Measurement& m, int dose_class, bool break_before) {
    if (size_ % kBlock == 0)
      blocks_.push_back(std::make_unique_for_overwrite<StoredMeasurement[]>(kBlock));
    StoredMeasurement& s = blocks_.back()[size_ % kBlock];
    s = {m.latitude,
         m.longitude,
         m.dose_usvh,
         m.dose_sigma_usvh,
         m.altitude,
         m.cpm,
         m.time,
         static_cast<std::uint32_t>(m.line),
         static_cast<std::uint16_t>(m.log),
         static_cast<std::uint8_t>((m.utc ? StoredMeasurement::kUtc : 0) |
                                   (m.has_altitude ? StoredMeasurement::kHasAltitude : 0) |
                                   (m.has_cpm ? StoredMeasurement::kHasCpm : 0) |
                                   (break_before ? StoredMeasurement::kBreakBefore : 0)),
         static_cast<std::uint8_t>(dose_class)};
    ++size_;
  }
  std::size_t size() const { return size_; }
  const StoredMeasurement& operator[](std::size_t i) const {
    return blocks_[i / kBlock][i % kBlock];
  }
  Measurement At(std::size_t i) const {
    const StoredMeasurement& s = (*this)[i];
    Measurement m;
    m.latitude = s.latitude, m.longitude = s.longitude, m.dose_usvh = s.dose_usvh;
    m.dose_sigma_usvh = s.dose_sigma_usvh;
    m.altitude = s.altitude, m.cpm = s.cpm, m.time = s.time, m.line = s.line, m.log = s.log;
    m.utc = s.flags & StoredMeasurement::kUtc;
    m.has_altitude = s.flags & StoredMeasurement::kHasAltitude;
    m.has_cpm = s.flags & StoredMeasurement::kHasCpm;
    return m;
  }

 private:
  static constexpr std::size_t kBlock = 1 << 16;
  std::vector<std::unique_ptr<StoredMeasurement[]>> blocks_;
  std::size_t size_ = 0;
};

struct Box {
  double south, west, north, east;
};

// What a regionated KMZ places: items with a position, a rank (the highest placed first) and
// their placemark.
class PlacedItems {
 public:
  virtual ~PlacedItems() = default;
  virtual std::size_t size() const = 0;
  virtual double latitude(std::size_t i) const = 0;
  virtual double longitude(std::size_t i) const = 0;
  virtual double rank(std::size_t i) const = 0;
  // The shared styles every document starts with.
  virtual std::string Styles() const = 0;
  virtual void AppendPlacemark(std::string& text, std::size_t i) = 0;
  // The lines drawn under the items, always shown; empty: none.
  virtual std::string Route() const { return {}; }
};

// The pictures every KMZ of ours carries: the white icon, the class icons and the legend, under
// files/ (and the icons, for the documents in tiles/, under tiles/files/ too, so that a reader
// finds them whether it takes a path from the document or from the archive's root).
class KmzPictures {
 public:
  explicit KmzPictures(const DoseScale& scale) : legend_(LegendPng(scale)) {
    for (int c = 1; c <= 5; ++c) class_icons_[c - 1] = ClassIconPng(c);
  }
  void AppendTo(std::vector<KmzEntry>& entries, const std::string& folder = "") const {
    entries.push_back({folder + kKmzIconPath, {}, SquareIconPng()});
    for (int c = 1; c <= 5; ++c)
      entries.push_back({folder + ClassIconPath(c), {}, class_icons_[c - 1]});
    if (folder.empty()) entries.push_back({kKmzLegendPath, {}, legend_});  // doc.kml's only
  }
  // Copies beside the archive at out, for readers that look for them there (Marble): staged now,
  // put in place by Commit.
  void StageBeside(const std::filesystem::path& out) {
    const std::filesystem::path folder = out.parent_path() / "files";
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    if (error || std::filesystem::is_symlink(folder))
      throw FileError(FileErrorKind::kWriteFailed,
                      folder.string() + ": cannot write the icons beside the map");
    std::vector<KmzEntry> entries;
    AppendTo(entries);
    for (const KmzEntry& entry : entries) {  // nothing is written through a link
      if (std::filesystem::is_symlink(out.parent_path() / entry.name, error))
        throw FileError(FileErrorKind::kCannotOpen, (out.parent_path() / entry.name).string() +
                                                        ": is a symbolic link; nothing is "
                                                        "written through one");
    }
    for (const KmzEntry& entry : entries) {
      beside_.push_back(std::make_unique<StagedFile>(out.parent_path() / entry.name));
      *beside_.back() << entry.bytes;
      beside_.back()->Close();
    }
  }
  void Commit() {
    for (const auto& file : beside_) file->Commit();
  }

  const std::string& legend() const { return legend_; }

 private:
  std::string legend_;
  std::string class_icons_[5];
  std::vector<std::unique_ptr<StagedFile>> beside_;
};

// A regionated archive: doc.kml links a quadtree of documents under tiles/ by NetworkLinks with
// Regions, each document holding at most kPerDocument placemarks. An item is placed once, in the
// coarsest document whose selection takes it; the selection ranks, so the highest show from the top
// down and none is thinned away. A quarter smaller than about a metre is not divided further: what
// it still holds goes to documents of its own region, by rank.
class RegionatedKmz {
 public:
  static constexpr std::size_t kPerDocument = 2000;

  RegionatedKmz(PlacedItems& items, const std::filesystem::path& out,
                const std::filesystem::path& archive, const KmzPictures& pictures,
                CancelFlag cancel)
      : items_(items), out_(out), archive_(archive), pictures_(pictures), cancel_(cancel) {}

  void Write() {
    // The documents are written to a private folder beside the KMZ, then packed.
    const std::unique_ptr<StagingPath> interrupt_removes =
        StagingPath::Create(out_.string() + ".XXXXXX", StagingKind::kFolder);
    if (!interrupt_removes) {
      throw FileError(FileErrorKind::kCannotOpen,
                      out_.string() + ": cannot create: " + std::strerror(errno));
    }
    folder_ = interrupt_removes->path();
    try {
      std::filesystem::create_directory(folder_ / "tiles");
      std::vector<std::uint32_t> order(items_.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
      Box box{90, 180, -90, -180};
      for (std::size_t i = 0; i < items_.size(); ++i) {
        const double latitude = items_.latitude(i), longitude = items_.longitude(i);
        box = {std::min(box.south, latitude), std::min(box.west, longitude),
               std::max(box.north, latitude), std::max(box.east, longitude)};
        extent_.Add(latitude, longitude);
      }
      WriteNode(order.data(), order.data() + order.size(), Pad(box), 0, "doc.kml");
      WriteTop();
      // doc.kml first and the archive's only document at its root: readers take the first.
      std::rotate(documents_.begin(), documents_.end() - 1, documents_.end());
      std::vector<KmzEntry> entries;
      for (const std::string& name : documents_) entries.push_back({name, folder_ / name, {}});
      pictures_.AppendTo(entries);
      pictures_.AppendTo(entries, "tiles/");
      WriteKmz(archive_, entries, /*level=*/1, cancel_);
    } catch (...) {
      RemoveFolder();
      throw;
    }
    RemoveFolder();
  }

  void RemoveFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // A box of some size, so that a Region around a single point is still a Region.
  static Box Pad(Box b) {
    if (b.north - b.south < kSmallestQuarter)
      b.south -= kSmallestQuarter / 2, b.north += kSmallestQuarter / 2;
    if (b.east - b.west < kSmallestQuarter)
      b.west -= kSmallestQuarter / 2, b.east += kSmallestQuarter / 2;
    return b;
  }

  static std::string RegionOf(const Box& b, int min_lod_pixels) {
    std::string r = "<Region><LatLonAltBox><north>";
    AppendNumber(r, b.north);
    r += "</north><south>";
    AppendNumber(r, b.south);
    r += "</south><east>";
    AppendNumber(r, b.east);
    r += "</east><west>";
    AppendNumber(r, b.west);
    r += "</west></LatLonAltBox><Lod><minLodPixels>";
    AppendInteger(r, min_lod_pixels);
    r += "</minLodPixels><maxLodPixels>-1</maxLodPixels></Lod></Region>";
    return r;
  }

  // Ranks [begin, end) so that its first kPerDocument (or fewer) are its highest, and
  // returns where they end.
  std::uint32_t* TakeHighest(std::uint32_t* begin, std::uint32_t* end) const {
    if (static_cast<std::size_t>(end - begin) <= kPerDocument) return end;
    std::uint32_t* const placed_end = begin + kPerDocument;
    std::nth_element(begin, placed_end, end, [this](std::uint32_t a, std::uint32_t b) {
      const double da = items_.rank(a), db = items_.rank(b);
      return da != db ? da > db : a < b;
    });
    return placed_end;
  }

  struct Link {
    std::uint32_t *from, *to;
    Box box;
    std::string name;
    bool divides;  // a quarter with children of its own; else a leaf of one rank
  };

  // Writes the document of the measurements [begin, end) within box, and its children's.
  void WriteNode(std::uint32_t* begin, std::uint32_t* end, const Box& box, int depth,
                 const std::string& name, bool divides = true) {
    std::uint32_t* const placed_end = divides ? TakeHighest(begin, end) : end;
    std::sort(begin, placed_end);  // the placed ones in the order of the logs and lines
    const std::string prefix = depth == 0 ? "r" : name.substr(0, name.size() - 4);
    std::vector<Link> links;
    std::uint32_t* const rest = placed_end;
    if (!divides || rest == end) {
      // nothing left to place
    } else if (box.north - box.south < kSmallestQuarter && box.east - box.west < kSmallestQuarter) {
      // So small a quarter is not divided: what is left goes to leaves of its region, by rank.
      int rank = 0;
      for (std::uint32_t* from = rest; from < end; ++rank) {
        std::uint32_t* const to = TakeHighest(from, end);
        links.push_back({from, to, box, prefix + "_" + std::to_string(rank) + ".kml", false});
        from = to;
      }
    } else {
      // The rest goes to the four quarters of the box.
      const double middle_lat = (box.south + box.north) / 2, middle_lon = (box.west + box.east) / 2;
      std::uint32_t* const north_end = std::partition(
          rest, end, [&](std::uint32_t i) { return items_.latitude(i) >= middle_lat; });
      std::uint32_t* const ne_end = std::partition(
          rest, north_end, [&](std::uint32_t i) { return items_.longitude(i) >= middle_lon; });
      std::uint32_t* const se_end = std::partition(
          north_end, end, [&](std::uint32_t i) { return items_.longitude(i) >= middle_lon; });
      const Link quarters[] = {
          {rest, ne_end, {middle_lat, middle_lon, box.north, box.east}, prefix + "0.kml", true},
          {ne_end,
           north_end,
           {middle_lat, box.west, box.north, middle_lon},
           prefix + "1.kml",
           true},
          {north_end,
           se_end,
           {box.south, middle_lon, middle_lat, box.east},
           prefix + "2.kml",
           true},
          {se_end, end, {box.south, box.west, middle_lat, middle_lon}, prefix + "3.kml", true}};
      for (const Link& quarter : quarters) {
        if (quarter.from != quarter.to) links.push_back(quarter);
      }
    }
    WriteDocument(begin, placed_end, box, depth, name, links);
    for (const Link& link : links)
      WriteNode(link.from, link.to, link.box, depth + 1, link.name, link.divides);
  }

  // One document, closed before its children are written: one buffer at a time, at any depth.
  // Its links go to doc.kml, which holds every link with its Region: a Region is shown only when
  // its box is large enough on screen, and a quarter's box lies within its parent's, so the
  // documents load as a nested tree would load them, while every href is a path from the
  // archive's root, which every reader resolves the same way.
  void WriteDocument(const std::uint32_t* begin, const std::uint32_t* end, const Box& box,
                     int depth, const std::string& name, const std::vector<Link>& links) {
    ThrowIfCancelled(cancel_);
    for (const Link& link : links) links_.push_back({"tiles/" + link.name, link.box});
    if (depth == 0) {
      WriteItems(begin, end, box, 0, "top.kml", "highest");  // always shown
    } else {
      WriteItems(begin, end, box, depth, name, std::string_view(name).substr(0, name.size() - 4));
    }
  }

  // A document of tiles/: its items, within its Region below the top.
  void WriteItems(const std::uint32_t* begin, const std::uint32_t* end, const Box& box, int depth,
                  const std::string& name, std::string_view label) {
    StagedFile file = Begin("tiles/" + name);
    file << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(out_.stem().string())) << " "
         << label << "</name>\n";
    if (depth > 0) file << RegionOf(box, kMinLodPixels) << "\n";
    file << items_.Styles();
    std::string text;
    for (const std::uint32_t* i = begin; i < end; ++i) {
      text.clear();
      items_.AppendPlacemark(text, *i);
      file << text;
    }
    file << "</Document>\n</kml>\n";
    file.Commit();
  }

  // doc.kml: the view, the legend and links only. The top level's items are a linked document
  // like the rest (so that a reader that lists linked documents as layers, as GDAL does, lists
  // every item once), always shown, as is the route. The highest come last: a reader that draws
  // in the order it loads (CesiumJS) draws them on top.
  void WriteTop() {
    const std::string title = XmlEscaped(XmlSafe(out_.stem().string()));
    const std::string route = items_.Route();
    if (!route.empty()) {
      StagedFile file = Begin("tiles/route.kml");
      file << kKmlStart << "<Document>\n<name>" << title << " route</name>\n"
           << items_.Styles() << route << "</Document>\n</kml>\n";
      file.Commit();
    }
    StagedFile top = Begin("doc.kml");
    top << kKmlStart << "<Document>\n<name>" << title << "</name>\n<open>1</open>\n"
        << KmlLookAt(ViewOf(extent_)) << KmlLegend(kKmzLegendPath);
    if (!route.empty()) {
      top << "<NetworkLink><name>route</name><Link><href>tiles/route.kml</href></Link>"
             "</NetworkLink>\n";
    }
    for (const auto& [href, box] : links_) {
      top << "<NetworkLink><name>" << std::string_view(href).substr(6, href.size() - 10)
          << "</name>" << RegionOf(box, kMinLodPixels) << "<Link><href>" << href
          << "</href><viewRefreshMode>onRegion</viewRefreshMode></Link></NetworkLink>\n";
    }
    top << "<NetworkLink><name>highest</name><Link><href>tiles/top.kml</href></Link>"
           "</NetworkLink>\n</Document>\n</kml>\n";
    top.Commit();
  }

  StagedFile Begin(const std::string& name) {
    documents_.push_back(name);
    return StagedFile(folder_ / name);
  }

  static constexpr int kMinLodPixels = 256;
  // About a metre of latitude: quarters smaller than this are not divided.
  static constexpr double kSmallestQuarter = 1e-5;

  PlacedItems& items_;
  std::filesystem::path out_;
  std::filesystem::path archive_;
  const KmzPictures& pictures_;
  CancelFlag cancel_;
  std::filesystem::path folder_;
  std::vector<std::string> documents_;              // as named in the archive
  std::vector<std::pair<std::string, Box>> links_;  // every document below the top, for doc.kml
  Extent extent_;
};

// The measurements of a drive as a KMZ places them.
class MeasurementItems : public PlacedItems {
 public:
  MeasurementItems(const MeasurementStore& store, const std::vector<std::string>& logs,
                   const KmlLook& look)
      : store_(store), logs_(logs), look_(look) {}
  std::size_t size() const override { return store_.size(); }
  double latitude(std::size_t i) const override { return store_[i].latitude; }
  double longitude(std::size_t i) const override { return store_[i].longitude; }
  double rank(std::size_t i) const override { return store_[i].dose_usvh; }
  std::string Styles() const override { return KmlStyles(look_); }
  void AppendPlacemark(std::string& text, std::size_t i) override {
    const Measurement m = store_.At(i);
    if (m.log != log_) log_ = m.log, source_ = KmlSource(logs_[log_]);
    dosemap::AppendPlacemark(text, m, store_[i].dose_class, source_, look_.time);
  }
  // Every log's route, a vertex about every 1/50,000 of the drive's length (20 m at least), so
  // that the document that is always shown stays light.
  std::string Route() const override {
    double length = 0;
    for (std::size_t i = 1; i < store_.size(); ++i) {
      const StoredMeasurement &a = store_[i - 1], &b = store_[i];
      if (a.log == b.log && !(b.flags & StoredMeasurement::kBreakBefore))
        length += GreatCircleMetres(a.latitude, a.longitude, b.latitude, b.longitude);
    }
    KmlRoute route;
    route.SetStep(std::max(20.0, length / 50000));
    std::string text;
    for (std::size_t i = 0; i < store_.size(); ++i) {
      const StoredMeasurement& s = store_[i];
      if (i > 0 && (s.log != store_[i - 1].log || (s.flags & StoredMeasurement::kBreakBefore)))
        route.Break(text);
      route.Add(s.latitude, s.longitude, text);
    }
    route.Break(text);
    return text;
  }

 private:
  const MeasurementStore& store_;
  const std::vector<std::string>& logs_;
  KmlLook look_;
  int log_ = -1;
  std::string source_;
};

// A KMZ's documents: its icons and legend inside it, the classes as style maps.
KmlLook KmzLook(const MapOptions& options) {
  KmlLook look;
  look.icon = kKmzIconPath;
  look.legend = kKmzLegendPath;
  look.labels = options.labels;
  look.class_icons = true;
  look.time = options.time;
  return look;
}

// A KMZ. Up to kSingleDocumentLimit measurements: one document, the icon inside the archive;
// above that a regionated archive, ranked by dose so that no hotspot is thinned away.
class KmzMap : public SurveyMap {
 public:
  static constexpr std::size_t kSingleDocumentLimit = 5000;

  KmzMap(const std::filesystem::path& out, const MapOptions& options)
      : out_(out),
        options_(options),
        archive_(out),
        pictures_({options.yellow, options.red}),
        look_(KmzLook(options)) {}
  void BeginLog(int, const std::string& name) override { logs_.push_back(name); }
  void Add(const Measurement& m, int dose_class) override {
    store_.Add(m, dose_class, break_next_);
    break_next_ = false;
  }
  void Break() override { break_next_ = true; }
  void Finish(const DriveStatistics& statistics) override {
    archive_.Seal();  // the packer writes the staging archive by its path
    try {
      if (options_.icons_beside) pictures_.StageBeside(out_);
      if (store_.size() <= kSingleDocumentLimit) {
        WriteSingle(statistics);
      } else {
        WriteRegionated();
      }
      archive_.Close();
    } catch (const FileError& error) {
      // The user knows the map by its own name, not by its staging file's.
      std::string message = error.what();
      const std::string staging = archive_.staging().string();
      for (std::size_t at; (at = message.find(staging)) != std::string::npos;)
        message.replace(at, staging.size(), out_.string());
      throw FileError(error.kind(), message);
    }
  }
  void Commit() override {
    pictures_.Commit();
    archive_.Commit();
  }

 private:
  void WriteSingle(const DriveStatistics& statistics) {
    StagedFile file(std::filesystem::path(out_.string() + ".doc"));  // packed, then removed
    KmlDocument document(file, out_.stem().string(), look_);
    int log = -1;
    for (std::size_t i = 0; i < store_.size(); ++i) {
      const Measurement m = store_.At(i);
      while (log < m.log) ++log, document.BeginLog(log, logs_[log]);
      if (store_[i].flags & StoredMeasurement::kBreakBefore) document.Break();
      document.Add(m, store_[i].dose_class);
    }
    while (log + 1 < static_cast<int>(logs_.size())) ++log, document.BeginLog(log, logs_[log]);
    document.Finish(statistics);
    file.Flush();
    std::vector<KmzEntry> entries = {{"doc.kml", file.staging(), {}}};
    pictures_.AppendTo(entries);
    WriteKmz(archive_.staging(), entries, 0, options_.cancel);
  }

  void WriteRegionated() {
    MeasurementItems items(store_, logs_, look_);
    RegionatedKmz(items, out_, archive_.staging(), pictures_, options_.cancel).Write();
  }

  std::filesystem::path out_;
  MapOptions options_;
  StagedFile archive_;
  KmzPictures pictures_;
  KmlLook look_;
  std::vector<std::string> logs_;
  MeasurementStore store_;
  bool break_next_ = false;
};

// A grid's cells as a KMZ places them, ranked by their mean: the hottest cells are in the level
// that is always shown.
class CellItems : public PlacedItems {
 public:
  CellItems(const GridGeometry& geometry, std::vector<GridCell> cells, const DoseScale& scale,
            bool time)
      : geometry_(geometry), cells_(std::move(cells)), scale_(scale), time_(time) {}
  std::size_t size() const override { return cells_.size(); }
  double latitude(std::size_t i) const override {
    const CellEdges e = EdgesOf(i);
    return (e.south + e.north) / 2;
  }
  double longitude(std::size_t i) const override {
    const CellEdges e = EdgesOf(i);
    return (e.west + e.east) / 2;
  }
  double rank(std::size_t i) const override { return cells_[i].dose_mean(); }
  std::string Styles() const override { return KmlCellStyles(); }
  void AppendPlacemark(std::string& text, std::size_t i) override {
    text += KmlCellPlacemark(cells_[i], EdgesOf(i),
                             static_cast<int>(scale_.ClassOf(cells_[i].dose_mean())), time_);
  }

 private:
  CellEdges EdgesOf(std::size_t i) const {
    return geometry_.EdgesOf(GridGeometry::RowOfKey(cells_[i].key),
                             GridGeometry::ColumnOfKey(cells_[i].key));
  }
  const GridGeometry& geometry_;
  std::vector<GridCell> cells_;
  DoseScale scale_;
  bool time_;
};

std::unique_ptr<CellWriter> WriteKmzCells(ByteSink& sink, const std::string& title,
                                          const MapOptions& options);

// A KMZ of a grid's cells: one document up to kSingleDocumentLimit cells, regionated above.
class GridKmzMap : public SurveyMap {
 public:
  static constexpr std::size_t kSingleDocumentLimit = 5000;

  GridKmzMap(const std::filesystem::path& out, const MapOptions& options, const GridRequest& grid)
      : out_(out),
        options_(options),
        grid_(grid),
        archive_(out),
        pictures_({options.yellow, options.red}) {}
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics& statistics) override {
    archive_.Seal();
    const DoseScale scale{options_.yellow, options_.red};
    if (static_cast<std::size_t>(grid_.cells->CellsWith(grid_.min_count)) > kSingleDocumentLimit) {
      std::vector<GridCell> cells;
      grid_.cells->ForEachCell(grid_.min_count,
                               [&](const GridCell& cell) { cells.push_back(cell); });
      CellItems items(grid_.cells->geometry(), std::move(cells), scale, options_.time);
      RegionatedKmz(items, out_, archive_.staging(), pictures_, options_.cancel).Write();
    } else {
      StagedFile file(std::filesystem::path(out_.string() + ".doc"));  // packed, then removed
      const std::unique_ptr<CellWriter> document =
          WriteKmzCells(file, out_.stem().string(), options_);
      StagedGridMap::WriteCells(*grid_.cells, grid_.min_count, scale, *document);
      document->Finish(statistics);
      file.Flush();
      WriteKmz(archive_.staging(),
               {{"doc.kml", file.staging(), {}}, {kKmzLegendPath, {}, pictures_.legend()}}, 0,
               options_.cancel);
    }
    archive_.Close();
  }
  void Commit() override { archive_.Commit(); }

 private:
  std::filesystem::path out_;
  MapOptions options_;
  GridRequest grid_;
  StagedFile archive_;
  KmzPictures pictures_;
};

// A comparison's KMZ: one document of its cells and the change legend.
class KmzChangeMap : public SurveyMap {
 public:
  KmzChangeMap(const std::filesystem::path& out, const MapOptions& options,
               const ChangeRequest& change)
      : out_(out), options_(options), change_(change), archive_(out) {}
  void Add(const Measurement&, int) override {}
  void Finish(const DriveStatistics&) override {
    archive_.Seal();
    {
      StagedFile file(std::filesystem::path(out_.string() + ".doc"));  // packed, then removed
      file << KmlChangeStart(out_.stem().string(), kKmzLegendPath);
      WriteChangeCells(change_, [&file](const ChangeCell& cell, const CellEdges& edges,
                                        const CellChange& change) {
        file << KmlChangePlacemark(cell, edges, change);
      });
      file << kKmlChangeEnd;
      file.Flush();
      const std::string legend = ChangeLegendPng();
      WriteKmz(archive_.staging(), {{"doc.kml", file.staging(), {}}, {kKmzLegendPath, {}, legend}},
               0, options_.cancel);
    }
    archive_.Close();
  }
  void Commit() override { archive_.Commit(); }

 private:
  std::filesystem::path out_;
  MapOptions options_;
  ChangeRequest change_;
  StagedFile archive_;
};

std::unique_ptr<CellWriter> WriteKmzCells(ByteSink& sink, const std::string& title,
                                          const MapOptions& options) {
  return WriteKmlCellDocument(sink, title, kKmzLegendPath, options.time);
}

std::unique_ptr<SurveyMap> MakeGrid(const std::filesystem::path& out, const MapOptions& options,
                                    const GridRequest& grid) {
  return std::make_unique<GridKmzMap>(out, options, grid);
}

std::unique_ptr<FormWriter> Write(ByteSink& sink, const std::string& title,
                                  const MapOptions& options) {
  return std::make_unique<KmlDocument>(sink, title, KmzLook(options));
}

std::unique_ptr<SurveyMap> Make(const std::filesystem::path& out, const MapOptions& options) {
  return std::make_unique<KmzMap>(out, options);
}

// With --icons-beside, the icons' copies in files/ beside the archive.
void Companions(const std::filesystem::path& out, const MapOptions& options,
                std::vector<std::filesystem::path>& files) {
  if (!options.icons_beside) return;
  // The names KmzPictures::AppendTo gives them.
  files.push_back(out.parent_path() / kKmzIconPath);
  for (int c = 1; c <= 5; ++c) files.push_back(out.parent_path() / ClassIconPath(c));
  files.push_back(out.parent_path() / kKmzLegendPath);
}

// A KMZ carries its own icons: a web icon has no place in it.
const FormOption* const kOptions[] = {&kLabelsOption, &kTimeOption, &kIconsBesideOption};

}  // namespace

const MapFormRow kKmzForm = {
    "kmz",
    {".kmz", ""},
    "KML zipped with its icons and legend; above 5,000 points a regionated quadtree under tiles/, "
    "highest doses on top",
    Write,
    Make,
    WriteKmzCells,
    MakeGrid,
    Companions,
    kOptions};

std::unique_ptr<SurveyMap> MakeKmzChangeMap(const std::filesystem::path& out,
                                            const MapOptions& options,
                                            const ChangeRequest& change) {
  return std::make_unique<KmzChangeMap>(out, options, change);
}

}  // namespace dosemap
