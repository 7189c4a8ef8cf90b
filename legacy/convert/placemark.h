#ifndef DOSEMAP_LEGACY_CONVERT_PLACEMARK_H_
#define DOSEMAP_LEGACY_CONVERT_PLACEMARK_H_

#include <optional>
#include <string>
#include <string_view>

#include "common/error.h"
#include "dose/dose_scale.h"
#include "legacy/convert/survey_log.h"
#include "legacy/textfile/text_files.h"

namespace dosemap {

// Hands out the current texts of the two threshold boxes: YellowThreshold (Text3) and
// RedThreshold (Text5). Abstract so the window, the command line and tests each supply theirs.
class ThresholdSource {
 public:
  virtual ~ThresholdSource() = default;
  virtual std::string YellowThresholdText() const = 0;
  virtual std::string RedThresholdText() const = 0;
};

// Two threshold texts fixed for the lifetime of the object.
class FixedThresholds : public ThresholdSource {
 public:
  FixedThresholds(std::string yellow, std::string red)
      : yellow_(std::move(yellow)), red_(std::move(red)) {}
  std::string YellowThresholdText() const override { return yellow_; }
  std::string RedThresholdText() const override { return red_; }

 private:
  std::string yellow_;
  std::string red_;
};

// A threshold text that is not a number when a dose class selection needs it.
class ThresholdError : public NumberError {
 public:
  ThresholdError(bool red, const std::string& message) : NumberError(message), red_(red) {}
  bool red() const { return red_; }  // false: the yellow threshold

 private:
  bool red_;
};

inline constexpr const char* kIconAddress =
    "http://maps.google.com/mapfiles/kml/shapes/placemark_square.png";

// True when the point lies in the fixed rectangle whose records get no placemark (edges included).
bool InExclusionBox(double latitude, double longitude);

// The class of a dose for numeric thresholds: below 0.07, below yellow, below red, below 0.5,
// and the rest.
DoseClass DoseClassOf(double dose_rate, double yellow, double red);

// The first class whose condition holds, converting a threshold text only when its step is
// reached. Throws ThresholdError for a text that is not a number at that moment.
DoseClass SelectDoseClass(double dose_rate, const ThresholdSource& thresholds);

// The colour and scale line of a class, without its line end.
std::string_view DoseClassLine(DoseClass dose_class);

// Selects the class and writes its line, ending the line.
void WriteDoseClassLine(TextFiles& files, double dose_rate, const ThresholdSource& thresholds);

// The dose shown in a description heading ("0.15", "1.2345"); dose_rate is at least 0.1.
std::string DoseText(double dose_rate);

// The count shown in a description heading; throws NumberError for a text that is no number.
std::string CountText(const Variant& count_rate);

// text with each "]]>" split across two CDATA sections, so that it can't end the section.
std::string CdataSafe(std::string_view text);

// Writes the second name line and the nine lines of the description block.
void WriteDescription(TextFiles& files, const SurveyRecord& record);

// Writes the record's placemark to file number 1 (22 lines, 31 with a description from a dose of
// 0.1 up), or nothing for a record in the exclusion box. Returns the class written, or nothing
// for the exclusion box.
std::optional<DoseClass> WritePlacemark(TextFiles& files, const SurveyRecord& record,
                                        const ThresholdSource& thresholds);

}  // namespace dosemap

#endif  // DOSEMAP_LEGACY_CONVERT_PLACEMARK_H_
