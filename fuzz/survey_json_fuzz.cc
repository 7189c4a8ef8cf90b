// A JSON track of any bytes, read as a stream: no crash, either a failure that says why or every
// marker handed out once, and every kept one a real place and time with finite numbers.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_dir.h"
#include "survey/civil_time.h"
#include "survey/readers.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dosemap;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  std::vector<RecordResult> results;
  try {
    results = ParseRadiacodeJson(text, ReaderOptions{});
  } catch (const std::runtime_error& error) {
    FUZZ_CHECK(error.what()[0] != '\0');
    return 0;
  }
  std::vector<bool> seen(results.size() + 1);
  for (const RecordResult& r : results) {
    const long index = r.measurement.line;
    FUZZ_CHECK(index >= 1 && index <= static_cast<long>(results.size()) && !seen[index]);
    seen[index] = true;
    if (r.reason != RejectReason::kNone) continue;
    const Measurement& m = r.measurement;
    FUZZ_CHECK(m.latitude >= -90 && m.latitude <= 90 && m.longitude >= -180 && m.longitude <= 180);
    FUZZ_CHECK(std::isfinite(m.dose_usvh) && std::isfinite(m.cpm));
    FUZZ_CHECK(IsoTime(m.time, m.utc).size() >= 19);
  }
  return 0;
}
