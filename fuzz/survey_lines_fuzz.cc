// A device log of any bytes, line by line, in the format this target is built for (every row of
// that name: ERS 2.0 and 1.0 alike): no crash, and every kept point a real place and time.
#include <cmath>
#include <cstdint>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_dir.h"
#include "survey/civil_time.h"
#include "survey/log_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dosemap;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  std::vector<RecordResult> results;
  for (const FormatRow* format : Formats()) {
    if (format->name != DOSEMAP_FUZZ_FORMAT || format->line_parser == nullptr) continue;
    const std::unique_ptr<LineParser> parser = format->line_parser(ReaderOptions{});
    std::string_view text = bytes;
    while (!text.empty()) {
      const std::size_t end = text.find('\n');
      parser->ParseLine(text.substr(0, end), results);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    }
  }
  for (const RecordResult& r : results) {
    if (r.reason != RejectReason::kNone) continue;
    const Measurement& m = r.measurement;
    FUZZ_CHECK(m.latitude >= -90 && m.latitude <= 90 && m.longitude >= -180 && m.longitude <= 180);
    FUZZ_CHECK(!(m.latitude == 0 && m.longitude == 0));
    FUZZ_CHECK(std::isfinite(m.dose_usvh) && std::isfinite(m.altitude) && std::isfinite(m.cpm));
    FUZZ_CHECK(IsoTime(m.time, m.utc).size() >= 19);
  }
  return 0;
}
