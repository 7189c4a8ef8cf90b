// The KML forms of the path form: .kml, and .kmz with its regionated archive for long drives.
#include <stdlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <vector>

#include "dose/dose_scale.h"
#include "textfile/number_text.h"
#include "textfile/xml_text.h"
#include "maps/kmz.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"
#include "survey/privacy.h"
#include "textfile/file_error.h"

namespace dosemap {

// The five classes as shared styles "dose1".."dose5", their icon at href.
std::string KmlStyles(const std::string& icon) {
  const std::string href = XmlEscaped(XmlSafe(icon));
  std::string styles;
  for (int c = 1; c <= 5; ++c) {
    const ClassStyle& style = ClassStyleOf(c);
    styles += "<Style id=\"dose";
    styles += static_cast<char>('0' + c);
    styles += "\"><IconStyle><color>";
    styles += style.kml_colour;
    styles += "</color><scale>";
    styles += style.icon_scale;
    styles += "</scale><Icon><href>";
    styles += href;
    styles += "</href></Icon></IconStyle><LabelStyle><color>";
    styles += style.kml_colour;
    styles += "</color><scale>";
    styles += style.icon_scale;
    styles += "</scale></LabelStyle></Style>\n";
  }
  return styles;
}

// A placemark: the dose as its name, its time (for time sliders), its class's style, its figures
// as extended data. source: the log's escaped name and a colon.
void AppendPlacemark(std::string& p, const Measurement& m, int dose_class,
                     std::string_view source) {
  p += "<Placemark><name>";
  char label[32];  // the label beside the icon: three digits; the exact dose is in the data
  p.append(
      label,
      std::to_chars(label, label + sizeof label, m.dose_usvh, std::chars_format::general, 3).ptr);
  p += "</name><TimeStamp><when>";
  AppendIsoTime(p, m.time, m.utc);
  p += "</when></TimeStamp><styleUrl>#dose";
  p += static_cast<char>('0' + dose_class);
  p += "</styleUrl><ExtendedData><Data name=\"dose_usvh\"><value>";
  AppendNumber(p, m.dose_usvh);
  p += "</value></Data><Data name=\"cpm\"><value>";
  if (m.has_cpm) AppendNumber(p, m.cpm);
  p += "</value></Data><Data name=\"class\"><value>";
  p += static_cast<char>('0' + dose_class);
  p += "</value></Data><Data name=\"source\"><value>";
  p += source;
  AppendInteger(p, m.line);
  p += "</value></Data></ExtendedData><Point><coordinates>";
  AppendNumber(p, m.longitude);
  p += ',';
  AppendNumber(p, m.latitude);
  if (m.has_altitude) {
    p += ',';
    AppendNumber(p, m.altitude);
  }
  p += "</coordinates></Point></Placemark>\n";
}

std::string KmlSource(const std::string& log_name) { return XmlEscaped(XmlSafe(log_name)) + ":"; }

namespace {

// KML 2.2: the five classes as shared styles, a folder per log, a placemark per measurement, and
// a view on the whole extent.
class KmlDocument {
 public:
  KmlDocument(StagedFile& file, const std::string& name, const std::string& icon) : file_(file) {
    file_ << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(name))
          << "</name>\n<open>1</open>\n<LookAt><longitude>";
    // The view comes from the extent, known at the end: room is kept here and filled in then.
    longitude_at_ = file_.offset();
    file_ << kPlaceholder << "</longitude><latitude>";
    latitude_at_ = file_.offset();
    file_ << kPlaceholder
          << "</latitude><altitude>0</altitude><heading>0</heading><tilt>0</tilt><range>";
    range_at_ = file_.offset();
    file_ << kPlaceholder << "</range></LookAt>\n" << KmlStyles(icon);
  }
  void BeginLog(const std::string& name) {
    if (in_folder_) file_ << "</Folder>\n";
    file_ << "<Folder><name>" << XmlEscaped(XmlSafe(name)) << "</name>\n";
    in_folder_ = true;
    source_ = KmlSource(name);
  }
  void Add(const Measurement& m, int dose_class) {
    extent_.Add(m.latitude, m.longitude);
    placemark_.clear();
    AppendPlacemark(placemark_, m, dose_class, source_);
    file_ << placemark_;
  }
  void End() {
    if (in_folder_) file_ << "</Folder>\n";
    file_ << "</Document>\n</kml>\n";
    double longitude = 0, latitude = 0, range = 20000000;  // nothing kept: the whole Earth
    if (extent_.any) {
      const bool crosses = extent_.Crosses();
      const double west = crosses ? extent_.west360 : extent_.west;
      const double east = crosses ? extent_.east360 : extent_.east;
      longitude = (west + east) / 2;
      if (longitude > 180) longitude -= 360;
      latitude = (extent_.south + extent_.north) / 2;
      const double diagonal = GreatCircleMetres(extent_.south, west, extent_.north, east);
      range = std::max(500.0, std::round(diagonal * 1.5));
    }
    Fill(longitude_at_, longitude);
    Fill(latitude_at_, latitude);
    Fill(range_at_, range);
  }

