#include "survey/privacy.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "survey/readers.h"

namespace dosemap {
namespace {

constexpr double kEarthRadiusMetres = 6371008.8;
constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;

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

double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2) {
  const double phi1 = latitude1 * kRadiansPerDegree, phi2 = latitude2 * kRadiansPerDegree;
  const double dphi = phi2 - phi1, dlambda = (longitude2 - longitude1) * kRadiansPerDegree;
  const double a = std::sin(dphi / 2) * std::sin(dphi / 2) +
                   std::cos(phi1) * std::cos(phi2) * std::sin(dlambda / 2) * std::sin(dlambda / 2);
  return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(a)));
}

bool PrivacyZone::Contains(double lat, double lon) const {
  if (circle) return GreatCircleMetres(latitude, longitude, lat, lon) <= radius_m;
  if (lat < south || lat > north) return false;
  return west <= east ? (lon >= west && lon <= east) : (lon >= west || lon <= east);
}

std::optional<PrivacyZone> ParseCircleZone(std::string_view text, std::string* error) {
  double v[3];
  if (!Numbers(text, 3, v)) {
    *error = "a circle is LAT,LON,RADIUS_M";
  } else if (!ValidLatitude(v[0]) || !ValidLongitude(v[1])) {
    *error = "a circle's centre must lie within ±90 and ±180";
  } else if (!(v[2] >= 0)) {
    *error = "a circle's radius must not be negative";
  } else {
    PrivacyZone zone;
    zone.latitude = v[0], zone.longitude = v[1], zone.radius_m = v[2];
    return zone;
  }
  return std::nullopt;
}

std::optional<PrivacyZone> ParseBoxZone(std::string_view text, std::string* error) {
  double v[4];
  if (!Numbers(text, 4, v)) {
    *error = "a box is S,W,N,E";
  } else if (!ValidLatitude(v[0]) || !ValidLatitude(v[2]) || !ValidLongitude(v[1]) ||
             !ValidLongitude(v[3])) {
    *error = "a box's edges must lie within ±90 and ±180";
  } else if (v[0] > v[2]) {
    *error = "a box's south edge must not lie north of its north edge";
  } else {
    PrivacyZone zone;
    zone.circle = false;
    zone.south = v[0], zone.west = v[1], zone.north = v[2], zone.east = v[3];
    return zone;
  }
  return std::nullopt;
}

bool ReadPrivacyFile(const std::string& path, std::vector<PrivacyZone>& zones, std::string* error) {
  std::error_code ignored;
  std::ifstream in(path, std::ios::binary);
  if (!in || std::filesystem::is_directory(path, ignored)) {
    *error = path + ": cannot open";
    return false;
  }
  std::string line;
  long number = 0;
  while (std::getline(in, line)) {
    ++number;
    std::string_view text = line;
    text = text.substr(0, text.find('#'));
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) continue;
    text = text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
    std::string why;
    const std::size_t commas = static_cast<std::size_t>(std::count(text.begin(), text.end(), ','));
    const std::optional<PrivacyZone> zone =
        commas == 3 ? ParseBoxZone(text, &why) : ParseCircleZone(text, &why);
    if (!zone) {
      // The zone itself is not echoed: it is the user's own.
      *error = path + ": line " + std::to_string(number) + ": not a zone (" + why + ")";
      return false;
    }
    zones.push_back(*zone);
  }
  if (in.bad()) {
    *error = path + ": cannot read";
    return false;
  }
  return true;
}

bool InAnyZone(const std::vector<PrivacyZone>& zones, double latitude, double longitude) {
  for (const PrivacyZone& zone : zones) {
    if (zone.Contains(latitude, longitude)) return true;
  }
  return false;
}

}  // namespace dosemap
