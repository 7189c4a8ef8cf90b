#ifndef DOSEMAP_TESTS_REFERENCE_NUMBER_H_
#define DOSEMAP_TESTS_REFERENCE_NUMBER_H_

#include <charconv>
#include <cmath>
#include <limits>

namespace dosemap::testing {

// The reference for NumberText: x correctly rounded to 15 significant digits by the library's
// fixed-precision conversion, read back. The few doubles just below the largest one round up to
// 1.79769313486232E+308, which is beyond the double range: for them it is an infinity.
inline double RoundedTo15(double x) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, x, std::chars_format::scientific, 14).ptr;
  double rounded = 0;
  if (std::from_chars(text, end, rounded).ec == std::errc::result_out_of_range) {
    return std::copysign(std::numeric_limits<double>::infinity(), x);
  }
  return rounded;
}

}  // namespace dosemap::testing

#endif  // DOSEMAP_TESTS_REFERENCE_NUMBER_H_