 private:
  static constexpr std::string_view kPlaceholder = "                        ";  // 24 blanks

  void Fill(std::int64_t at, double x) {
    std::string text;
    AppendNumber(text, x);
    text.insert(0, kPlaceholder.size() - text.size(), ' ');  // XML takes blanks around a number
    file_.Patch(at, text);
  }

  StagedFile& file_;
  Extent extent_;
  std::int64_t longitude_at_ = 0, latitude_at_ = 0, range_at_ = 0;
  bool in_folder_ = false;
  std::string source_;
  std::string placemark_;
};

// The icon beside a .kml: "<stem>_files/square.png", and its path relative to the map.
std::string IconFolderName(const std::filesystem::path& out) {
  return out.stem().string() + "_files";
}

// Refuses a path that is a symbolic link: nothing is written through one.
void RefuseLink(const std::filesystem::path& path) {
  std::error_code error;
  if (std::filesystem::is_symlink(path, error))
    throw FileError(FileErrorKind::kCannotOpen,
                    path.string() + ": is a symbolic link; nothing is written through one");
}

class KmlMap : public SurveyMap {
 public:
  KmlMap(const std::filesystem::path& out, const MapOptions& options)
      : out_(out),
        own_icon_(options.icon_url.empty()),
        folder_(out.parent_path() / IconFolderName(out)),
        file_(CheckedTarget(out, folder_, own_icon_)),
        document_(file_, out.stem().string(),
                  own_icon_ ? IconFolderName(out) + "/square.png" : options.icon_url) {}
  void BeginLog(int, const std::string& name) override { document_.BeginLog(name); }
  void Add(const Measurement& m, int dose_class) override { document_.Add(m, dose_class); }
  void Finish() override {
    document_.End();
    if (own_icon_) StageIcon();
    file_.Close();
  }
  void Commit() override {
    if (icon_) icon_->Commit();
    file_.Commit();
  }

 private:
  // The icon's folder and the icon in it are checked before anything is written.
  static const std::filesystem::path& CheckedTarget(const std::filesystem::path& out,
                                                    const std::filesystem::path& folder,
                                                    bool own_icon) {
    if (own_icon) {
      RefuseLink(folder);
      RefuseLink(folder / "square.png");
    }
    return out;
  }

  void StageIcon() {
    std::error_code error;
    std::filesystem::create_directory(folder_, error);
    if (error)
      throw FileError(FileErrorKind::kWriteFailed,
                      folder_.string() + ": cannot create: " + error.message());
    RefuseLink(folder_);
    icon_ = std::make_unique<StagedFile>(folder_ / "square.png");
    *icon_ << SquareIconPng();
    icon_->Close();
  }

