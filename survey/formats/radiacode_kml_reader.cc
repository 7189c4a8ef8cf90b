// RadiaCode-type tracks: the phone app's own KML export. Each placemark is a reading: a point and
// a description of HTML parts, "<b>26 июл 2025 11:28:49</b></br>0.15 мкЗв/ч</br>19.3 имп/c</br>
// Точность: ±2200 м</br>" (or the English "Feb 3, 2024 18:10:04", "µSv/h", "cps", "Accuracy").
// The XML is read as a stream with libxml2's reader.
#include <libxml/xmlreader.h>

#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <span>
#include <stdexcept>

#include "survey/civil_time.h"
#include "survey/log_format.h"

namespace dosemap {
namespace {

constexpr double kMicroRoentgenPerMicroSievert = 100;
constexpr double kSecondsPerMinute = 60;
// How much of a placemark's coordinates and description is read.
constexpr std::size_t kMaxPartBytes = 4096;

bool EndsWith(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Without the blanks and line ends around it.
std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// The number before a unit: "0.15 мкЗв/ч" with unit "мкЗв/ч" gives 0.15.
std::optional<double> NumberBefore(std::string_view part, std::string_view unit) {
  part.remove_suffix(unit.size());
  part = Trimmed(part);
  if (EndsWith(part, "\xC2\xA0")) part.remove_suffix(2);  // a no-break space before the unit
  return CommaNumberIn(Trimmed(part));
}

// "Feb 3, 2024 18:10:04" or "26 июл 2025 11:28:49" (the month with or without a dot).
std::optional<std::int64_t> PlacemarkTime(std::string_view text) {
  static constexpr std::array<std::string_view, 12> kEnglish = {
      "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  static constexpr std::array<std::string_view, 12> kRussian = {
      "янв", "фев", "мар", "апр", "мая", "июн", "июл", "авг", "сен", "окт", "ноя", "дек"};
  std::vector<std::string_view> words;
  SplitFields(text, ' ', false, words);
  std::erase(words, std::string_view());
  if (words.size() != 4) return std::nullopt;
  const auto month_of = [](std::string_view name) -> int {
    if (EndsWith(name, ".")) name.remove_suffix(1);
    if (name == "май") return 5;
    if (name == "сент") return 9;
    for (int m = 0; m < 12; ++m) {
      if (name == kEnglish[m] || name == kRussian[m]) return m + 1;
    }
    return 0;
  };
  std::string_view day = words[0], month = words[1];
  if (month_of(words[0]) != 0) {  // English: the month first, the day with a comma
    day = words[1], month = words[0];
    if (!EndsWith(day, ",")) return std::nullopt;
    day.remove_suffix(1);
  }
  const int month_number = month_of(month);
  if (month_number == 0 || day.empty() || day.size() > 2 || words[2].size() != 4 ||
      words[3].size() != 8) {
    return std::nullopt;
  }
  std::string iso(words[2]);
  iso += month_number < 10 ? "-0" : "-";
  iso += std::to_string(month_number);
  iso += day.size() == 1 ? "-0" : "-";
  iso += day;
  iso += ' ';
  iso += words[3];
  for (const char c : day) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return ParseCivilTime(iso);
}

// One placemark's texts into a record.
void ReadPlacemark(std::string_view coordinates, bool has_point, std::string_view description,
                   const ReaderOptions& options, RecordResult& result) {
  Measurement& m = result.measurement;
  // "lon,lat[,alt]"
  std::vector<std::string_view> numbers;
  SplitFields(Trimmed(coordinates), ',', false, numbers);
  if (numbers.size() == 2 || numbers.size() == 3) {
    ReadDecimalPosition(numbers[1], numbers[0], result);
  }
  if (!has_point) {
    result.reason = RejectReason::kFields;
    return;
  }
  // The description's parts, between its tags.
  std::vector<std::string_view> parts;
  for (std::size_t at = 0; at < description.size();) {
    const std::size_t open = description.find('<', at);
    const std::string_view part = Trimmed(description.substr(at, open - at));
    if (!part.empty()) parts.push_back(part);
    if (open == std::string_view::npos) break;
    const std::size_t close = description.find('>', open);
    at = close == std::string_view::npos ? description.size() : close + 1;
  }
  std::optional<double> dose, cps, accuracy;
  bool bad = false;
  for (std::size_t i = 1; i < parts.size(); ++i) {
    const std::string_view part = parts[i];
    static constexpr std::string_view kSievert[] = {"мкЗв/ч", "\xC2\xB5Sv/h", "\xCE\xBCSv/h",
                                                    "uSv/h"};
    static constexpr std::string_view kRoentgen[] = {"мкР/ч", "\xC2\xB5R/h", "\xCE\xBCR/h", "uR/h"};
    static constexpr std::string_view kCps[] = {"имп/c", "имп/с", "cps"};
    bool known = false;
    for (const auto& [units, divisor] : {std::pair{std::span(kSievert), 1.0},
                                         {std::span(kRoentgen), kMicroRoentgenPerMicroSievert}}) {
      for (const std::string_view unit : units) {
        if (known || !EndsWith(part, unit)) continue;
        known = true;
        dose = NumberBefore(part, unit);
        if (dose) *dose /= divisor;
      }
    }
    for (const std::string_view unit : kCps) {
      if (known || !EndsWith(part, unit)) continue;
      known = true;
      cps = NumberBefore(part, unit);
      bad = bad || !cps;
    }
    for (const std::string_view label :
         {std::string_view("Точность:"), std::string_view("Accuracy:")}) {
      if (known || !StartsWith(part, label)) continue;
      known = true;
      std::string_view value = Trimmed(part.substr(label.size()));
      if (StartsWith(value, "\xC2\xB1")) value.remove_prefix(2);  // ±
      for (const std::string_view unit : {std::string_view("м"), std::string_view("m")}) {
        if (EndsWith(value, unit)) value = Trimmed(value.substr(0, value.size() - unit.size()));
      }
      accuracy = CommaNumberIn(value);
      bad = bad || !accuracy;
    }
  }
  if (!result.position_read || !dose || bad) {
    result.reason = RejectReason::kNumber;
    return;
  }
  const std::optional<std::int64_t> time = parts.empty() ? std::nullopt : PlacemarkTime(parts[0]);
  if (!time) {
    result.reason = RejectReason::kTime;
    return;
  }
  // The phone's local time, without a zone, like the own log's.
  m.time = *time;
  m.utc = false;
  if (options.utc_offset) {
    m.time -= *options.utc_offset;
    m.utc = true;
  }
  m.dose_usvh = *dose;
  m.has_cpm = cps.has_value();
  m.cpm = cps.value_or(0) * kSecondsPerMinute;
  m.has_accuracy = accuracy.has_value();
  m.accuracy_m = accuracy.value_or(0);
  // The app writes 0 for every altitude: it has none to give.
  CheckPosition(result);
}

// More attributes than any KML element has: libxml2 checks each new attribute against those
// before it, so an element of 80,000 takes seconds.
constexpr int kMaxAttributes = 1000;

// The log's bytes as libxml2's input; an error of the log's reading is kept for after. The bytes
// are scanned for the attributes of each tag on the way.
struct Input {
  LineReader* reader;
  std::string_view pending;
  std::exception_ptr error;
  std::string not_kml;  // why the bytes are no KML log, found while scanning them
  bool in_tag = false;
  char quote = 0;  // within a tag: the quote of the value being read, or 0
  int attributes = 0;

  // False once a tag holds more than kMaxAttributes attributes (counted by their "=").
  bool Scan(std::string_view bytes) {
    for (const char c : bytes) {
      if (!in_tag) {
        if (c == '<') in_tag = true, quote = 0, attributes = 0;
      } else if (quote != 0) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '=') {
        if (++attributes > kMaxAttributes) return false;
      } else if (c == '>') {
        in_tag = false;
      }
    }
    return true;
  }
};

int ReadInput(void* context, char* buffer, int size) {
  Input& input = *static_cast<Input*>(context);
  try {
    if (input.pending.empty()) input.pending = input.reader->NextBytes();
  } catch (...) {
    input.error = std::current_exception();
    return -1;
  }
  const std::size_t n = std::min(input.pending.size(), static_cast<std::size_t>(size));
  if (!input.Scan(input.pending.substr(0, n))) {
    input.not_kml = "an element of over " + std::to_string(kMaxAttributes) + " attributes";
    return -1;
  }
  if (n > 0) std::memcpy(buffer, input.pending.data(), n);
  input.pending.remove_prefix(n);
  return static_cast<int>(n);
}

void KeepFirstError(void* context, xmlErrorPtr error) {
  auto& message = *static_cast<std::string*>(context);
  if (message.empty() && error != nullptr && error->message != nullptr) {
    message = error->message;
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
      message.pop_back();
  }
}

class KmlSource : public RecordSource {
 public:
  KmlSource(LineReader& reader, const ReaderOptions& options)
      : reader_(reader), options_(options) {}

