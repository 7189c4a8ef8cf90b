#include "maps/legend_image.h"

#include <cairo.h>

#include <cmath>
#include <memory>
#include <stdexcept>

#include "common/number_text.h"
#include "survey/change.h"

namespace dosemap {
namespace {

struct Rgb {
  double r, g, b;
};

// "#rrggbb" as cairo's fractions.
Rgb RgbOf(const char* html) {
  const auto channel = [html](int at) {
    const auto digit = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    return (digit(html[at]) * 16 + digit(html[at + 1])) / 255.0;
  };
  return {channel(1), channel(3), channel(5)};
}

using Surface = std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)>;
using Context = std::unique_ptr<cairo_t, decltype(&cairo_destroy)>;

cairo_status_t AppendBytes(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

std::string Png(cairo_surface_t* surface) {
  cairo_surface_flush(surface);
  std::string png;
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS ||
      cairo_surface_write_to_png_stream(surface, AppendBytes, &png) != CAIRO_STATUS_SUCCESS) {
    throw std::runtime_error("cannot draw the legend: " +
                             std::string(cairo_status_to_string(cairo_surface_status(surface))));
  }
  return png;
}

// A class's square, centred at (x, y), side in pixels, with a dark outline of the given opacity so
// the pale classes show on a pale legend. The map's icons go without: a drive's icons overlap, and
// their outlines would add up to a dark mass.
void Square(cairo_t* cr, double x, double y, double side, int dose_class, double outline) {
  const Rgb c = RgbOf(ClassStyleOf(dose_class).html_colour);
  cairo_rectangle(cr, x - side / 2, y - side / 2, side, side);
  cairo_set_source_rgb(cr, c.r, c.g, c.b);
  cairo_fill_preserve(cr);
  cairo_set_source_rgba(cr, 0.13, 0.13, 0.13, outline);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

// A legend's pale ground, its outline and its title, then the font of its rows.
void Frame(cairo_t* cr, int width, int height, const char* title) {
  cairo_set_source_rgba(cr, 1, 1, 1, 0.9);
  cairo_paint(cr);
  cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
  cairo_set_line_width(cr, 1);
  cairo_rectangle(cr, 0.5, 0.5, width - 1, height - 1);
  cairo_stroke(cr);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
  cairo_set_font_size(cr, 13);
  cairo_set_source_rgb(cr, 0.1, 0.1, 0.1);
  cairo_move_to(cr, 10, 20);
  cairo_show_text(cr, title);
  cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 12);
}

}  // namespace

std::string ClassRangeText(const DoseScale& scale, int dose_class) {
  double lower, upper;
  if (!scale.Bounds(static_cast<DoseClass>(dose_class), &lower, &upper)) return "none";
  if (std::isinf(lower)) return "below " + StrictNumber(upper);
  if (std::isinf(upper)) return StrictNumber(lower) + " and above";
  return StrictNumber(lower) + " to below " + StrictNumber(upper);
}

std::string LegendPng(const DoseScale& scale) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kLegendWidth, kLegendHeight),
                  cairo_surface_destroy);
  Context cr(cairo_create(surface.get()), cairo_destroy);
  Frame(cr.get(), kLegendWidth, kLegendHeight, "dose rate, \xC2\xB5Sv/h");
  // The highest class on top, as a legend of a hotter-is-higher scale reads.
  for (int c = 5; c >= 1; --c) {
    const double y = 36 + (5 - c) * 24;
    const double side = 2 * ClassStyleOf(c).report_radius + 4;
    Square(cr.get(), 22, y, side, c, 1);
    cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
    cairo_move_to(cr.get(), 42, y + 4);
    cairo_show_text(cr.get(), ClassRangeText(scale, c).c_str());
  }
  return Png(surface.get());
}

const char* ChangeRangeText(int change_class) {
  static constexpr const char* kTexts[6] = {"no ratio (none before)",
                                            "\xE2\x88\x92"
                                            "0.5 and below (fell)",
                                            "\xE2\x88\x92"
                                            "0.5 to \xE2\x88\x92"
                                            "0.2",
                                            "within \xC2\xB1"
                                            "0.2",
                                            "0.2 to below 0.5",
                                            "0.5 and above (rose)"};
  return kTexts[change_class];
}

std::string ChangeLegendPng() {
  Surface surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, kChangeLegendWidth, kChangeLegendHeight),
      cairo_surface_destroy);
  Context cr(cairo_create(surface.get()), cairo_destroy);
  Frame(cr.get(), kChangeLegendWidth, kChangeLegendHeight, "excess over decay");
  for (int row = 0; row < 6; ++row) {
    const int c = 5 - row;  // the rise on top, no ratio last
    const double y = 36 + row * 24;
    const Rgb colour = RgbOf(kChangeColours[c]);
    cairo_rectangle(cr.get(), 22 - 7, y - 7, 14, 14);
    cairo_set_source_rgb(cr.get(), colour.r, colour.g, colour.b);
    cairo_fill_preserve(cr.get());
    cairo_set_source_rgba(cr.get(), 0.13, 0.13, 0.13, 1);
    cairo_set_line_width(cr.get(), 1.5);
    cairo_stroke(cr.get());
    cairo_set_source_rgb(cr.get(), 0.1, 0.1, 0.1);
    cairo_move_to(cr.get(), 42, y + 4);
    cairo_show_text(cr.get(), ChangeRangeText(c));
  }
  return Png(surface.get());
}

std::string ClassIconPng(int dose_class) {
  Surface surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 32, 32), cairo_surface_destroy);
  Context cr(cairo_create(surface.get()), cairo_destroy);
  Square(cr.get(), 16, 16, 28, dose_class, 0);
  return Png(surface.get());
}

std::string ClassIconPath(int dose_class) {
  return "files/class" + std::to_string(dose_class) + ".png";
}

}  // namespace dosemap

#if defined(__SANITIZE_ADDRESS__)
// cairo's text goes through fontconfig, which loses a few patterns of its own for good (about a
// kilobyte, once a process). LeakSanitizer is told so, and still reports every leak of ours.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
#endif
