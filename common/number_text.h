#ifndef DOSEMAP_COMMON_NUMBER_TEXT_H_
#define DOSEMAP_COMMON_NUMBER_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace dosemap {

// Longest text FormatNumberText can produce ("-1.23456789012345E-308" and the like).
inline constexpr std::size_t kNumberTextMax = 32;

// Writes the NumberText of x to out (at least kNumberTextMax bytes) and returns its length.
// The form: "-" or a sign blank, the magnitude rounded to 15 significant digits, no zero before
// the point, no trailing zeros, "." as the point. Magnitudes of 1e15 and above or below 1e-4
// (after the rounding) switch to an exponent form such as " 1.5E+15" or " 2E-05". Infinity and
// NaN, which no input produces, are written " inf", "-inf" and " nan". Never depends on locale.
std::size_t FormatNumberText(double x, char* out);
std::string NumberText(double x);

// A number item's text (NumberText and one blank) formatted once, for a number that a line or a
// placemark writes more than once.
class NumberItemText {
 public:
  explicit NumberItemText(double x) : size_(FormatNumberText(x, text_)) { text_[size_++] = ' '; }
  std::string_view item() const { return {text_, size_}; }
  std::string_view number_text() const { return {text_, size_ - 1}; }

 private:
  char text_[kNumberTextMax + 1];
  std::size_t size_;
};

enum class NumberStatus { kNumber, kNotANumber, kOverflow };

struct ParsedNumber {
  NumberStatus status = NumberStatus::kNotANumber;
  double value = 0;
};

// True for the characters skipped around fields and numbers: space and tab.
constexpr bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads text by the number syntax: blanks around it, an optional sign, digits with an optional
// point and decimals (or a point and at least one decimal), an optional exponent. A magnitude
// beyond the double range is kOverflow; one too small for a double reads as zero.
ParsedNumber ParseNumber(std::string_view text);

// The number a text spells by the number syntax; throws NumberError when it spells none or one
// beyond the double range.
double NumberOf(std::string_view text);

// A number as XML Schema and every reader spell it: 0.15, -0.5, 139.5, 1.5E+15.
std::string StrictNumber(double x);

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_NUMBER_TEXT_H_
