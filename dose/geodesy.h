#ifndef DOSEMAP_DOSE_GEODESY_H_
#define DOSEMAP_DOSE_GEODESY_H_

namespace dosemap {

// The Earth's mean radius, for distances and the privacy circles.
inline constexpr double kEarthRadiusMetres = 6371008.8;
inline constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180;

// Great-circle distance in metres on a sphere of the Earth's mean radius.
double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2);

// The cosine of a latitude in degrees, as GreatCircleMetres works it out.
double CosLatitude(double latitude);

// GreatCircleMetres with both latitudes' CosLatitude given (the same distance to the last bit):
// going from point to point, each point's cosine is worked out once.
double GreatCircleMetres(double latitude1, double longitude1, double cos_latitude1,
                         double latitude2, double longitude2, double cos_latitude2);

// A bound that GreatCircleMetres never exceeds, without its trigonometry: the way along the
// meridian and then along the parallel, each taken as long as on the equator, with room for
// rounding. For telling cheaply that two points are near.
inline double GreatCircleMetresAtMost(double latitude1, double longitude1, double latitude2,
                                      double longitude2) {
  const double dphi = latitude2 - latitude1, dlambda = longitude2 - longitude1;
  return ((dphi < 0 ? -dphi : dphi) + (dlambda < 0 ? -dlambda : dlambda)) *
             (kRadiansPerDegree * kEarthRadiusMetres * (1 + 1e-9)) +
         1e-6;
}

}  // namespace dosemap

#endif  // DOSEMAP_DOSE_GEODESY_H_
