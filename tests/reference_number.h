#ifndef DOSEMAP_TESTS_REFERENCE_NUMBER_H_
#define DOSEMAP_TESTS_REFERENCE_NUMBER_H_

#include <charconv>

namespace dosemap::testing {

// The reference for NumberText: x correctly rounded to 15 significant digits by the library's
// fixed-precision conversion, read back.
inline double RoundedTo15(double x) {
  char text[64];
  auto end = std::to_chars(text, text + sizeof text, x, std::chars_format::scientific, 14).ptr;
  double rounded = 0;
  std::from_chars(text, end, rounded);
  return rounded;
}

}  // namespace dosemap::testing

#endif  // DOSEMAP_TESTS_REFERENCE_NUMBER_H_
