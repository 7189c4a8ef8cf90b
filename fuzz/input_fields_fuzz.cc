// Arbitrary bytes read as fields into every kind of target; every number read must survive
// NumberText and back.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/number_text.h"
#include "fuzz/fuzz_dir.h"
#include "legacy/textfile/text_files.h"
#include "tests/reference_number.h"

namespace {

// The text reads back as x rounded to 15 digits; where that rounding leaves the double range
// (the top few doubles), it reads back as out of range, as any such number does.
void CheckNumberText(double x) {
  const dosemap::ParsedNumber back = dosemap::ParseNumber(dosemap::NumberText(x));
  const double rounded = dosemap::testing::RoundedTo15(x);
  if (std::isinf(rounded)) {
    FUZZ_CHECK(back.status == dosemap::NumberStatus::kOverflow);
    return;
  }
  FUZZ_CHECK(back.status == dosemap::NumberStatus::kNumber);
  FUZZ_CHECK(back.value == rounded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dosemap;
  fuzz::WriteFile("in.csv", reinterpret_cast<const char*>(data), size);
  TextFiles files(fuzz::ScratchDir());
  files.OpenForInput(2, "in.csv");
  std::string text;
  double number = 0;
  std::int32_t integer = 0;
  Variant variant;
  for (int i = 0;; ++i) {
    try {
      switch (i % 4) {
        case 0:
          files.InputFields(2, {text});
          break;
        case 1:
          files.InputFields(2, {number});
          CheckNumberText(number);
          break;
        case 2:
          files.InputFields(2, {integer});
          CheckNumberText(integer);
          break;
        default:
          files.InputFields(2, {variant});
          if (const double* value = std::get_if<double>(&variant)) CheckNumberText(*value);
      }
    } catch (const FileError& error) {
      if (error.kind() == FileErrorKind::kReadPastEnd) break;
      FUZZ_CHECK(error.kind() == FileErrorKind::kNumberOverflow ||
                 error.kind() == FileErrorKind::kFieldTooLong);
    }
  }
  // Any bit pattern of the input as a double, too.
  if (size >= sizeof(double)) {
    double x;
    std::memcpy(&x, data, sizeof x);
    if (std::isfinite(x)) CheckNumberText(x);
  }
  return 0;
}
