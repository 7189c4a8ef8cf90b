#ifndef DOSEMAP_SURVEY_HOTSPOTS_H_
#define DOSEMAP_SURVEY_HOTSPOTS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "survey/measurement.h"
#include "survey/survey_run.h"

namespace dosemap {

struct HotspotOptions {
  bool enabled = true;  // false: --no-hotspots
  double factor = 2;    // a hot reading is at least this many times the run's background
  double join_m = 100;  // hot readings at most this far apart belong to one hotspot
  int threads = 2;      // the run's --threads: Find may use as many
};

// Readings well above the run's background, joined in space: the places a surveyor looks for.
struct Hotspot {
  int rank = 0;  // 1: the highest peak
  // The peak reading: the highest dose (of equal doses, the earliest).
  double dose_usvh = 0;
  std::int64_t time = 0;
  bool utc = true;
  double peak_latitude = 0, peak_longitude = 0;
  std::string source;  // "file:line"
  // The members' mean position weighted by their doses, and the farthest member from it.
  double latitude = 0, longitude = 0;
  double radius_m = 0;
  std::int64_t count = 0;
  double mean_usvh = 0;
  // The median dose of the kept readings around it, beyond its own reach (radius_m + join_m) and
  // within 1 km of its centre; the run's background when there are none.
  double local_background_usvh = 0;
  double ratio = 0;  // peak / local background (infinite over a background of 0)
};

struct HotspotResult {
  // The median dose of the run's kept readings; NaN when none was kept.
  double background_usvh = std::numeric_limits<double>::quiet_NaN();
  std::vector<Hotspot> hotspots;  // by rank
};

// A hotspot's fields as one JSON object, in the order of kHotspotFields: a hotspots file's
// GeoJSON properties and the summary's.
std::string HotspotJson(const Hotspot& spot);
// Every hotspot of result, as a JSON array.
std::string HotspotsJson(const HotspotResult& result);
// The fields' names, in the order every output writes them.
inline constexpr const char* kHotspotFields[] = {
    "rank",     "dose_usvh", "time",  "peak_latitude", "peak_longitude", "source",
    "latitude", "longitude", "count", "radius_m",      "mean_usvh",      "local_background_usvh",
    "ratio"};
// A derived figure as the outputs write it: a position to 1e-7 degrees (1 cm), a radius to 0.1 m,
// a mean or ratio to four significant digits.
std::string HotspotFigure(double x, const char* field);

// Finds the hotspots of a run among its kept measurements (a sink of the run: privacy zones,
// rejected and outside-the-period records never reach it). The background is known only when the
// run is over, so each measurement is kept in 20 bytes (position to 1 cm, dose, its uncertainty),
// plus its time and line as small steps from the one before (about 2 bytes).
class HotspotFinder : public MeasurementSink {
 public:
  explicit HotspotFinder(const HotspotOptions& options) : options_(options) {}
  void BeginLog(int log, const std::string& name) override;
  void Add(const Measurement& m, int dose_class) override;
  // Every hotspot of the measurements added, ranked.
  HotspotResult Find() const;
  // The memory the measurements take, for the bound the README states.
  std::size_t bytes() const;

 private:
  static constexpr std::size_t kChunk = 1 << 12;
  struct Chunk {
    std::array<std::int32_t, kChunk> latitude_e7, longitude_e7;
    std::array<double, kChunk> dose;
    std::array<float, kChunk> sigma;
  };
  // Entries from first on come from log, all of them with times in UTC or all not.
  struct Segment {
    std::size_t first = 0;
    int log = 0;
    bool utc = true;
  };
  double Dose(std::size_t i) const { return chunks_[i / kChunk]->dose[i % kChunk]; }
  double Latitude(std::size_t i) const {
    return chunks_[i / kChunk]->latitude_e7[i % kChunk] / 1e7;
  }
  double Longitude(std::size_t i) const {
    return chunks_[i / kChunk]->longitude_e7[i % kChunk] / 1e7;
  }
  double KthDose(std::size_t k) const;

  HotspotOptions options_;
  std::vector<std::string> names_;
  std::vector<std::unique_ptr<Chunk>> chunks_;
  std::size_t count_ = 0;
  std::vector<Segment> segments_;
  int log_ = 0;
  // Zigzag varints of each entry's time and line less the entry's before, in blocks.
  static constexpr std::size_t kStepBlock = 1 << 16;
  std::vector<std::unique_ptr<std::uint8_t[]>> step_blocks_;
  std::vector<std::size_t> step_used_;  // the bytes used of each block
  std::uint8_t* step_at_ = nullptr;
  std::uint8_t* step_end_ = nullptr;
  void PutStep(std::int64_t delta);
  class StepReader;
  std::int64_t last_time_ = 0;
  long last_line_ = 0;
};

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_HOTSPOTS_H_
