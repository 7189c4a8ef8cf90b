#ifndef DOSEMAP_MAPS_REPORT_ASSETS_H_
#define DOSEMAP_MAPS_REPORT_ASSETS_H_

#include <string_view>

namespace dosemap {

// The texts of Leaflet's script and style sheet and of Chart.js, as Debian ships them. They
// live as long as the program.
std::string_view LeafletJs();
std::string_view LeafletCss();
std::string_view ChartJs();

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_REPORT_ASSETS_H_
