// Any bytes through every format read as a stream (the JSON tracks and arrays, the KML export,
// our GeoJSON maps): no crash, either a failure that says why or records with indexes in
// order, and every kept one a real place and time with finite numbers.
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "fuzz/fuzz_dir.h"
#include "survey/civil_time.h"
#include "survey/line_reader.h"
#include "survey/log_format.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dosemap;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const FormatRow* format : Formats()) {
    if (format->line_parser != nullptr) continue;
    LineReader reader("fuzz", text);
    long previous = 0;
    try {
      const ReadEnd end =
          format->open(reader, ReaderOptions{})
              ->Read([&](RecordResult& r, long line, std::string_view record, std::string_view) {
                FUZZ_CHECK(line >= 1 && !record.empty());
                // Markers of a track come out of order (kept ones sorted by time); the others in
                // file order.
                if (format->name != "radiacode") FUZZ_CHECK(line > previous);
                previous = line;
                if (r.reason != RejectReason::kNone) return;
                const Measurement& m = r.measurement;
                FUZZ_CHECK(m.latitude >= -90 && m.latitude <= 90 && m.longitude >= -180 &&
                           m.longitude <= 180);
                FUZZ_CHECK(std::isfinite(m.dose_usvh) && std::isfinite(m.cpm) &&
                           std::isfinite(m.altitude));
                FUZZ_CHECK(IsoTime(m.time, m.utc).size() >= 19);
              });
      FUZZ_CHECK(end.not_of_format.size() < 1000);  // a few words, never the whole input
    } catch (const std::runtime_error& error) {
      FUZZ_CHECK(error.what()[0] != '\0');
    }
  }
  return 0;
}
