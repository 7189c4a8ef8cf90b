#ifndef DOSEMAP_MAPS_LEGEND_IMAGE_H_
#define DOSEMAP_MAPS_LEGEND_IMAGE_H_

// The pictures the KML forms carry: the legend a ScreenOverlay shows and the five pre-coloured
// class icons for readers that can't tint a white one. Drawn with cairo, encoded as PNG.
#include <string>

#include "dose/dose_scale.h"

namespace dosemap {

// The doses a class holds, as a legend says it: "below 0.07", "0.07 to below 0.11",
// "0.5 and above", or "none" for a class no dose falls in.
std::string ClassRangeText(const DoseScale& scale, int dose_class);

// The legend: a title, then each class's swatch (its colour, growing with the class) and the
// doses it holds. Throws std::runtime_error when cairo can't draw or encode it.
std::string LegendPng(const DoseScale& scale);
inline constexpr int kLegendWidth = 230, kLegendHeight = 152;

// The legend of a comparison (--compare): a title, then each change class's swatch and the
// excess it holds, the rise on top. Throws std::runtime_error when cairo can't draw or encode it.
std::string ChangeLegendPng();
inline constexpr int kChangeLegendWidth = 230, kChangeLegendHeight = 176;
// The excess a change class holds, as the legend says it ("within ±0.2").
const char* ChangeRangeText(int change_class);

// A class's square icon, 32 by 32 pixels, filled with its colour and outlined.
std::string ClassIconPng(int dose_class);

// Where a KMZ keeps its class icons and its legend, as its documents refer to them.
std::string ClassIconPath(int dose_class);
inline constexpr const char* kKmzLegendPath = "files/legend.png";

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_LEGEND_IMAGE_H_