  std::filesystem::path out_;
  bool own_icon_;
  std::filesystem::path folder_;
  StagedFile file_;
  KmlDocument document_;
  std::unique_ptr<StagedFile> icon_;
};

// A measurement as the KMZ keeps it until the end: 56 bytes, with 4 more for its place in the
// order of the quadtree. Every number is kept exactly, as the other forms write it.
struct StoredMeasurement {
  double latitude, longitude, dose_usvh, altitude, cpm;
  std::int64_t time;
  std::uint32_t line;
  std::uint16_t log;
  std::uint8_t flags;  // kUtc | kHasAltitude | kHasCpm
  std::uint8_t dose_class;
  static constexpr std::uint8_t kUtc = 1, kHasAltitude = 2, kHasCpm = 4;
};
static_assert(sizeof(StoredMeasurement) == 56);

// Measurements in blocks, so that a long drive never needs one huge block or a copy to grow.
class MeasurementStore {
 public:
  void Add(const Measurement& m, int dose_class) {
    if (size_ % kBlock == 0) blocks_.push_back(std::make_unique<StoredMeasurement[]>(kBlock));
    StoredMeasurement& s = blocks_.back()[size_ % kBlock];
    s = {m.latitude,
         m.longitude,
         m.dose_usvh,
         m.altitude,
         m.cpm,
         m.time,
         static_cast<std::uint32_t>(m.line),
         static_cast<std::uint16_t>(m.log),
         static_cast<std::uint8_t>((m.utc ? StoredMeasurement::kUtc : 0) |
                                   (m.has_altitude ? StoredMeasurement::kHasAltitude : 0) |
                                   (m.has_cpm ? StoredMeasurement::kHasCpm : 0)),
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
    m.altitude = s.altitude, m.cpm = s.cpm, m.time = s.time, m.line = s.line,
    m.log = s.log;
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

// A KMZ. Up to kSingleDocumentLimit measurements: one document, the icon inside the archive.
// Above that a regionated archive: doc.kml leads into a quadtree of documents linked by
// NetworkLinks with Regions, each holding at most kPerDocument placemarks. A measurement is placed
// once, in the coarsest document whose selection takes it; the selection ranks by dose, so the
// highest doses show from the top down and no hotspot is thinned away. A quarter smaller than
// about a metre is not divided further: what it still holds goes to documents of its own region,
// by rank.
class KmzMap : public SurveyMap {
 public:
  static constexpr std::size_t kSingleDocumentLimit = 5000;
  static constexpr std::size_t kPerDocument = 2000;

  explicit KmzMap(const std::filesystem::path& out) : out_(out), archive_(out) {}
  void BeginLog(int, const std::string& name) override { logs_.push_back(name); }
  void Add(const Measurement& m, int dose_class) override { store_.Add(m, dose_class); }
  void Finish() override {
    archive_.Seal();  // the packer writes the staging archive by its path
    try {
      if (store_.size() <= kSingleDocumentLimit) {
        WriteSingle();
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
  void Commit() override { archive_.Commit(); }

 private:
  void WriteSingle() {
    StagedFile file(std::filesystem::path(out_.string() + ".doc"));  // packed, then removed
    KmlDocument document(file, out_.stem().string(), kKmzIconPath);
    int log = -1;
    for (std::size_t i = 0; i < store_.size(); ++i) {
      const Measurement m = store_.At(i);
      while (log < m.log) document.BeginLog(logs_[++log]);
      document.Add(m, store_[i].dose_class);
    }
    while (log + 1 < static_cast<int>(logs_.size())) document.BeginLog(logs_[++log]);
    document.End();
    file.Flush();
    WriteKmz(archive_.staging(),
             {{"doc.kml", file.staging(), {}}, {kKmzIconPath, {}, SquareIconPng()}});
  }

  void WriteRegionated() {
    // The documents are written to a private folder beside the KMZ, then packed.
    std::string pattern = out_.string() + ".XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw FileError(FileErrorKind::kCannotOpen,
                      out_.string() + ": cannot create: " + std::strerror(errno));
    }
    folder_ = pattern;
    const StagingPath interrupt_removes(folder_, StagingKind::kFolder);
    try {
      std::vector<std::uint32_t> order(store_.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<std::uint32_t>(i);
      Box box{90, 180, -90, -180};
      for (std::size_t i = 0; i < store_.size(); ++i) {
        const StoredMeasurement& s = store_[i];
        box = {std::min(box.south, s.latitude), std::min(box.west, s.longitude),
               std::max(box.north, s.latitude), std::max(box.east, s.longitude)};
      }
      WriteNode(order.data(), order.data() + order.size(), Pad(box), 0, "doc.kml");
      std::vector<KmzEntry> entries;
      for (const std::string& name : documents_) entries.push_back({name, folder_ / name, {}});
      entries.push_back({kKmzIconPath, {}, SquareIconPng()});
      WriteKmz(archive_.staging(), entries, /*level=*/1);
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
    if (b.north - b.south < kSmallestQuarter) b.south -= kSmallestQuarter / 2, b.north += kSmallestQuarter / 2;
    if (b.east - b.west < kSmallestQuarter) b.west -= kSmallestQuarter / 2, b.east += kSmallestQuarter / 2;
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

  // Ranks [begin, end) so that its first kPerDocument (or fewer) are its highest doses, and
  // returns where they end.
  std::uint32_t* TakeHighest(std::uint32_t* begin, std::uint32_t* end) const {
    if (static_cast<std::size_t>(end - begin) <= kPerDocument) return end;
    std::uint32_t* const placed_end = begin + kPerDocument;
    std::nth_element(begin, placed_end, end, [this](std::uint32_t a, std::uint32_t b) {
      const double da = store_[a].dose_usvh, db = store_[b].dose_usvh;
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
          rest, end, [&](std::uint32_t i) { return store_[i].latitude >= middle_lat; });
      std::uint32_t* const ne_end = std::partition(
          rest, north_end, [&](std::uint32_t i) { return store_[i].longitude >= middle_lon; });
      std::uint32_t* const se_end = std::partition(
          north_end, end, [&](std::uint32_t i) { return store_[i].longitude >= middle_lon; });
      const Link quarters[] = {
          {rest, ne_end, {middle_lat, middle_lon, box.north, box.east}, prefix + "0.kml", true},
          {ne_end, north_end, {middle_lat, box.west, box.north, middle_lon}, prefix + "1.kml", true},
          {north_end, se_end, {box.south, middle_lon, middle_lat, box.east}, prefix + "2.kml", true},
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
  void WriteDocument(const std::uint32_t* begin, const std::uint32_t* end, const Box& box,
                     int depth, const std::string& name, const std::vector<Link>& links) {
    documents_.push_back(name);
    StagedFile file(folder_ / name);
    file << kKmlStart << "<Document>\n<name>" << XmlEscaped(XmlSafe(out_.stem().string()));
    if (depth > 0) file << " " << std::string_view(name).substr(0, name.size() - 4);
    file << "</name>\n";
    if (depth > 0) file << RegionOf(box, kMinLodPixels) << "\n";
    file << KmlStyles(kKmzIconPath);
    std::string text;
    int log = -1;
    std::string source;
    for (const std::uint32_t* i = begin; i < end; ++i) {
      const Measurement m = store_.At(*i);
      if (m.log != log) log = m.log, source = KmlSource(logs_[log]);
      text.clear();
      AppendPlacemark(text, m, store_[*i].dose_class, source);
      file << text;
    }
    for (const Link& link : links) {
      file << "<NetworkLink><name>" << link.name << "</name>" << RegionOf(link.box, kMinLodPixels)
           << "<Link><href>" << link.name
           << "</href><viewRefreshMode>onRegion</viewRefreshMode></Link></NetworkLink>\n";
    }
    file << "</Document>\n</kml>\n";
    file.Commit();
  }

  static constexpr int kMinLodPixels = 256;
  // About a metre of latitude: quarters smaller than this are not divided.
  static constexpr double kSmallestQuarter = 1e-5;

  std::filesystem::path out_;
  StagedFile archive_;
  std::vector<std::string> logs_;
  MeasurementStore store_;
  std::filesystem::path folder_;
  std::vector<std::string> documents_;
};

}  // namespace

std::unique_ptr<SurveyMap> MakeKmlMap(const std::filesystem::path& out, const MapOptions& options) {
  return std::make_unique<KmlMap>(out, options);
}

std::unique_ptr<SurveyMap> MakeKmzMap(const std::filesystem::path& out) {
  return std::make_unique<KmzMap>(out);
}

}  // namespace dosemap
