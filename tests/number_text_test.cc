#include "common/number_text.h"

#include <gtest/gtest.h>

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "tests/reference_number.h"

namespace dosemap {
namespace {

TEST(NumberText, WritesTheSignBlankNoLeadingZeroAndFifteenDigits) {
  const struct {
    double x;
    const char* text;
  } cases[] = {
      {0, " 0"},
      {-0.0, " 0"},
      {7, " 7"},
      {19, " 19"},
      {-50, "-50"},
      {0.07, " .07"},
      {0.5, " .5"},
      {-0.5, "-.5"},
      {-0.25, "-.25"},
      {0.15, " .15"},
      {1.5, " 1.5"},
      {11.5, " 11.5"},
      {139.4875, " 139.4875"},
      {-75.5, "-75.5"},
      {3000000000.0, " 3000000000"},
      {100 * 0.07, " 7"},
      {0.1 + 0.2, " .3"},
      {1.0 / 3, " .333333333333333"},
      {2.0 / 3, " .666666666666667"},
      {0.0001, " .0001"},
      {0.00012345, " .00012345"},
      {0.00009, " 9E-05"},
      {123456789012345.0, " 123456789012345"},
      {999999999999999.0, " 999999999999999"},
      {9999999999999999.0, " 1E+16"},
      {1e15, " 1E+15"},
      {-1.5e300, "-1.5E+300"},
      {5e-324, " 4.94065645841247E-324"},
      {std::numeric_limits<double>::max(), " 1.79769313486232E+308"},
      {std::numeric_limits<double>::infinity(), " inf"},
      {-std::numeric_limits<double>::infinity(), "-inf"},
      {std::nan(""), " nan"},
  };
  for (const auto& c : cases) EXPECT_EQ(NumberText(c.x), c.text) << c.x;
}

TEST(NumberText, ReadsBackAsTheFifteenDigitNumberForRandomDoubles) {
  std::mt19937_64 random(20261208);
  std::uniform_real_distribution<double> coordinate(-180, 180);
  for (int i = 0; i < 3000000; ++i) {
    double x;
    if (i % 3 == 0) {
      const std::uint64_t bits = random();
      std::memcpy(&x, &bits, sizeof x);
      if (!std::isfinite(x)) continue;
    } else if (i % 3 == 1) {
      x = coordinate(random);
    } else {  // a short decimal as logs hold them: up to 15 digits, up to 19 decimals
      x = static_cast<double>(random() % 1000000000000000) / std::pow(10.0, random() % 20);
    }
    const std::string text = NumberText(x);
    const ParsedNumber back = ParseNumber(text);
    const double rounded = testing::RoundedTo15(x);
    if (std::isinf(rounded)) {
      ASSERT_EQ(back.status, NumberStatus::kOverflow) << text;
      continue;
    }
    ASSERT_EQ(back.status, NumberStatus::kNumber) << text;
    ASSERT_EQ(back.value, rounded) << text;
    ASSERT_EQ(NumberText(back.value), text);
  }
}

TEST(NumberText, TheTopDoublesReadBackAsOutOfRange) {
  // The largest doubles round up to 1.79769313486232E+308, which no double holds; the next
  // 15-digit number down reads back.
  int out_of_range = 0;
  for (double x = std::numeric_limits<double>::max();; x = std::nextafter(x, 0.0)) {
    for (const double signed_x : {x, -x}) {
      const ParsedNumber back = ParseNumber(NumberText(signed_x));
      if (std::isinf(testing::RoundedTo15(signed_x))) {
        EXPECT_EQ(back.status, NumberStatus::kOverflow) << NumberText(signed_x);
      } else {
        EXPECT_EQ(back.status, NumberStatus::kNumber) << NumberText(signed_x);
        EXPECT_EQ(NumberText(back.value), NumberText(signed_x));
      }
    }
    if (!std::isinf(testing::RoundedTo15(x))) break;
    ++out_of_range;
  }
  EXPECT_GT(out_of_range, 0);
  EXPECT_EQ(NumberText(ParseNumber("1.79769313486231E+308").value), " 1.79769313486231E+308");
}

TEST(ParseNumber, GivesTheDoubleOfTheFullConversionForRandomDecimals) {
  std::mt19937_64 random(7);
  for (int i = 0; i < 2000000; ++i) {
    std::string text(1 + random() % 20, '0');
    for (char& c : text) c = static_cast<char>('0' + random() % 10);
    if (random() % 2) text.insert(random() % (text.size() + 1), ".");
    if (random() % 4 == 0) text += "e" + std::to_string(static_cast<int>(random() % 80) - 40);
    double expected = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), expected);
    ASSERT_EQ(end, text.data() + text.size()) << text;
    const ParsedNumber parsed = ParseNumber(text);
    ASSERT_EQ(parsed.status, NumberStatus::kNumber) << text;
    ASSERT_EQ(parsed.value, error == std::errc() ? expected : 0) << text;
  }
}

