// The GPX form: a track a log, a track point a measurement.
#include <memory>

#include "common/xml_text.h"
#include "dose/dose_scale.h"
#include "maps/map_text.h"
#include "survey/civil_time.h"

namespace dosemap {
namespace {

// GPX 1.1: a track a log, a track point a measurement with its elevation and time; dose, cpm and
// class as extensions in our own namespace.
class GpxWriter : public FormWriter {
 public:
  explicit GpxWriter(ByteSink& sink) : file_(sink) {
    file_ << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
             "<gpx version=\"1.1\" creator=\"dosemap\" xmlns=\"http://www.topografix.com/GPX/1/1\" "
             "xmlns:dosemap=\""
          << kGpxNamespace << "\">\n";
  }
  void BeginLog(int, const std::string& name) override {
    EndTrack();
    file_ << "<trk><name>" << XmlEscaped(XmlSafe(name)) << "</name><trkseg>\n";
    in_track_ = true;
  }
  void Add(const Measurement& m, int dose_class) override {
    std::string& p = point_;
    p.assign("<trkpt lat=\"");
    AppendNumber(p, m.latitude);
    p += "\" lon=\"";
    AppendNumber(p, m.longitude);
    p += "\">";
    if (m.has_altitude) {
      p += "<ele>";
      AppendNumber(p, m.altitude);
      p += "</ele>";
    }
    p += "<time>";
    AppendIsoTime(p, m.time, m.utc);
    p += "</time><extensions><dosemap:dose_usvh>";
    AppendNumber(p, m.dose_usvh);
    p += "</dosemap:dose_usvh>";
    if (m.dose_sigma_usvh == m.dose_sigma_usvh) {
      p += "<dosemap:dose_sigma_usvh>";
      AppendNumber(p, m.dose_sigma_usvh);
      p += "</dosemap:dose_sigma_usvh>";
    }
    if (m.has_cpm) {
      p += "<dosemap:cpm>";
      AppendNumber(p, m.cpm);
      p += "</dosemap:cpm>";
    }
    p += "<dosemap:class>";
    p += static_cast<char>('0' + dose_class);
    p += "</dosemap:class></extensions></trkpt>\n";
    file_ << p;
  }
  void Finish(const DriveStatistics&) override {
    EndTrack();
    file_ << "</gpx>\n";
  }

 private:
  void EndTrack() {
    if (in_track_) file_ << "</trkseg></trk>\n";
    in_track_ = false;
  }

  ByteSink& file_;
  bool in_track_ = false;
  std::string point_;
};

}  // namespace

const MapFormRow kGpxForm = {"gpx",
                             {".gpx", ""},
                             "GPX 1.1, a track a log; dose, cpm and class as extensions",
                             WriteWith<GpxWriter>,
                             MakeStaged<kGpxForm>,
                             nullptr,  // a track has no cells
                             nullptr};

}  // namespace dosemap
