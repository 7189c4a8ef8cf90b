#ifndef DOSEMAP_SURVEY_PRIVACY_H_
#define DOSEMAP_SURVEY_PRIVACY_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dosemap {

// Great-circle distance in metres on a sphere of the Earth's mean radius (6371.0088 km).
double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2);

// A place the user keeps off every map: a circle or a latitude/longitude box. Edges belong to it.
struct PrivacyZone {
  bool circle = true;
  double latitude = 0, longitude = 0, radius_m = 0;  // a circle
  double south = 0, west = 0, north = 0, east = 0;   // a box; west > east crosses the antimeridian

  bool Contains(double lat, double lon) const;
};

// "LAT,LON,RADIUS_M" as a circle, or nothing (with *error saying why).
std::optional<PrivacyZone> ParseCircleZone(std::string_view text, std::string* error);
// "S,W,N,E" as a box, or nothing (with *error saying why).
std::optional<PrivacyZone> ParseBoxZone(std::string_view text, std::string* error);

// Reads a zone file: one zone a line, a circle (three numbers) or a box (four); "#" starts a
// comment; blank lines are skipped. Appends to zones; false with *error ("FILE: line N: ...")
// for a file that can't be read or a line that is no zone. Zone values are never quoted.
bool ReadPrivacyFile(const std::string& path, std::vector<PrivacyZone>& zones, std::string* error);

// True when the point lies in any zone.
bool InAnyZone(const std::vector<PrivacyZone>& zones, double latitude, double longitude);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_PRIVACY_H_
