#include "survey/privacy.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "survey/readers.h"

namespace dosemap {
namespace {

// The comma-separated numbers of text; false unless there are exactly count of them.
bool Numbers(std::string_view text, std::size_t count, double* out) {
  std::vector<std::string_view> fields;
  SplitFields(text, ',', false, fields);
  if (fields.size() != count) return false;
  for (std::size_t i = 0; i < count; ++i) {
    const std::optional<double> number = NumberIn(fields[i]);
    if (!number) return false;
    out[i] = *number;
  }
  return true;
}

bool ValidLatitude(double x) { return x >= -90 && x <= 90; }
bool ValidLongitude(double x) { return x >= -180 && x <= 180; }

}  // namespace

bool PrivacyZone::Contains(double lat, double lon) const {
  if (circle) return GreatCircleMetres(latitude, longitude, lat, lon) <= radius_m;
  if (lat < south || lat > north) return false;
  const auto within = [this](double x) {
    return west <= east ? (x >= west && x <= east) : (x >= west || x <= east);
  };
  return within(lon) || (lon == 180 && within(-180)) || (lon == -180 && within(180));
}

PrivacyZone ParseCircleZone(std::string_view text) {
  double v[3];
  const char* why = nullptr;
  if (!Numbers(text, 3, v)) {
    why = "a circle is LAT,LON,RADIUS_M";
  } else if (!ValidLatitude(v[0]) || !ValidLongitude(v[1])) {
    why = "a circle's centre must lie within ±90 and ±180";
  } else if (!(v[2] > 0)) {
    why = "a circle's radius must be above 0";
  }
  if (why != nullptr) throw SurveyError(SurveyErrorKind::kBadZone, why);
  PrivacyZone zone;
  zone.latitude = v[0], zone.longitude = v[1], zone.radius_m = v[2];
  return zone;
}

PrivacyZone ParseBoxZone(std::string_view text) {
  double v[4];
  const char* why = nullptr;
  if (!Numbers(text, 4, v)) {
    why = "a box is S,W,N,E";
  } else if (!ValidLatitude(v[0]) || !ValidLatitude(v[2]) || !ValidLongitude(v[1]) ||
             !ValidLongitude(v[3])) {
    why = "a box's edges must lie within ±90 and ±180";
  } else if (v[0] > v[2]) {
    why = "a box's south edge must not lie north of its north edge";
  } else if (v[1] > v[3] && v[3] - v[1] + 360 >= 180) {
    // W > E crosses the antimeridian; so wide a box is most likely W and E swapped.
    why =
        "a box whose west edge lies east of its east edge crosses the antimeridian, and must "
        "then span less than 180 degrees of longitude";
  }
  if (why != nullptr) throw SurveyError(SurveyErrorKind::kBadZone, why);
  PrivacyZone zone;
  zone.circle = false;
  zone.south = v[0], zone.west = v[1], zone.north = v[2], zone.east = v[3];
  return zone;
}

void ReadPrivacyFile(const std::string& path, std::vector<PrivacyZone>& zones) {
  std::error_code ignored;
  std::ifstream in(path, std::ios::binary);
  if (!in || std::filesystem::is_directory(path, ignored))
    throw SurveyError(SurveyErrorKind::kCannotReadZones, path + ": cannot open");
  std::string line;
  long number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string_view text = line;
    if (number == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    text = text.substr(0, text.find('#'));
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) continue;
    text = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    const std::size_t commas = static_cast<std::size_t>(std::count(text.begin(), text.end(), ','));
    try {
      zones.push_back(commas == 3 ? ParseBoxZone(text) : ParseCircleZone(text));
    } catch (const SurveyError& error) {
      // The zone itself is not echoed: it is the user's own.
      throw SurveyError(SurveyErrorKind::kBadZone, path + ": line " + std::to_string(number) +
                                                       ": not a zone (" + error.what() + ")");
    }
  }
  if (in.bad()) throw SurveyError(SurveyErrorKind::kCannotReadZones, path + ": cannot read");
}

bool InAnyZone(const std::vector<PrivacyZone>& zones, double latitude, double longitude) {
  for (const PrivacyZone& zone : zones) {
    if (zone.Contains(latitude, longitude)) return true;
  }
  return false;
}

