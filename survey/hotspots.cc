#include "survey/hotspots.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <nlohmann/json.hpp>
#include <numeric>
#include <thread>

#include "dose/geodesy.h"
#include "survey/civil_time.h"
#include "survey/statistics.h"

namespace dosemap {
namespace {

// The local background is looked for within this distance of a hotspot's centre.
constexpr double kLocalMetres = 1000;
constexpr double kMetresPerDegree = kEarthRadiusMetres * kRadiansPerDegree;

// Degrees to 1e-7, rounded half away from 0 (a latitude or longitude fits in 32 bits).
std::int32_t E7(double degrees) {
  return static_cast<std::int32_t>(degrees * 1e7 + (degrees < 0 ? -0.5 : 0.5));
}

// A dose's bits, in the order of the doses.
std::uint64_t OrderKey(double dose) {
  const auto bits = std::bit_cast<std::uint64_t>(dose);
  return (bits >> 63) != 0 ? ~bits : bits | (std::uint64_t{1} << 63);
}

// A point on the unit sphere, where straight-line (chord) distances order as great-circle ones.
struct Point3 {
  double x = 0, y = 0, z = 0;
};

Point3 OnSphere(double latitude, double longitude) {
  const double phi = latitude * kRadiansPerDegree, lambda = longitude * kRadiansPerDegree;
  return {std::cos(phi) * std::cos(lambda), std::cos(phi) * std::sin(lambda), std::sin(phi)};
}

// The chord on the unit sphere of an arc of metres.
double ChordOf(double metres) {
  return 2 * std::sin(std::min(metres / kEarthRadiusMetres / 2, std::acos(-1.0) / 2));
}

// Cubes of side `side` over the unit sphere, keyed by their three indices.
struct CubeKey {
  std::int64_t x, y, z;
  bool operator==(const CubeKey&) const = default;
};
CubeKey CubeOf(const Point3& p, double side) {
  return {static_cast<std::int64_t>(std::floor(p.x / side)),
          static_cast<std::int64_t>(std::floor(p.y / side)),
          static_cast<std::int64_t>(std::floor(p.z / side))};
}

struct UnionFind {
  explicit UnionFind(std::size_t n) : parent(n) { std::iota(parent.begin(), parent.end(), 0); }
  std::uint32_t Find(std::uint32_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  }
  void Join(std::uint32_t a, std::uint32_t b) {
    a = Find(a), b = Find(b);
    if (a != b) parent[std::max(a, b)] = std::min(a, b);
  }
  std::vector<std::uint32_t> parent;
};

double Median(std::vector<double>& values) {
  const std::size_t n = values.size(), mid = n / 2;
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid), values.end());
  const double upper = values[mid];
  if (n % 2 == 1) return upper;
  return (*std::max_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(mid)) +
          upper) /
         2;
}

}  // namespace

std::string HotspotFigure(double x, const char* field) {
  if (!std::isfinite(x)) return "null";
  char text[64];
  // Rounded as text, then written as the shortest text of the rounded double.
  const auto fixed = [&](int decimals) {
    char* end = std::to_chars(text, text + sizeof text, x, std::chars_format::fixed, decimals).ptr;
    double back = 0;
    std::from_chars(text, end, back);
    return ShortestNumber(back);
  };
  if (std::strcmp(field, "radius_m") == 0) return fixed(1);
  if (std::strcmp(field, "mean_usvh") == 0 || std::strcmp(field, "ratio") == 0) {
    char* end = std::to_chars(text, text + sizeof text, x, std::chars_format::general, 4).ptr;
    double back = 0;
    std::from_chars(text, end, back);
    return ShortestNumber(back);
  }
  if (std::strcmp(field, "latitude") == 0 || std::strcmp(field, "longitude") == 0 ||
      std::strcmp(field, "peak_latitude") == 0 || std::strcmp(field, "peak_longitude") == 0)
    return fixed(7);
  return ShortestNumber(x);
}

