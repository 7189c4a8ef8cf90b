#ifndef DOSEMAP_DOSE_GEODESY_H_
#define DOSEMAP_DOSE_GEODESY_H_

namespace dosemap {

// The Earth's mean radius, for distances and the privacy circles.
inline constexpr double kEarthRadiusMetres = 6371008.8;
inline constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;

// Great-circle distance in metres on a sphere of the Earth's mean radius.
double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2);

}  // namespace dosemap

#endif  // DOSEMAP_DOSE_GEODESY_H_
