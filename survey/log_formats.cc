// The formats as rows, how a log's format is told, and the record source of the line formats.
// Adding a format is one file with its parser and its row, one line here and one in CMake.
#include <algorithm>

#include "survey/log_format.h"

namespace dosemap {

extern const FormatRow kRadiacodeTsvFormat, kRadiacodeJsonFormat, kBgeigieFormat, kCzechFormat,
    kAtomfastCsvFormat, kAtomfastJsonFormat, kRadiacodeKmlFormat, kSafecastFormat, kErsFormat,
    kErs1Format, kOwnFormat, kCsvMapFormat, kGeoJsonMapFormat;

namespace {

// The tab-separated RadiaCode export comes before the JSON one: --from radiacode means it unless
// the log's content is JSON.
const FormatRow* const kFormats[] = {
    &kRadiacodeTsvFormat, &kRadiacodeJsonFormat, &kBgeigieFormat,      &kCzechFormat,
    &kAtomfastCsvFormat,  &kAtomfastJsonFormat,  &kRadiacodeKmlFormat, &kSafecastFormat,
    &kErsFormat,          &kErs1Format,          &kOwnFormat,          &kCsvMapFormat,
    &kGeoJsonMapFormat};

constexpr int kHeadLines = 200;

}  // namespace

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

LogHead::LogHead(std::string_view head) {
  if (StartsWith(head, "\xEF\xBB\xBF")) head.remove_prefix(3);  // a byte order mark
  const std::size_t at = head.find_first_not_of(" \t\r\n");
  if (at != std::string_view::npos) first = head[at];
  while (!head.empty() && static_cast<int>(lines.size()) < kHeadLines) {
    const std::size_t end = head.find('\n');
    std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view() : head.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (!line.empty()) lines.push_back(line);
  }
}

std::span<const FormatRow* const> Formats() { return kFormats; }

const FormatRow* DetectFormat(std::string_view head_bytes) {
  const LogHead head(head_bytes);
  const FormatRow* best = nullptr;
  int best_line = kHeadLines;
  for (const FormatRow* format : kFormats) {
    const int line = format->told_by(head);
    if (line >= 0 && line < best_line) best = format, best_line = line;
  }
  return best;
}

const FormatRow* FormatNamed(std::string_view name) {
  for (const FormatRow* format : kFormats) {
    if (format->name == name) return format;
  }
  return nullptr;
}

std::uint8_t FormatIndexOf(const FormatRow& format) {
  for (std::size_t i = 0; i < std::size(kFormats); ++i) {
    if (kFormats[i] == &format) return static_cast<std::uint8_t>(i + 1);
  }
  return 0;
}

double CpmFactorOf(const ReaderOptions& options, const FormatRow& format) {
  for (const auto& [name, factor] : options.format_cpm_factors) {
    if (name == format.name) return factor;
  }
  return options.cpm_factor.value_or(format.cpm_factor);
}

std::string FormatNames() {
  std::string names;
  for (const FormatRow* format : kFormats) {
    if (names.find(format->name) != std::string::npos) continue;
    if (!names.empty()) names += ", ";
    names += format->name;
  }
  return names;
}

ReadEnd LineSource::Read(const RecordHandler& handle) {
  std::vector<RecordResult> results;
  std::string_view line;
  bool too_long = false;
  long last_line = 0;
  std::uint32_t part = 0;  // the records of a line so far, in all its pieces
  while (reader_.NextLine(&line, &too_long)) {
    if (reader_.line_number() != last_line) last_line = reader_.line_number(), part = 0;
    results.clear();
    if (too_long) {
      results.emplace_back().reason = RejectReason::kFields;
    } else {
      parser_->ParseLine(line, results);
    }
    for (RecordResult& result : results) {
      result.measurement.part = part++;
      const std::string_view text = result.text.empty() ? line : result.text;
      handle(result, reader_.line_number(), text, text);
    }
  }
  return {};  // a line that is not of the format is a rejected record, never the log
}

}  // namespace dosemap