std::string HotspotJson(const Hotspot& s) {
  const auto figure = [](double x, const char* field) { return HotspotFigure(x, field); };
  std::string j = "{\"rank\":" + std::to_string(s.rank);
  j += ",\"dose_usvh\":" + figure(s.dose_usvh, "dose_usvh");
  j += ",\"time\":\"" + IsoTime(s.time, s.utc) + "\"";
  j += ",\"peak_latitude\":" + figure(s.peak_latitude, "peak_latitude");
  j += ",\"peak_longitude\":" + figure(s.peak_longitude, "peak_longitude");
  // A file name may hold any byte: bytes that aren't UTF-8 become U+FFFD.
  j += ",\"source\":" +
       nlohmann::json(s.source).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  j += ",\"latitude\":" + figure(s.latitude, "latitude");
  j += ",\"longitude\":" + figure(s.longitude, "longitude");
  j += ",\"count\":" + std::to_string(s.count);
  j += ",\"radius_m\":" + figure(s.radius_m, "radius_m");
  j += ",\"mean_usvh\":" + figure(s.mean_usvh, "mean_usvh");
  j += ",\"local_background_usvh\":" + figure(s.local_background_usvh, "local_background_usvh");
  j += ",\"ratio\":" + figure(s.ratio, "ratio") + "}";
  return j;
}

std::string HotspotsJson(const HotspotResult& result) {
  std::string json = "[";
  for (const Hotspot& spot : result.hotspots) {
    if (json.size() > 1) json += ',';
    json += HotspotJson(spot);
  }
  return json + "]";
}

void HotspotFinder::PutStep(std::int64_t delta) {
  if (step_end_ - step_at_ < 10) {  // a varint takes 10 bytes at most
    if (!step_blocks_.empty())
      step_used_.back() = kStepBlock - static_cast<std::size_t>(step_end_ - step_at_);
    step_blocks_.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(kStepBlock));
    step_used_.push_back(0);
    step_at_ = step_blocks_.back().get(), step_end_ = step_at_ + kStepBlock;
  }
  std::uint64_t zigzag =
      (static_cast<std::uint64_t>(delta) << 1) ^ static_cast<std::uint64_t>(delta >> 63);
  while (zigzag >= 0x80) {
    *step_at_++ = static_cast<std::uint8_t>(zigzag | 0x80);
    zigzag >>= 7;
  }
  *step_at_++ = static_cast<std::uint8_t>(zigzag);
}

// Reads the steps back in the order they were put.
class HotspotFinder::StepReader {
 public:
  explicit StepReader(const HotspotFinder& finder) : finder_(finder) {}
  std::int64_t Next() {
    while (at_ == end_) {
      const std::uint8_t* block = finder_.step_blocks_[block_].get();
      const bool last = block_ + 1 == finder_.step_blocks_.size();
      at_ = block, end_ = last ? finder_.step_at_ : block + finder_.step_used_[block_];
      ++block_;
    }
    std::uint64_t zigzag = 0;
    for (int shift = 0;; shift += 7) {
      const std::uint8_t byte = *at_++;
      zigzag |= static_cast<std::uint64_t>(byte & 0x7F) << shift;
      if ((byte & 0x80) == 0) break;
    }
    return static_cast<std::int64_t>(zigzag >> 1) ^ -static_cast<std::int64_t>(zigzag & 1);
  }

 private:
  const HotspotFinder& finder_;
  std::size_t block_ = 0;
  const std::uint8_t* at_ = nullptr;
  const std::uint8_t* end_ = nullptr;
};

void HotspotFinder::BeginLog(int log, const std::string& name) {
  if (names_.size() <= static_cast<std::size_t>(log))
    names_.resize(static_cast<std::size_t>(log) + 1);
  names_[static_cast<std::size_t>(log)] = name;
  log_ = log;
}

void HotspotFinder::Add(const Measurement& m, int) {
  if (count_ % kChunk == 0)
    chunks_.push_back(std::unique_ptr<Chunk>(new Chunk));  // not zeroed: every entry is set
  if (segments_.empty() || segments_.back().log != log_ || segments_.back().utc != m.utc)
    segments_.push_back({count_, log_, m.utc});
  Chunk& chunk = *chunks_.back();
  const std::size_t at = count_ % kChunk;
  chunk.latitude_e7[at] = E7(m.latitude);
  chunk.longitude_e7[at] = E7(m.longitude);
  chunk.dose[at] = m.dose_usvh;
  chunk.sigma[at] = static_cast<float>(m.dose_sigma_usvh);
  PutStep(m.time - last_time_);
  PutStep(m.line - last_line_);
  last_time_ = m.time, last_line_ = m.line;
  ++count_;
}

