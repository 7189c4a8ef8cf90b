// How the KML forms look: the route's pieces, the class styles and the legend's picture.
#include <gtest/gtest.h>

#include <string>

#include "dose/dose_scale.h"
#include "maps/kml_document.h"
#include "maps/legend_image.h"

namespace dosemap {
namespace {

int Count(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++n;
  return n;
}

TEST(KmlRoute, ThinsClosePointsBreaksOnRequestAndKeepsPiecesBounded) {
  std::string out;
  KmlRoute route;
  // 0.0001 degrees of latitude is 11 m: every other point is too close to the vertex before.
  for (int i = 0; i <= 10; ++i) route.Add(35 + i * 0.0001, 139, out);
  EXPECT_EQ(out, "") << "nothing is written before the piece ends";
  route.Break(out);
  EXPECT_EQ(out,
            "<Placemark><styleUrl>#route</styleUrl><LineString><tessellate>1</tessellate>"
            "<coordinates>139,35 139,35.0002 139,35.0004 139,35.0006 139,35.0008 139,35.001"
            "</coordinates></LineString></Placemark>\n");
  // A lone point makes no line; the antimeridian ends a piece rather than crossing the world.
  out.clear();
  route.Add(-17, 179.9999, out);
  route.Break(out);
  route.Add(-17, 179.9999, out);
  route.Add(-17, -179.9999, out);
  route.Add(-17, -179.999, out);
  route.Break(out);
  EXPECT_EQ(out,
            "<Placemark><styleUrl>#route</styleUrl><LineString><tessellate>1</tessellate>"
            "<coordinates>-179.9999,-17 -179.999,-17</coordinates></LineString></Placemark>\n");
  // A long drive comes in pieces that join: each starts where the one before ended.
  out.clear();
  for (int i = 0; i < 10000; ++i) route.Add(0, i * 0.001, out);
  route.Break(out);
  EXPECT_EQ(Count(out, "<LineString>"), 3);
  EXPECT_EQ(Count(out, " 4.095,0</coordinates>"), 1);
  EXPECT_EQ(Count(out, "<coordinates>4.095,0 "), 1);
  EXPECT_EQ(Count(out, ",0"), 10000 + 2) << "every vertex once, and the two joints twice";
}

TEST(KmlStyles, LabelsAreOffUnlessAskedAndAKmzMapsEachClassOntoItsOwnIcon) {
  KmlLook look;
  look.icon = "a_files/square.png";
  const std::string plain = KmlStyles(look);
  EXPECT_EQ(Count(plain, "<LabelStyle><scale>0</scale></LabelStyle>"), 5);
  EXPECT_EQ(
      Count(plain, "<color>ff1c19d7</color><scale>1.25</scale><Icon><href>a_files/square.png"), 1);
  EXPECT_EQ(Count(plain, "<SimpleField type=\"double\" name=\"dose_usvh\">"), 1);
  EXPECT_EQ(Count(plain, "<SimpleField type=\"int\" name=\"class\">"), 1);
  look.labels = true;
  EXPECT_EQ(Count(KmlStyles(look), "<scale>0</scale>"), 0);
  look.labels = false;
  look.class_icons = true;
  const std::string kmz = KmlStyles(look);
  EXPECT_EQ(Count(kmz, "<StyleMap id=\"dose"), 5);
  // Normally the pre-coloured icon, untinted; highlighted, the tinted white one.
  EXPECT_EQ(
      Count(kmz, "<Style id=\"dose3n\"><IconStyle><scale>0.75</scale><Icon><href>files/class3.png"),
      1);
  EXPECT_EQ(Count(kmz, "<Style id=\"dose3h\"><IconStyle><color>e0bfffff</color>"), 1);
}

TEST(ClassStyles, FiveDistinctColoursWhileTheWindowsMapKeepsItsOwn) {
  for (int a = 1; a <= 5; ++a) {
    for (int b = a + 1; b <= 5; ++b) {
      EXPECT_STRNE(ClassStyleOf(a).html_colour, ClassStyleOf(b).html_colour) << a << " " << b;
      EXPECT_STRNE(ClassStyleOf(a).kml_colour, ClassStyleOf(b).kml_colour) << a << " " << b;
    }
    if (a > 1) {
      EXPECT_GT(ClassStyleOf(a).report_radius, ClassStyleOf(a - 1).report_radius);
    }
  }
  EXPECT_STREQ(LegacyClassStyleOf(1).kml_colour, "a000ff00");
  EXPECT_STREQ(LegacyClassStyleOf(5).kml_colour, "f0000fff");
}

TEST(Legend, SaysEachClassesRangeAndIsAPngOfItsSize) {
  const DoseScale scale{0.05, 0.3};
  EXPECT_EQ(ClassRangeText(scale, 1), "below 0.07");
  EXPECT_EQ(ClassRangeText(scale, 2), "none");
  EXPECT_EQ(ClassRangeText(scale, 3), "0.07 to below 0.3");
  EXPECT_EQ(ClassRangeText(scale, 5), "0.5 and above");
  const std::string png = LegendPng(scale);
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  const auto big_endian = [&png](std::size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24) |
           (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  EXPECT_EQ(big_endian(16), static_cast<unsigned>(kLegendWidth));
  EXPECT_EQ(big_endian(20), static_cast<unsigned>(kLegendHeight));
  EXPECT_NE(ClassIconPng(1), ClassIconPng(2));
}

}  // namespace
}  // namespace dosemap