  ReadEnd Read(const RecordHandler& handle) override {
    static std::once_flag initialised;
    std::call_once(initialised, xmlInitParser);
    Input input{&reader_, {}, nullptr, {}};
    // No network, no entities of outside files: a log is read as it is.
    const std::unique_ptr<xmlTextReader, void (*)(xmlTextReaderPtr)> xml(
        xmlReaderForIO(ReadInput, nullptr, &input, nullptr, nullptr, XML_PARSE_NONET),
        xmlFreeTextReader);
    if (!xml) return {"can't start the XML reader"};
    std::string error;
    xmlTextReaderSetStructuredErrorHandler(xml.get(), KeepFirstError, &error);
    enum class Capture { kNone, kCoordinates, kDescription } capture = Capture::kNone;
    bool root_seen = false, in_placemark = false, has_point = false;
    int placemark_depth = 0, capture_depth = 0;
    long index = 0;
    std::string coordinates, description, text;
    int status;
    while ((status = xmlTextReaderRead(xml.get())) == 1) {
      const int type = xmlTextReaderNodeType(xml.get());
      const int depth = xmlTextReaderDepth(xml.get());
      const auto name = [&]() {
        const xmlChar* local = xmlTextReaderConstLocalName(xml.get());
        return std::string_view(local == nullptr ? "" : reinterpret_cast<const char*>(local));
      };
      if (type == XML_READER_TYPE_ELEMENT) {
        if (!root_seen && name() != "kml") return {"its root is not <kml>"};
        root_seen = true;
        const bool empty = xmlTextReaderIsEmptyElement(xml.get()) == 1;
        if (capture == Capture::kDescription) {
          // An element in the description parts it like a tag; what is read of it stays bounded.
          if (description.size() + 2 <= kMaxPartBytes) description += "<>";
        } else if (!in_placemark && name() == "Placemark") {
          in_placemark = true, has_point = false;
          placemark_depth = depth;
          coordinates.clear(), description.clear();
          ++index;
        } else if (in_placemark && name() == "Point") {
          has_point = true;
        } else if (in_placemark && !empty && name() == "coordinates") {
          capture = Capture::kCoordinates, capture_depth = depth;
        } else if (in_placemark && !empty && name() == "description" &&
                   depth == placemark_depth + 1) {
          capture = Capture::kDescription, capture_depth = depth;
        }
        if (empty && in_placemark && name() == "Placemark" && depth == placemark_depth) {
          in_placemark = false;
          Emit(index, coordinates, false, description, text, handle);
        }
      } else if (type == XML_READER_TYPE_TEXT || type == XML_READER_TYPE_CDATA ||
                 type == XML_READER_TYPE_SIGNIFICANT_WHITESPACE) {
        std::string& target = capture == Capture::kCoordinates ? coordinates : description;
        if (capture != Capture::kNone) {
          const xmlChar* value = xmlTextReaderConstValue(xml.get());
          const std::string_view bytes(value == nullptr ? ""
                                                        : reinterpret_cast<const char*>(value));
          target.append(bytes.substr(0, kMaxPartBytes - std::min(kMaxPartBytes, target.size())));
        }
      } else if (type == XML_READER_TYPE_END_ELEMENT) {
        if (capture != Capture::kNone && depth == capture_depth) {
          capture = Capture::kNone;
        } else if (in_placemark && depth == placemark_depth && name() == "Placemark") {
          in_placemark = false;
          Emit(index, coordinates, has_point && !coordinates.empty(), description, text, handle);
        }
      }
    }
    if (input.error) std::rethrow_exception(input.error);
    if (!input.not_kml.empty()) return {input.not_kml};
    if (status != 0) return {error.empty() ? "not well-formed XML" : error};
    if (!root_seen) return {"no <kml> element"};
    return {};
  }

