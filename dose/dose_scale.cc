#include "dose/dose_scale.h"

#include <algorithm>
#include <limits>

namespace dosemap {
namespace {

// ColorBrewer 2.0, RdYlBu with 5 classes (#2c7bb6 #abd9e9 #ffffbf #fdae61 #d7191c), marked
// colour-blind safe there. The lower classes are a little see-through and the icons smaller than
// the window's (a drive's points lie close), so hotspots stand out.
constexpr ClassStyle kClassStyles[kDoseClassCount] = {
    {"d0b67b2c", "0.5", "#2c7bb6", 3.2},  {"d0e9d9ab", "0.6", "#abd9e9", 4},
    {"e0bfffff", "0.75", "#ffffbf", 4.8}, {"ff61aefd", "0.95", "#fdae61", 6},
    {"ff1c19d7", "1.25", "#d7191c", 8},
};

constexpr ClassStyle kLegacyClassStyles[kDoseClassCount] = {
    {"a000ff00", "0.8", "#00ff00", 3.2}, {"a000ff00", "1", "#00ff00", 4},
    {"a000ffff", "1.2", "#ffff00", 4.8}, {"f0000fff", "1.5", "#ff0f00", 6},
    {"f0000fff", "2", "#ff0f00", 8},
};

}  // namespace

DoseClass DoseScale::ClassOf(double dose) const {
  if (dose < kGreenBelow) return DoseClass::k1;
  if (dose < yellow) return DoseClass::k2;
  if (dose < red) return DoseClass::k3;
  return dose < kLargeRedFrom ? DoseClass::k4 : DoseClass::k5;
}

bool DoseScale::Bounds(DoseClass dose_class, double* lower, double* upper) const {
  const double infinity = std::numeric_limits<double>::infinity();
  const double steps[kDoseClassCount + 1] = {-infinity, kGreenBelow,   yellow,
                                             red,       kLargeRedFrom, infinity};
  const int c = static_cast<int>(dose_class);
  *lower = *std::max_element(steps, steps + c);
  *upper = steps[c];
  return *lower < *upper;
}

const ClassStyle& ClassStyleOf(DoseClass dose_class) {
  return kClassStyles[static_cast<int>(dose_class) - 1];
}

const ClassStyle& LegacyClassStyleOf(int dose_class) { return kLegacyClassStyles[dose_class - 1]; }

bool InOwnLogRectangle(double latitude, double longitude) {
  const LatLonBox& box = kOwnLogRectangle;
  return latitude >= box.south && latitude <= box.north && longitude >= box.west &&
         longitude <= box.east;
}

}  // namespace dosemap
