// LoadSettings over an arbitrary SETT.TXT: the four boxes are always set, and what the load
// leaves behind loads again to the same texts without being rewritten.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_dir.h"
#include "settings/settings_file.h"

namespace {

class Boxes : public dosemap::SettingsBoxes {
 public:
  explicit Boxes(dosemap::TextFiles& files) : files_(files) {}
  std::string BoxText(dosemap::Box box) const override { return texts[static_cast<int>(box)]; }
  void SetBoxText(dosemap::Box box, const std::string& text) override {
    ++sets;
    std::string& current = texts[static_cast<int>(box)];
    if (current == text) return;
    current = text;
    try {
      dosemap::SaveSettings(files_, *this);
    } catch (const dosemap::FileError&) {
    }
  }
  std::array<std::string, 4> texts{"Text1", "Text2", "0.19", "0.19"};
  int sets = 0;

 private:
  dosemap::TextFiles& files_;
};

}  // namespace

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
