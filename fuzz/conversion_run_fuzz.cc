// A whole run over an arbitrary survey log with arbitrary threshold texts: it ends normally or
// with a cause, closes every file, and a map it opened always ends with the footer. A strict map
// is well-formed XML whatever bytes the log holds.
#include <libxml/parser.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_dir.h"
#include "legacy/convert/conversion_run.h"
#include "tests/fakes.h"

namespace {
bool WellFormedXml(const std::string& text) {
  xmlDocPtr document =
      xmlReadMemory(text.data(), static_cast<int>(text.size()), "map.kml", nullptr,
                    XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_HUGE);
  if (document == nullptr) return false;
  xmlFreeDoc(document);
  return true;
}

std::size_t Occurrences(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
}
}  // namespace

// Input: yellow text, a NUL, red text, a NUL, then the log's bytes. A yellow text that begins
// with "S" writes the strict form.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dosemap;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t first = input.find('\0');
  const std::size_t second = first == std::string::npos ? first : input.find('\0', first + 1);
  if (second == std::string::npos) return 0;
  const std::string log = input.substr(second + 1);
  fuzz::WriteFile("log.csv", log.data(), log.size());
  std::filesystem::remove(fuzz::ScratchDir() / "map.kml");

  TextFiles files(fuzz::ScratchDir());
  testing::CountingBeeper beeper;
  const bool strict = first > 0 && input[0] == 'S';
  ClassicMap classic;
  StrictMap strict_map;
  MapWriter& map = strict ? static_cast<MapWriter&>(strict_map) : classic;
  const RunOutcome outcome = ConversionRun(
      files, "log", "map",
      FixedThresholds(input.substr(0, first), input.substr(first + 1, second - first - 1)), beeper,
      map);
  FUZZ_CHECK(beeper.beeps == 1);
  FUZZ_CHECK(outcome.reached_end_of_log() || !outcome.message.empty());
  for (int number = 1; number <= TextFiles::kMaxFileNumber; ++number)
    FUZZ_CHECK(!files.IsOpen(number));
  const bool opened = std::filesystem::exists(fuzz::ScratchDir() / "map.kml");
  const bool failed_early =
      outcome.failure == RunFailure::kLogNotOpened || outcome.failure == RunFailure::kLogTooShort ||
      outcome.failure == RunFailure::kOutputNotCreated ||
      (outcome.failure == RunFailure::kRecordUnreadable && outcome.record <= 1);
  FUZZ_CHECK(opened != failed_early);
  if (opened) {
    const std::string kml = fuzz::ReadFile("map.kml");
    const std::string footer =
        strict ? "</Folder>\r\n</Document>\r\n</kml>\r\n" : "</Folder>\r\n</Folder>\r\n </kml>\r\n";
    // Placemarks are whole (a log without "<" can't fake the tags inside a description).
    if (strict && log.find('<') == std::string::npos) {
      FUZZ_CHECK(Occurrences(kml, "<Placemark>") == Occurrences(kml, "</Placemark>"));
    }
    if (strict) FUZZ_CHECK(WellFormedXml(kml));
    FUZZ_CHECK(kml.size() >= footer.size() &&
               kml.compare(kml.size() - footer.size(), footer.size(), footer) == 0);
  }
  return 0;
}