TEST(ParseNumber, FollowsTheNumberSyntax) {
  const struct {
    const char* text;
    NumberStatus status;
    double value;
  } cases[] = {
      {"11", NumberStatus::kNumber, 11},
      {" 19", NumberStatus::kNumber, 19},
      {"\t2 ", NumberStatus::kNumber, 2},
      {"-50", NumberStatus::kNumber, -50},
      {"+4", NumberStatus::kNumber, 4},
      {"0.", NumberStatus::kNumber, 0},
      {".07", NumberStatus::kNumber, 0.07},
      {"1.5E+15", NumberStatus::kNumber, 1.5e15},
      {"2e-3", NumberStatus::kNumber, 0.002},
      {"-0", NumberStatus::kNumber, 0},
      {"1e-999", NumberStatus::kNumber, 0},
      {"0e999999", NumberStatus::kNumber, 0},
      {"000000000000000000000000000000000000001.5", NumberStatus::kNumber, 1.5},
      {"1e999", NumberStatus::kOverflow, 0},
      {"-1e99999999999999999999", NumberStatus::kOverflow, 0},
      {"", NumberStatus::kNotANumber, 0},
      {"   ", NumberStatus::kNotANumber, 0},
      {"-", NumberStatus::kNotANumber, 0},
      {".", NumberStatus::kNotANumber, 0},
      {"+.", NumberStatus::kNotANumber, 0},
      {"DATA_0", NumberStatus::kNotANumber, 0},
      {"1,5", NumberStatus::kNotANumber, 0},
      {"0.1a", NumberStatus::kNotANumber, 0},
      {"11abc", NumberStatus::kNotANumber, 0},
      {"1e", NumberStatus::kNotANumber, 0},
      {"1e+", NumberStatus::kNotANumber, 0},
      {"inf", NumberStatus::kNotANumber, 0},
      {"nan", NumberStatus::kNotANumber, 0},
      {"0x10", NumberStatus::kNotANumber, 0},
      {"1 2", NumberStatus::kNotANumber, 0},
      {"--1", NumberStatus::kNotANumber, 0},
  };
  for (const auto& c : cases) {
    const ParsedNumber parsed = ParseNumber(c.text);
    EXPECT_EQ(parsed.status, c.status) << '"' << c.text << '"';
    EXPECT_EQ(parsed.value, c.value) << c.text;
  }
  EXPECT_TRUE(std::signbit(ParseNumber("-1e-999").value));
  EXPECT_EQ(ParseNumber("1" + std::string(400, '0')).status, NumberStatus::kOverflow);
  EXPECT_EQ(ParseNumber("0." + std::string(400, '0') + "1").value, 0);
  EXPECT_EQ(ParseNumber(std::string(400, '0') + "7").value, 7);
  EXPECT_EQ(ParseNumber("4.9406564584124654e-324").value, 5e-324);
}

TEST(ParseNumber, IgnoresTheLocale) {
  // A desktop with a decimal comma must read and write the same bytes.
  if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) GTEST_SKIP() << "no German locale";
  EXPECT_EQ(ParseNumber("1.5").value, 1.5);
  EXPECT_EQ(NumberText(1.5), " 1.5");
  std::setlocale(LC_ALL, "C");
}

}  // namespace
}  // namespace dosemap
