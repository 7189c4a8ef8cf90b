#ifndef DOSEMAP_LEGACY_SETTINGS_SETTINGS_FILE_H_
#define DOSEMAP_LEGACY_SETTINGS_SETTINGS_FILE_H_

#include <cstdint>
#include <string>

#include "legacy/textfile/text_files.h"

namespace dosemap {

inline constexpr int kSettingsFileNumber = 4;
inline constexpr const char* kSettingsFileName = "SETT.TXT";

// The window's four boxes: Text1 (CsvBaseName), Text2 (KmlBaseName), Text3 (YellowThreshold)
// and Text5 (RedThreshold).
enum class Box { kText1, kText2, kText3, kText5 };

// What the settings need of the window. Abstract so tests can stand in for the window.
class SettingsBoxes {
 public:
  virtual ~SettingsBoxes() = default;
  virtual std::string BoxText(Box box) const = 0;
  // Sets the box's text. When the text changes, the box's change notification runs
  // SaveSettings before this returns; setting the text a box already holds notifies nothing.
  // Must not throw: a save that fails is the notification's own business.
  virtual void SetBoxText(Box box, const std::string& text) = 0;
};

// Fills the four boxes from SETT.TXT. When the file can't be read (missing, fewer than four
// fields, a threshold out of range) it is first replaced by the default line and read again,
// once; when even that fails, the boxes get the defaults and the program goes on. First removes
// the temporary files of saves whose process was killed. Never throws.
void LoadSettings(TextFiles& files, SettingsBoxes& boxes);

enum class SaveResult {
  kSaved,
  kKeptThresholdNotNumber,   // a threshold box holds no number (the user is retyping it)
  kKeptThresholdOutOfRange,  // its hundredths are not finite or don't fit 32 bits
  kKeptNameNotStorable,      // a name would not read back as typed (it begins with a quote,
                             // or needs quotes and holds one)
};

// Replaces SETT.TXT with the four box texts, or, for a threshold that could not be loaded back,
// leaves the file as it was. The file is written beside and renamed over the old one, so it is
// always whole. Throws FileError when it can't be written; the old file then stays.
SaveResult SaveSettings(TextFiles& files, const SettingsBoxes& boxes);

// A stored threshold in hundredths as a box shows it: 11 as 0.11, 150 as 1.5, -5 as -0.05.
std::string PlainNumberText(std::int32_t hundredths);

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_SETTINGS_SETTINGS_FILE_H_
