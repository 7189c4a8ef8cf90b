#ifndef DOSEMAP_SURVEY_PRIVACY_H_
#define DOSEMAP_SURVEY_PRIVACY_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "dose/geodesy.h"

namespace dosemap {

// A place the user keeps off every map: a circle or a latitude/longitude box. Edges belong to it.
struct PrivacyZone {
  bool circle = true;
  double latitude = 0, longitude = 0, radius_m = 0;  // a circle
  double south = 0, west = 0, north = 0, east = 0;   // a box; west > east crosses the antimeridian

  // 180 and -180 are one meridian: an edge on either covers points written with the other.
  bool Contains(double lat, double lon) const;
};

// "LAT,LON,RADIUS_M" as a circle; the radius is finite and above 0. Throws SurveyError (kBadZone)
// saying why a text is no circle, without echoing it: a zone is the user's own.
PrivacyZone ParseCircleZone(std::string_view text);
// "S,W,N,E" as a box. W > E crosses the antimeridian; such a box may not span 180 degrees of
// longitude or more (it is more likely W and E swapped). Throws as ParseCircleZone does.
PrivacyZone ParseBoxZone(std::string_view text);

// Reads a zone file: one zone a line, a circle (three numbers) or a box (four); "#" starts a
// comment; blank lines and a UTF-8 byte order mark are skipped. Appends to zones. Throws
// SurveyError: kCannotReadZones for a file that can't be read (a folder, a link to nothing),
// kBadZone for a line that is no zone ("FILE: line N: not a zone (why)", never the zone itself).
void ReadPrivacyFile(const std::string& path, std::vector<PrivacyZone>& zones);

// True when the point lies in any zone.
bool InAnyZone(const std::vector<PrivacyZone>& zones, double latitude, double longitude);

// True when the straight line between two points could pass through a zone, so that a route drawn
// between them would show a way through it. Generous: it takes a margin of some metres, and a
// line longer than 100 km or across the antimeridian counts as crossing whenever a zone is set.
bool LineMayCrossAnyZone(const std::vector<PrivacyZone>& zones, double lat1, double lon1,
                         double lat2, double lon2);

// True when some reading of the numbers in text could place it in a zone: any two of its numbers
// (a decimal comma joining two digit runs makes one more), each read as decimal degrees or as
// DDMM.MMMM, in either order and with either sign. For records that could not be read cleanly:
// when in doubt, a record is private. Cost grows with the numbers near a zone, not with all pairs.
bool MayLieInAnyZone(const std::vector<PrivacyZone>& zones, std::string_view text);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_PRIVACY_H_
