// Leaflet and Chart.js from Debian's packages, carried inside the program so that every report
// is one self-contained file, whatever is installed where it runs.
#include "maps/report_assets.h"

#define DOSEMAP_EMBED(name, path)       \
  asm(".section .rodata\n"              \
      ".global " #name                  \
      "_begin\n"                        \
      ".global " #name                  \
      "_end\n"                          \
      ".balign 16\n" #name              \
      "_begin:\n"                       \
      ".incbin \"" path "\"\n" #name    \
      "_end:\n"                         \
      ".previous\n");                   \
  extern "C" const char name##_begin[]; \
  extern "C" const char name##_end[];

DOSEMAP_EMBED(dosemap_leaflet_js, DOSEMAP_LEAFLET_JS)
DOSEMAP_EMBED(dosemap_leaflet_css, DOSEMAP_LEAFLET_CSS)
DOSEMAP_EMBED(dosemap_chart_js, DOSEMAP_CHART_JS)
DOSEMAP_EMBED(dosemap_report_css, DOSEMAP_REPORT_DIR "/report.css")
DOSEMAP_EMBED(dosemap_report_common_js, DOSEMAP_REPORT_DIR "/common.js")
DOSEMAP_EMBED(dosemap_report_points_js, DOSEMAP_REPORT_DIR "/points.js")
DOSEMAP_EMBED(dosemap_report_cells_js, DOSEMAP_REPORT_DIR "/cells.js")
DOSEMAP_EMBED(dosemap_report_change_js, DOSEMAP_REPORT_DIR "/change.js")
DOSEMAP_EMBED(dosemap_viewer_page, DOSEMAP_VIEWER_PAGE)
DOSEMAP_EMBED(dosemap_viewer_js, DOSEMAP_VIEWER_DIR "/viewer.js")
DOSEMAP_EMBED(dosemap_viewer_css, DOSEMAP_VIEWER_DIR "/maplibre-gl.css")

namespace dosemap {
namespace {

std::string_view Between(const char* begin, const char* end) {
  return {begin, static_cast<std::size_t>(end - begin)};
}

}  // namespace

std::string_view LeafletJs() { return Between(dosemap_leaflet_js_begin, dosemap_leaflet_js_end); }
std::string_view LeafletCss() {
  return Between(dosemap_leaflet_css_begin, dosemap_leaflet_css_end);
}
std::string_view ChartJs() { return Between(dosemap_chart_js_begin, dosemap_chart_js_end); }
std::string_view ReportCss() { return Between(dosemap_report_css_begin, dosemap_report_css_end); }
std::string_view ReportCommonJs() {
  return Between(dosemap_report_common_js_begin, dosemap_report_common_js_end);
}
std::string_view ReportPointsJs() {
  return Between(dosemap_report_points_js_begin, dosemap_report_points_js_end);
}
std::string_view ReportCellsJs() {
  return Between(dosemap_report_cells_js_begin, dosemap_report_cells_js_end);
}
std::string_view ReportChangeJs() {
  return Between(dosemap_report_change_js_begin, dosemap_report_change_js_end);
}

std::string_view ViewerHtml() {
  return Between(dosemap_viewer_page_begin, dosemap_viewer_page_end);
}
std::string_view ViewerJs() { return Between(dosemap_viewer_js_begin, dosemap_viewer_js_end); }
std::string_view ViewerCss() { return Between(dosemap_viewer_css_begin, dosemap_viewer_css_end); }

}  // namespace dosemap
