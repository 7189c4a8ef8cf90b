#ifndef DOSEMAP_SURVEY_SURVEY_ERROR_H_
#define DOSEMAP_SURVEY_SURVEY_ERROR_H_

#include <stdexcept>
#include <string>

namespace dosemap {

// What stopped a conversion of the surveyor's path. The front ends take their exit status and
// their message from the kind, never from the text.
enum class SurveyErrorKind {
  kUsage,            // asked what can't be done: outputs that collide, a map form unknown
  kBadZone,          // a privacy zone, given or in a zone file, that is no zone
  kBadThresholds,    // the yellow threshold not below the red one
  kCannotReadLog,    // a log can't be opened or read
  kUnknownFormat,    // a log of no known format, or not of its format after all
  kCannotReadZones,  // a privacy file can't be opened or read
  kCannotWriteMap,   // a map or the rejects file can't be written or put in place
  kCancelled,        // the user stopped it; every old map stays as it was
};

// The one exception of the surveyor's path: readers, the JSON track, the privacy zones and the
// conversion throw it. The message is one line that names the file.
class SurveyError : public std::runtime_error {
 public:
  SurveyError(SurveyErrorKind kind, const std::string& message)
      : std::runtime_error(message), kind_(kind) {}
  SurveyErrorKind kind() const { return kind_; }

 private:
  SurveyErrorKind kind_;
};

// 2 for what the user asked wrongly, 1 for every other failure.
inline int ExitStatusOf(SurveyErrorKind kind) {
  return kind == SurveyErrorKind::kUsage || kind == SurveyErrorKind::kBadZone ||
                 kind == SurveyErrorKind::kBadThresholds
             ? 2
             : 1;
}

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_SURVEY_ERROR_H_