std::size_t HotspotFinder::bytes() const {
  return chunks_.size() * sizeof(Chunk) + step_blocks_.size() * kStepBlock +
         segments_.capacity() * sizeof(Segment);
}

// The k-th smallest dose (from 0), found a 16-bit digit of its key at a time: four passes over
// the doses and no copy of them.
double HotspotFinder::KthDose(std::size_t k) const {
  std::vector<std::size_t> counts(1 << 16);
  std::uint64_t prefix = 0, mask = 0;
  for (int shift = 48; shift >= 0; shift -= 16) {
    std::fill(counts.begin(), counts.end(), 0);
    for (std::size_t c = 0; c < chunks_.size(); ++c) {
      const double* dose = chunks_[c]->dose.data();
      const std::size_t n = std::min(kChunk, count_ - c * kChunk);
      for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t key = OrderKey(dose[i]);
        if ((key & mask) == prefix) ++counts[(key >> shift) & 0xFFFF];
      }
    }
    std::size_t digit = 0;
    while (k >= counts[digit]) k -= counts[digit++];
    prefix |= static_cast<std::uint64_t>(digit) << shift;
    mask |= std::uint64_t{0xFFFF} << shift;
  }
  const std::uint64_t bits = (prefix >> 63) != 0 ? prefix & ~(std::uint64_t{1} << 63) : ~prefix;
  return std::bit_cast<double>(bits);
}

