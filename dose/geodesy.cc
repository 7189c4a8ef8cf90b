#include "dose/geodesy.h"

#include <algorithm>
#include <cmath>

namespace dosemap {

double CosLatitude(double latitude) { return std::cos(latitude * kRadiansPerDegree); }

double GreatCircleMetres(double latitude1, double longitude1, double cos_latitude1,
                         double latitude2, double longitude2, double cos_latitude2) {
  const double dphi = latitude2 * kRadiansPerDegree - latitude1 * kRadiansPerDegree;
  const double half_dphi = std::sin(dphi / 2);
  const double half_dlambda = std::sin((longitude2 - longitude1) * kRadiansPerDegree / 2);
  const double a =
      half_dphi * half_dphi + cos_latitude1 * cos_latitude2 * half_dlambda * half_dlambda;
  return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(a)));
}

double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2) {
  return GreatCircleMetres(latitude1, longitude1, CosLatitude(latitude1), latitude2, longitude2,
                           CosLatitude(latitude2));
}

}  // namespace dosemap
