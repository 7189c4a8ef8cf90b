#include "dose/geodesy.h"

#include <algorithm>
#include <cmath>

namespace dosemap {

double GreatCircleMetres(double latitude1, double longitude1, double latitude2, double longitude2) {
  const double phi1 = latitude1 * kRadiansPerDegree, phi2 = latitude2 * kRadiansPerDegree;
  const double dphi = phi2 - phi1, dlambda = (longitude2 - longitude1) * kRadiansPerDegree;
  const double a = std::sin(dphi / 2) * std::sin(dphi / 2) +
                   std::cos(phi1) * std::cos(phi2) * std::sin(dlambda / 2) * std::sin(dlambda / 2);
  return 2 * kEarthRadiusMetres * std::asin(std::min(1.0, std::sqrt(a)));
}

}  // namespace dosemap