 private:
  void Emit(long index, const std::string& coordinates, bool has_point,
            const std::string& description, std::string& text, const RecordHandler& handle) {
    RecordResult result;
    ReadPlacemark(coordinates, has_point, description, options_, result);
    text = "(placemark " + std::to_string(index) + ")";
    std::string evidence = coordinates;
    evidence += ';';
    evidence += description;
    handle(result, index, text, evidence);
  }

  LineReader& reader_;
  ReaderOptions options_;
};

// A <kml> root whose placemarks have the app's descriptions: a bold date, then a dose.
int ToldBy(const LogHead& head) {
  bool kml = false;
  for (std::size_t i = 0; i < head.lines.size(); ++i) {
    const std::string_view line = head.lines[i];
    kml = kml || line.find("<kml") != std::string_view::npos;
    if (!kml || line.find("<b>") == std::string_view::npos) continue;
    for (const std::string_view unit :
         {"мкЗв/ч", "\xC2\xB5Sv/h", "\xCE\xBCSv/h", "мкР/ч", "\xC2\xB5R/h", "\xCE\xBCR/h"}) {
      if (line.find(unit) != std::string_view::npos) return static_cast<int>(i);
    }
  }
  return -1;
}

std::unique_ptr<RecordSource> Open(LineReader& reader, const ReaderOptions& options) {
  return std::make_unique<KmlSource>(reader, options);
}

}  // namespace

extern const FormatRow kRadiacodeKmlFormat = {
    "radiacode-kml",
    "RadiaCode-type track: the phone app's KML export (Russian or English; local times)", ToldBy,
    nullptr, Open};

}  // namespace dosemap