HotspotResult HotspotFinder::Find() const {
  HotspotResult result;
  if (count_ == 0) return result;
  const double upper = KthDose(count_ / 2);
  double b = upper;
  if (count_ % 2 == 0) {
    // The middle value below: the largest dose under the upper one, unless it is one of equals.
    std::size_t under = 0;
    double below = -std::numeric_limits<double>::infinity();
    for (std::size_t c = 0; c < chunks_.size(); ++c) {
      const double* dose = chunks_[c]->dose.data();
      const std::size_t n = std::min(kChunk, count_ - c * kChunk);
      for (std::size_t i = 0; i < n; ++i) {
        const bool less = dose[i] < upper;  // without a branch: half the doses go either way
        under += less;
        below = std::max(below, less ? dose[i] : below);
      }
    }
    b = ((under == count_ / 2 ? below : upper) + upper) / 2;
  }
  result.background_usvh = b;

  // The hot readings: well above the background, and by three times their counting uncertainty.
  struct Hot {
    std::uint32_t entry;
    Point3 point;
  };
  std::vector<Hot> hot;
  for (std::size_t i = 0; i < count_; ++i) {
    const Chunk& chunk = *chunks_[i / kChunk];
    const std::size_t at = i % kChunk;
    const double dose = chunk.dose[at];
    const double sigma = chunk.sigma[at];
    if (!(dose >= options_.factor * b && dose > b)) continue;
    if (sigma == sigma && !(dose - b >= 3 * sigma)) continue;
    hot.push_back({static_cast<std::uint32_t>(i), OnSphere(Latitude(i), Longitude(i))});
  }
  if (hot.size() < 2) return result;

  // Single linkage within join_m. Cubes of a side whose diagonal is the join's chord: the
  // readings of one cube are joined at once, and a neighbour's lie at most two cubes away. The
  // readings are sorted by their cube; for each of the 25 columns (x, y) around a cube, a cursor
  // that only moves forward finds the neighbours in that column.
  const double join_chord = ChordOf(options_.join_m);
  const double side = join_chord / std::sqrt(3.0) * (1 - 1e-9);
  struct Placed {
    CubeKey cube;
    std::uint32_t hot;
  };
  std::vector<Placed> placed(hot.size());
  for (std::uint32_t i = 0; i < hot.size(); ++i) placed[i] = {CubeOf(hot[i].point, side), i};
  const auto before = [](const CubeKey& a, const CubeKey& b) {
    return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
  };
  std::sort(placed.begin(), placed.end(),
            [&](const Placed& a, const Placed& b) { return before(a.cube, b.cube); });
  struct Cube {
    CubeKey key;
    std::uint32_t begin, end;  // its readings in placed
  };
  std::vector<Cube> cubes;
  for (std::uint32_t i = 0; i < placed.size(); ++i) {
    if (cubes.empty() || !(cubes.back().key == placed[i].cube))
      cubes.push_back({placed[i].cube, i, i});
    cubes.back().end = i + 1;
  }
  UnionFind sets(hot.size());
  for (const Cube& cube : cubes) {
    for (std::uint32_t i = cube.begin; i < cube.end; ++i)
      sets.Join(placed[cube.begin].hot, placed[i].hot);
  }
  const auto near = [&](const Hot& a, const Hot& b) {
    const double dx = a.point.x - b.point.x, dy = a.point.y - b.point.y, dz = a.point.z - b.point.z;
    const double chord2 = dx * dx + dy * dy + dz * dz;
    // The chords decide but near the limit, where the great-circle distance does.
    if (chord2 > join_chord * join_chord * (1 + 1e-6)) return false;
    if (chord2 < join_chord * join_chord * (1 - 1e-6)) return true;
    return GreatCircleMetres(Latitude(a.entry), Longitude(a.entry), Latitude(b.entry),
                             Longitude(b.entry)) <= options_.join_m;
  };
  std::array<std::size_t, 25> cursor{};
  for (std::size_t c = 0; c < cubes.size(); ++c) {
    const Cube& cube = cubes[c];
    for (int column = 0; column < 25; ++column) {
      const std::int64_t x = cube.key.x + column / 5 - 2, y = cube.key.y + column % 5 - 2;
      const CubeKey low{x, y, cube.key.z - 2}, high{x, y, cube.key.z + 2};
      std::size_t& at = cursor[static_cast<std::size_t>(column)];
      while (at < cubes.size() && before(cubes[at].key, low)) ++at;
      for (std::size_t o = std::max(at, c + 1); o < cubes.size() && !before(high, cubes[o].key);
           ++o) {
        const Cube& other = cubes[o];  // each pair of cubes once: the later one here
        if (sets.Find(placed[cube.begin].hot) == sets.Find(placed[other.begin].hot)) continue;
        bool joined = false;
        for (std::uint32_t i = cube.begin; i < cube.end && !joined; ++i) {
          for (std::uint32_t j = other.begin; j < other.end; ++j) {
            if (near(hot[placed[i].hot], hot[placed[j].hot])) {
              sets.Join(placed[i].hot, placed[j].hot);
              joined = true;
              break;
            }
          }
        }
      }
    }
  }
  std::vector<Placed>().swap(placed);

  // The hotspots: sets of at least two readings, each a run of entries in order.
  std::vector<std::pair<std::uint32_t, std::uint32_t>> by_set(hot.size());  // set, entry
  for (std::uint32_t i = 0; i < hot.size(); ++i) by_set[i] = {sets.Find(i), hot[i].entry};
  std::vector<Hot>().swap(hot);
  std::sort(by_set.begin(), by_set.end());
  struct Found {
    Hotspot spot;
    std::size_t begin = 0, end = 0;  // its entries in by_set
    std::size_t peak_entry = 0;
    double inner_m = 0;  // the local background is read beyond this distance
    bool flat = false;   // far enough from the poles for flat distances within 1 km
    std::int32_t latitude_e7 = 0, longitude_e7 = 0;
    double metres_per_degree_east = 0;
    std::vector<double> around;
  };
  std::vector<Found> found;
  // The peaks' candidates (every member at its hotspot's highest dose), for their times.
  std::vector<std::uint32_t> highest;
  for (std::size_t begin = 0, end = 0; begin < by_set.size(); begin = end) {
    while (end < by_set.size() && by_set[end].first == by_set[begin].first) ++end;
    if (end - begin < 2) continue;
    Found f;
    f.begin = begin, f.end = end;
    Hotspot& s = f.spot;
    double weight = 0, latitude = 0, longitude = 0, peak = -std::numeric_limits<double>::infinity();
    for (std::size_t i = begin; i < end; ++i) {
      const std::size_t e = by_set[i].second;
      const double dose = Dose(e);
      peak = std::max(peak, dose);
      weight += dose, latitude += dose * Latitude(e), longitude += dose * Longitude(e);
    }
    s.count = static_cast<std::int64_t>(end - begin);
    s.mean_usvh = weight / static_cast<double>(s.count);
    if (!(weight > 0)) {  // doses of 0 weigh nothing: the plain mean
      weight = 0, latitude = 0, longitude = 0;
      for (std::size_t i = begin; i < end; ++i) {
        weight += 1, latitude += Latitude(by_set[i].second),
            longitude += Longitude(by_set[i].second);
      }
    }
    s.latitude = latitude / weight, s.longitude = longitude / weight;
    for (std::size_t i = begin; i < end; ++i) {
      const std::size_t e = by_set[i].second;
      s.radius_m = std::max(s.radius_m,
                            GreatCircleMetres(s.latitude, s.longitude, Latitude(e), Longitude(e)));
      if (Dose(e) == peak) highest.push_back(by_set[i].second);
    }
    s.dose_usvh = peak;
    f.inner_m = s.radius_m + options_.join_m;
    f.flat = std::abs(s.latitude) < 80;
    f.latitude_e7 = E7(s.latitude), f.longitude_e7 = E7(s.longitude);
    f.metres_per_degree_east = kMetresPerDegree * std::cos(s.latitude * kRadiansPerDegree);
    found.push_back(std::move(f));
  }
  // The candidates' times and lines, from the steps.
  std::sort(highest.begin(), highest.end());
  std::vector<std::pair<std::int64_t, long>> when(highest.size());
  {
    StepReader steps(*this);
    std::int64_t time = 0;
    long line = 0;
    for (std::size_t i = 0, next = 0; i < count_ && next < highest.size(); ++i) {
      time += steps.Next();
      line += static_cast<long>(steps.Next());
      if (highest[next] == i) when[next++] = {time, line};
    }
  }
  for (Found& f : found) {
    Hotspot& s = f.spot;
    bool any = false;
    long line = 0;
    for (std::size_t i = f.begin; i < f.end; ++i) {
      const std::uint32_t e = by_set[i].second;
      if (Dose(e) != s.dose_usvh) continue;
      const std::size_t k = static_cast<std::size_t>(
          std::lower_bound(highest.begin(), highest.end(), e) - highest.begin());
      if (any && when[k].first >= s.time) continue;  // of equal doses, the earliest
      any = true;
      s.time = when[k].first, line = when[k].second;
      f.peak_entry = e;
    }
    s.peak_latitude = Latitude(f.peak_entry), s.peak_longitude = Longitude(f.peak_entry);
    const auto segment =
        std::upper_bound(segments_.begin(), segments_.end(), f.peak_entry,
                         [](std::size_t entry, const Segment& seg) { return entry < seg.first; });
    const Segment& seg = *std::prev(segment);
    s.utc = seg.utc;
    s.source = names_[static_cast<std::size_t>(seg.log)] + ":" + std::to_string(line);
  }

  // The local backgrounds: one pass over every reading, each looked up by its cell of 0.01
  // degree in the rows of cells that name the hotspots within reach. No sine for most readings.
  constexpr std::int64_t kCell = 100000;  // 0.01 degree in 1e-7
  constexpr std::int64_t kColumns = 36000, kRows = 18000;
  const auto row_of = [](std::int64_t latitude_e7) {
    return std::clamp<std::int64_t>((latitude_e7 + 900000000) / kCell, 0, kRows - 1);
  };
  const auto column_of = [](std::int64_t longitude_e7) {
    const std::int64_t shifted = longitude_e7 + 1800000000;  // floor division, then wrapped
    const std::int64_t column = shifted >= 0 ? shifted / kCell : -((-shifted + kCell - 1) / kCell);
    return (column % kColumns + kColumns) % kColumns;
  };
  std::vector<std::vector<std::pair<std::uint32_t, std::uint32_t>>> rows;  // column, hotspot
  // A degree of latitude is 111.2 km; of longitude that times the cosine of the latitude.
  const double reach_degrees = kLocalMetres / (kEarthRadiusMetres * kRadiansPerDegree) * 1.001;
  for (std::uint32_t h = 0; h < found.size(); ++h) {
    if (found[h].inner_m >= kLocalMetres) continue;
    if (rows.empty()) rows.resize(kRows);
    const double latitude = found[h].spot.latitude, longitude = found[h].spot.longitude;
    const double widest =
        std::cos(std::min(90.0, std::abs(latitude) + reach_degrees) * kRadiansPerDegree);
    const double across = widest * 360 > reach_degrees ? reach_degrees / widest : 360;
    const std::int64_t columns = std::min<std::int64_t>(
        kColumns - 1, static_cast<std::int64_t>(std::ceil(across * 1e7 / kCell)) + 1);
    const std::int64_t first_column =
        column_of(E7(longitude) - static_cast<std::int64_t>(across * 1e7));
    for (std::int64_t row = row_of(E7(latitude - reach_degrees));
         row <= row_of(E7(latitude + reach_degrees)); ++row) {
      for (std::int64_t c = 0; c <= columns; ++c)
        rows[static_cast<std::size_t>(row)].push_back(
            {static_cast<std::uint32_t>((first_column + c) % kColumns), h});
    }
  }
  for (auto& row : rows) std::sort(row.begin(), row.end());
  // The readings from one to another, each hotspot's doses around it put in around.
  const auto look_around = [&](std::size_t from, std::size_t to,
                               std::vector<std::vector<double>>& around) {
    for (std::size_t i = from; i < to; ++i) {
      const Chunk& chunk = *chunks_[i / kChunk];
      const std::size_t at = i % kChunk;
      const auto& row = rows[static_cast<std::size_t>(row_of(chunk.latitude_e7[at]))];
      if (row.empty()) continue;
      const auto column = static_cast<std::uint32_t>(column_of(chunk.longitude_e7[at]));
      const auto [first, last] = std::equal_range(
          row.begin(), row.end(), std::pair<std::uint32_t, std::uint32_t>{column, 0},
          [](const auto& a, const auto& b) { return a.first < b.first; });
      for (auto it = first; it != last; ++it) {
        const Found& f = found[it->second];
        // Within 1 km and away from the poles, a flat distance is the great-circle one to far
        // better than 1 %: only a reading near the ring's edges takes the sines.
        if (f.flat) {
          double dlon = (chunk.longitude_e7[at] - f.longitude_e7) * 1e-7;
          dlon -= 360 * std::round(dlon / 360);
          const double dx = dlon * f.metres_per_degree_east;
          const double dy = (chunk.latitude_e7[at] - f.latitude_e7) * 1e-7 * kMetresPerDegree;
          const double flat = dx * dx + dy * dy;
          if (flat > kLocalMetres * kLocalMetres * 1.0201 || flat < f.inner_m * f.inner_m * 0.9801)
            continue;
          if (flat > f.inner_m * f.inner_m * 1.0201 &&
              flat < kLocalMetres * kLocalMetres * 0.9801) {
            around[it->second].push_back(chunk.dose[at]);
            continue;
          }
        }
        const double d =
            GreatCircleMetres(f.spot.latitude, f.spot.longitude, Latitude(i), Longitude(i));
        if (d > f.inner_m && d <= kLocalMetres) around[it->second].push_back(chunk.dose[at]);
      }
    }
  };
  if (!rows.empty()) {
    // Both halves of the readings at once when the run may use two threads: a median takes the
    // doses in any order.
    std::vector<std::vector<double>> first(found.size()), second;
    if (options_.threads > 1 && count_ >= kChunk) {
      second.resize(found.size());
      std::thread other([&] { look_around(count_ / 2, count_, second); });
      look_around(0, count_ / 2, first);
      other.join();
    } else {
      look_around(0, count_, first);
    }
    for (std::size_t h = 0; h < found.size(); ++h) {
      found[h].around = std::move(first[h]);
      if (!second.empty())
        found[h].around.insert(found[h].around.end(), second[h].begin(), second[h].end());
    }
  }
  for (Found& f : found) {
    f.spot.local_background_usvh = f.around.empty() ? b : Median(f.around);
    f.spot.ratio = f.spot.dose_usvh / f.spot.local_background_usvh;
    std::vector<double>().swap(f.around);
  }

  std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
    if (a.spot.dose_usvh != b.spot.dose_usvh) return a.spot.dose_usvh > b.spot.dose_usvh;
    if (a.spot.time != b.spot.time) return a.spot.time < b.spot.time;
    return a.peak_entry < b.peak_entry;
  });
  for (std::size_t i = 0; i < found.size(); ++i) {
    found[i].spot.rank = static_cast<int>(i) + 1;
    result.hotspots.push_back(std::move(found[i].spot));
  }
  return result;
}

}  // namespace dosemap
