#ifndef DOSEMAP_DOSE_DOSE_SCALE_H_
#define DOSEMAP_DOSE_DOSE_SCALE_H_

// The dose classes and how every map draws them: the one place both the window's map and the
// surveyor's maps take them from.

namespace dosemap {

// Five classes of dose; the higher, the larger the icon.
enum class DoseClass { k1 = 1, k2, k3, k4, k5 };
inline constexpr int kDoseClassCount = 5;

// The fixed bounds around the two thresholds: below 0.07 µSv/h is class 1, from 0.5 class 5.
inline constexpr double kGreenBelow = 0.07;
inline constexpr double kLargeRedFrom = 0.5;

// A map's thresholds in µSv/h. A dose is in the first class whose bound it lies below: 0.07,
// yellow, red, 0.5, and the rest.
struct DoseScale {
  double yellow = 0.11;
  double red = 0.19;

  DoseClass ClassOf(double dose) const;
  // The doses ClassOf puts in a class: [*lower, *upper), -infinity and +infinity for the open
  // ends. False when no dose falls in it (a threshold at or below an earlier bound).
  bool Bounds(DoseClass dose_class, double* lower, double* upper) const;
};

// How a map draws a class.
struct ClassStyle {
  const char* kml_colour;   // KML's aabbggrr
  const char* icon_scale;   // the KML icon's scale, as the maps write it
  const char* html_colour;  // #rrggbb, the same colour
  double report_radius;     // the report's circle, in pixels
};
// The surveyor's maps: five colours a reader with red-green colour blindness still tells apart
// (ColorBrewer's 5-class RdYlBu, blue for the lowest), the higher the larger.
const ClassStyle& ClassStyleOf(DoseClass dose_class);
inline const ClassStyle& ClassStyleOf(int dose_class) {
  return ClassStyleOf(static_cast<DoseClass>(dose_class));
}
// The window's own map, whose bytes stored files rely on: green, green, yellow, red, red.
const ClassStyle& LegacyClassStyleOf(int dose_class);

// A latitude/longitude box, edges included.
struct LatLonBox {
  double south, west, north, east;
};

// The fixed rectangle whose records the window's own log never maps (edges included).
inline constexpr LatLonBox kOwnLogRectangle = {35.346, 139.4875, 35.3465, 139.488};
bool InOwnLogRectangle(double latitude, double longitude);

}  // namespace dosemap

#endif  // DOSEMAP_DOSE_DOSE_SCALE_H_