namespace {

constexpr double kMetresPerDegree = 111320;

// The distance from (0, 0) to the segment a-b of a plane, in its units.
double DistanceToSegment(double ax, double ay, double bx, double by) {
  const double dx = bx - ax, dy = by - ay, length2 = dx * dx + dy * dy;
  double t = length2 > 0 ? -(ax * dx + ay * dy) / length2 : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(ax + t * dx, ay + t * dy);
}

// True when the segment meets the box [west, east] x [south, north] of the plane (Liang-Barsky).
bool SegmentMeetsBox(double x1, double y1, double x2, double y2, double west, double east,
                     double south, double north) {
  double t0 = 0, t1 = 1;
  const double dx = x2 - x1, dy = y2 - y1;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {x1 - west, east - x1, y1 - south, north - y1};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

}  // namespace

bool LineMayCrossAnyZone(const std::vector<PrivacyZone>& zones, double lat1, double lon1,
                         double lat2, double lon2) {
  if (zones.empty()) return false;
  if (std::abs(lon2 - lon1) > 180 || (GreatCircleMetresAtMost(lat1, lon1, lat2, lon2) > 100000 &&
                                      GreatCircleMetres(lat1, lon1, lat2, lon2) > 100000))
    return true;
  constexpr double kMarginMetres = 20;
  const double rad = 3.14159265358979323846 / 180;
  for (const PrivacyZone& zone : zones) {
    if (zone.circle) {
      // A plane around the centre; over 100 km its scale errs by far less than the margin's share.
      const double scale = kMetresPerDegree * std::cos(zone.latitude * rad);
      const auto east = [&](double lon) {
        double d = lon - zone.longitude;
        if (d > 180) d -= 360;
        if (d < -180) d += 360;
        return d * scale;
      };
      const double distance =
          DistanceToSegment(east(lon1), (lat1 - zone.latitude) * kMetresPerDegree, east(lon2),
                            (lat2 - zone.latitude) * kMetresPerDegree);
      if (distance <= zone.radius_m * 1.01 + kMarginMetres) return true;
      continue;
    }
    const double margin = kMarginMetres / kMetresPerDegree;
    const double margin_lon =
        margin /
        std::max(
            0.01,
            std::cos(std::min(89.9, std::max(std::abs(zone.south), std::abs(zone.north))) * rad));
    const double south = zone.south - margin, north = zone.north + margin;
    // A box across the antimeridian is its two halves; the line itself does not cross it.
    const double halves[2][2] = {{zone.west, zone.west <= zone.east ? zone.east : 180},
                                 {-180, zone.east}};
    for (int h = 0; h < (zone.west <= zone.east ? 1 : 2); ++h) {
      if (SegmentMeetsBox(lon1, lat1, lon2, lat2, halves[h][0] - margin_lon,
                          halves[h][1] + margin_lon, south, north))
        return true;
    }
  }
  return false;
}

namespace {

// One reading of one number of a text; readings of the same number share `number`.
struct Reading {
  double value;
  int number;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

void AddReadings(std::string_view digits, int number, std::vector<Reading>& readings) {
  double value = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  if (error != std::errc() || !std::isfinite(value)) return;
  for (const double sign : {1.0, -1.0}) readings.push_back({sign * value, number});
  // DDMM.MMMM: what stands before the two minute digits is degrees.
  const double degrees = std::floor(value / 100), minutes = value - degrees * 100;
  if (minutes < 60) {
    for (const double sign : {1.0, -1.0})
      readings.push_back({sign * (degrees + minutes / 60), number});
  }
}

// Every reading of the numbers of text: digit runs with an optional fraction after a point, and
// two digit runs joined by one comma read as one number with a decimal comma.
std::vector<Reading> ReadingsOf(std::string_view text) {
  struct Run {
    std::size_t begin, end;
    bool fraction;
  };
  std::vector<Run> runs;
  for (std::size_t i = 0; i < text.size();) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    const std::size_t begin = i;
    while (i < text.size() && IsDigit(text[i])) ++i;
    bool fraction = false;
    if (i + 1 < text.size() && text[i] == '.' && IsDigit(text[i + 1])) {
      fraction = true;
      for (++i; i < text.size() && IsDigit(text[i]);) ++i;
    }
    runs.push_back({begin, i, fraction});
  }
  std::vector<Reading> readings;
  int number = 0;
  for (const Run& run : runs)
    AddReadings(text.substr(run.begin, run.end - run.begin), number++, readings);
  std::string joined;
  for (std::size_t k = 0; k + 1 < runs.size(); ++k) {
    const Run &a = runs[k], &b = runs[k + 1];
    if (a.fraction || b.begin != a.end + 1 || text[a.end] != ',') continue;
    joined.assign(text.substr(a.begin, a.end - a.begin)).append(".");
    const std::size_t fraction_end = b.fraction ? text.find('.', b.begin) : b.end;
    joined.append(text.substr(b.begin, fraction_end - b.begin));
    AddReadings(joined, number++, readings);
  }
  return readings;
}

// Above this many pairs near one zone, the record is taken as private without looking further.
constexpr std::size_t kMaxPairsChecked = 1 << 20;

}  // namespace

bool MayLieInAnyZone(const std::vector<PrivacyZone>& zones, std::string_view text) {
  if (zones.empty()) return false;
  const std::vector<Reading> readings = ReadingsOf(text);
  std::vector<Reading> latitudes, longitudes;
  for (const PrivacyZone& zone : zones) {
    // A band of latitudes and one of longitudes that hold the whole zone, a little widened.
    double south = zone.south, north = zone.north, half_width = 180, centre = 0;
    if (zone.circle) {
      const double radians = zone.radius_m / kEarthRadiusMetres;
      const double degrees = radians / kRadiansPerDegree * (1 + 1e-9) + 1e-9;
      south = zone.latitude - degrees, north = zone.latitude + degrees;
      const double spread = std::sin(radians) / std::cos(zone.latitude * kRadiansPerDegree);
      centre = zone.longitude;
      if (north < 90 && south > -90 && radians < 1.5 && spread < 1)
        half_width = std::asin(spread) / kRadiansPerDegree * (1 + 1e-9) + 1e-9;
    } else if (zone.west <= zone.east) {
      centre = (zone.west + zone.east) / 2, half_width = (zone.east - zone.west) / 2 + 1e-9;
    } else {
      centre = (zone.west + zone.east + 360) / 2,
      half_width = (zone.east - zone.west + 360) / 2 + 1e-9;
    }
    latitudes.clear(), longitudes.clear();
    for (const Reading& r : readings) {
      if (r.value >= south && r.value <= north && r.value >= -90 && r.value <= 90)
        latitudes.push_back(r);
      if (r.value >= -180 && r.value <= 180 &&
          (half_width >= 180 || std::abs(std::remainder(r.value - centre, 360.0)) <= half_width))
        longitudes.push_back(r);
    }
    if (latitudes.empty() || longitudes.empty()) continue;
    if (latitudes.size() * longitudes.size() > kMaxPairsChecked) return true;
    for (const Reading& latitude : latitudes) {
      for (const Reading& longitude : longitudes) {
        if (latitude.number != longitude.number && zone.Contains(latitude.value, longitude.value))
          return true;
      }
    }
  }
  return false;
}

}  // namespace dosemap
