#include "common/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>

#include "common/error.h"
#include "common/message_text.h"

namespace dosemap {
namespace {

constexpr int kSignificantDigits = 15;
constexpr int kPlainExponentMin = -4;  // 0.0001 is still written plainly
constexpr int kPlainExponentMax = 14;  // 15 digits before the point at most

// Splits the scientific text "d.ddde+XX" of to_chars into its digits without trailing zeros
// and the decimal exponent of the first digit.
int SplitScientific(const char* text, const char* end, char* digits, int* exponent) {
  int count = 0;
  const char* p = text;
  for (; p != end && *p != 'e'; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  int exp = 0;
  std::from_chars(p + 1 + (p[1] == '+'), end, exp);
  *exponent = exp;
  while (count > 1 && digits[count - 1] == '0') --count;
  return count;
}

// The magnitude's significant digits rounded to 15, exactly. The shortest text that reads back
// as m is used when it has at most 15 digits: m then lies within half an ulp of it, which is far
// inside half a unit of the 15th digit, so rounding m to 15 digits gives the same digits.
// Otherwise the slower fixed-precision conversion rounds m itself.
int SignificantDigits(double m, char* digits, int* exponent) {
  char text[40];
  // Subnormals are excluded: their ulp is relatively larger than half a unit of the 15th digit.
  if (m >= std::numeric_limits<double>::min()) {
    auto [end, ec] = std::to_chars(text, text + sizeof text, m, std::chars_format::scientific);
    const int count = SplitScientific(text, end, digits, exponent);
    if (count <= kSignificantDigits) return count;
  }
  auto [end15, ec15] = std::to_chars(text, text + sizeof text, m, std::chars_format::scientific,
                                     kSignificantDigits - 1);
  return SplitScientific(text, end15, digits, exponent);
}

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                   1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// The fast path, taken by the numbers of survey logs: finds the fewest decimals k for which an
// integer r below 1e15 gives r / 10^k == m. That division of two exact doubles is correctly
// rounded, so the decimal r * 10^-k reads back as m; having at most 15 significant digits, it is
// the only such decimal (15 digits always survive a trip through a double), hence m's 15-digit
// rounding. Survey values have few decimals, so few tries; the rest take the slow path.
bool ShortDecimal(double m, std::uint64_t* digits, int* decimals) {
  for (int k = 0; k < static_cast<int>(std::size(kPowersOfTen)); ++k) {
    const double scaled = m * kPowersOfTen[k];
    if (scaled >= 1e15) return false;
    const double rounded = std::nearbyint(scaled);
    // Far from an integer, k is too small; the exact check is only worth its division near one.
    if (std::fabs(scaled - rounded) > scaled * 1e-12) continue;
    if (rounded / kPowersOfTen[k] == m) {
      *digits = static_cast<std::uint64_t>(rounded);
      *decimals = k;
      return true;
    }
  }
  return false;
}

// Writes r * 10^-decimals in the plain form without a zero before the point.
char* WritePlain(std::uint64_t r, int decimals, char* p) {
  char digits[24];
  const int count = static_cast<int>(std::to_chars(digits, digits + sizeof digits, r).ptr - digits);
  const int whole = count - decimals;
  int last = count;
  while (last > whole && last > 0 && digits[last - 1] == '0') --last;
  if (whole > 0) {
    std::memcpy(p, digits, whole);
    p += whole;
    if (last == whole) return p;
    *p++ = '.';
    std::memcpy(p, digits + whole, last - whole);
    return p + (last - whole);
  }
  *p++ = '.';
  std::memset(p, '0', -whole);
  p += -whole;
  std::memcpy(p, digits, last);
  return p + last;
}

}  // namespace

std::size_t FormatNumberText(double x, char* out) {
  char* p = out;
  *p++ = std::signbit(x) && x != 0 && !std::isnan(x) ? '-' : ' ';
  if (std::isnan(x)) {
    std::memcpy(p, "nan", 3);
    return 4;
  }
  if (std::isinf(x)) {
    std::memcpy(p, "inf", 3);
    return 4;
  }
  if (x == 0) {
    *p++ = '0';
    return p - out;
  }
  const double m = std::fabs(x);
  std::uint64_t short_digits = 0;
  int decimals = 0;
  if (m >= 1e-4 && m < 1e15 && ShortDecimal(m, &short_digits, &decimals)) {
    return WritePlain(short_digits, decimals, p) - out;
  }
  char digits[24];
  int exponent = 0;
  const int count = SignificantDigits(m, digits, &exponent);
  if (exponent < kPlainExponentMin || exponent > kPlainExponentMax) {
    *p++ = digits[0];
    if (count > 1) {
      *p++ = '.';
      std::memcpy(p, digits + 1, count - 1);
      p += count - 1;
    }
    *p++ = 'E';
    *p++ = exponent < 0 ? '-' : '+';
    const int magnitude = exponent < 0 ? -exponent : exponent;
    if (magnitude < 10) *p++ = '0';
    p = std::to_chars(p, out + kNumberTextMax, magnitude).ptr;
    return p - out;
  }
  if (exponent < 0) {
    *p++ = '.';
    for (int i = -1; i > exponent; --i) *p++ = '0';
    std::memcpy(p, digits, count);
    return p + count - out;
  }
  const int whole = exponent + 1;
  if (count <= whole) {
    std::memcpy(p, digits, count);
    std::memset(p + count, '0', whole - count);
    return p + whole - out;
  }
  std::memcpy(p, digits, whole);
  p += whole;
  *p++ = '.';
  std::memcpy(p, digits + whole, count - whole);
  return p + (count - whole) - out;
}

std::string NumberText(double x) {
  char buffer[kNumberTextMax];
  return std::string(buffer, FormatNumberText(x, buffer));
}

ParsedNumber ParseNumber(std::string_view text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  const char* s = text.data();
  std::size_t i = begin;
  bool negative = false;
  if (i < end && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  const std::size_t mantissa = i;
  // Decimal order of the leading nonzero digit, to tell underflow from overflow; and the first
  // significant digits as an integer, for the exact fast path below.
  long order = 0;
  bool nonzero = false;
  std::uint64_t significand = 0;
  int significant_digits = 0;
  const auto take = [&](char c) {
    if (!nonzero && c == '0') return;
    nonzero = true;
    if (++significant_digits <= kSignificantDigits) significand = significand * 10 + (c - '0');
  };
  std::size_t int_digits = 0, frac_digits = 0;
  for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i, ++int_digits) {
    if (nonzero) ++order;
    take(s[i]);
  }
  if (i < end && s[i] == '.') {
    for (++i; i < end && s[i] >= '0' && s[i] <= '9'; ++i, ++frac_digits) {
      if (!nonzero) --order;
      take(s[i]);
    }
  }
  if (int_digits == 0 && frac_digits == 0) return {};
  long exponent = 0;
  if (i < end && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    const bool negative_exponent = i < end && s[i] == '-';
    if (i < end && (s[i] == '+' || s[i] == '-')) ++i;
    const std::size_t exponent_digits = i;
    for (; i < end && s[i] >= '0' && s[i] <= '9'; ++i) {
      if (exponent < 100000000) exponent = exponent * 10 + (s[i] - '0');
    }
    if (i == exponent_digits) return {};
    if (negative_exponent) exponent = -exponent;
  }
  if (i != end) return {};

  // Up to 15 digits times a power of ten up to 1e22 are two exact doubles, and one multiplication
  // or division of them is correctly rounded: the same double the full conversion gives.
  const long scale = exponent - static_cast<long>(frac_digits);
  if (significant_digits <= kSignificantDigits && scale >= -22 && scale <= 22) {
    const double value =
        scale < 0 ? significand / kPowersOfTen[-scale] : significand * kPowersOfTen[scale];
    return {NumberStatus::kNumber, negative ? -value : value};
  }

  ParsedNumber result{NumberStatus::kNumber, 0};
  if (nonzero) {
    auto [ptr, ec] = std::from_chars(s + mantissa, s + end, result.value);
    if (ec == std::errc::result_out_of_range) {
      if (order + exponent > 0) return {NumberStatus::kOverflow, 0};
      result.value = 0;  // too small for a double: the nearest double is zero
    } else if (ec != std::errc() || ptr != s + end) {
      return {};
    }
  }
  if (negative) result.value = -result.value;
  return result;
}

double NumberOf(std::string_view text) {
  const ParsedNumber parsed = ParseNumber(text);
  if (parsed.status == NumberStatus::kNumber) return parsed.value;
  throw NumberError(
      QuotedForMessage(text) + " is " +
      (parsed.status == NumberStatus::kOverflow ? "a number out of range" : "not a number"));
}

std::string StrictNumber(double x) {
  char number[kNumberTextMax];
  const std::size_t size = FormatNumberText(x, number);
  // The sign blank goes; a "0" comes before a leading point.
  char text[kNumberTextMax + 1];
  std::size_t length = 0;
  if (number[0] == '-') text[length++] = '-';
  if (number[1] == '.') text[length++] = '0';
  for (std::size_t i = 1; i < size; ++i) text[length++] = number[i];
  return std::string(text, length);
}

}  // namespace dosemap
