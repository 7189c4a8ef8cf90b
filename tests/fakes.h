#ifndef DOSEMAP_TESTS_FAKES_H_
#define DOSEMAP_TESTS_FAKES_H_

#include <array>
#include <string>
#include <vector>

#include "legacy/convert/conversion_run.h"
#include "legacy/settings/settings_file.h"

namespace dosemap::testing {

class CountingBeeper : public Beeper {
 public:
  void Beep() override { ++beeps; }
  int beeps = 0;
};

// Stands in for the window: the four boxes with their texts at creation, each change saving at
// once, as the window's do. Save failures are counted, never thrown.
class SaveOnChangeBoxes : public SettingsBoxes {
 public:
  explicit SaveOnChangeBoxes(TextFiles& files) : files_(files) {}
  virtual ~SaveOnChangeBoxes() = default;

  std::string BoxText(Box box) const override { return texts[static_cast<int>(box)]; }
  void SetBoxText(Box box, const std::string& text) override {
    ++sets;
    std::string& current = texts[static_cast<int>(box)];
    if (current == text) return;
    current = text;
    try {
      last_result = SaveSettings(files_, *this);
    } catch (const FileError& error) {
      ++failed_saves;
      last_error = error.what();
    }
    AfterChange();
  }
  std::vector<std::string> Texts() const { return {texts.begin(), texts.end()}; }

  std::array<std::string, 4> texts{"Text1", "Text2", "0.19", "0.19"};
  int sets = 0;
  int failed_saves = 0;
  SaveResult last_result = SaveResult::kSaved;
  std::string last_error;

 protected:
  virtual void AfterChange() {}

 private:
  TextFiles& files_;
};

// The line a save writes for these four fields (thresholds as their number texts).
inline std::string SavedLine(const std::string& first, const std::string& second,
                             const std::string& yellow, const std::string& red) {
  std::string line = first + "," + second + "," + yellow + "," + red + ",";
  for (int i = 0; i < 11; ++i) line += "   ,";
  return line;
}

}  // namespace dosemap::testing

#endif  // DOSEMAP_TESTS_FAKES_H_
