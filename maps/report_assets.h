#ifndef DOSEMAP_MAPS_REPORT_ASSETS_H_
#define DOSEMAP_MAPS_REPORT_ASSETS_H_

#include <string_view>

namespace dosemap {

// The texts of Leaflet's script and style sheet and of Chart.js, as Debian ships them. They
// live as long as the program.
std::string_view LeafletJs();
std::string_view LeafletCss();
std::string_view ChartJs();

// The report's own style sheet and scripts (maps/report/): what both pages share (the reader's
// language, times in the viewer's zone), the page of points and the page of cells. Each ends in
// a newline.
std::string_view ReportCss();
std::string_view ReportCommonJs();
std::string_view ReportPointsJs();
std::string_view ReportCellsJs();
std::string_view ReportChangeJs();

// The viewer beside a .pmtiles map: its page (with @TITLE@ and @ARCHIVE@ to fill in), its script
// (MapLibre GL JS and the PMTiles reader bundled with ours) and MapLibre's style sheet.
std::string_view ViewerHtml();
std::string_view ViewerJs();
std::string_view ViewerCss();

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_REPORT_ASSETS_H_
