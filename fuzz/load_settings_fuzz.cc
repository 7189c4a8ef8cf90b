// LoadSettings over an arbitrary SETT.TXT: the four boxes are always set, and what the load
// leaves behind loads again to the same texts without being rewritten.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_dir.h"
#include "legacy/settings/settings_file.h"
#include "tests/fakes.h"

using Boxes = dosemap::testing::SaveOnChangeBoxes;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace dosemap;
  fuzz::WriteFile("SETT.TXT", reinterpret_cast<const char*>(data), size);
  TextFiles files(fuzz::ScratchDir());
  Boxes first(files);
  LoadSettings(files, first);
  FUZZ_CHECK(first.sets == 4);
  FUZZ_CHECK(!files.IsOpen(kSettingsFileNumber));

  const std::string left = fuzz::ReadFile("SETT.TXT");
  Boxes second(files);
  second.texts = first.texts;  // a restart whose boxes already show the loaded texts
  LoadSettings(files, second);
  FUZZ_CHECK(second.texts == first.texts);
  FUZZ_CHECK(fuzz::ReadFile("SETT.TXT") == left);
  return 0;
}
