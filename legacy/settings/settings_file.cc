#include "legacy/settings/settings_file.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <optional>

#include "common/number_text.h"

namespace dosemap {
namespace {

constexpr const char* kDefaultLine = "DATA_0,DATA_0,11,19,,,,,,,,,,,,,,,,,";
constexpr const char* kDefaultName = "DATA_0";
constexpr std::int32_t kDefaultYellow = 11;
constexpr std::int32_t kDefaultRed = 19;

struct StoredSettings {
  std::string first_name;
  std::string second_name;
  std::int32_t yellow = kDefaultYellow;
  std::int32_t red = kDefaultRed;
};

void CloseQuietly(TextFiles& files) {
  try {
    files.CloseFile(kSettingsFileNumber);
  } catch (const FileError&) {
    // An earlier save that could not be finished; its old file stays, which is all we want.
  }
}

StoredSettings ReadSettingsFile(TextFiles& files) {
  StoredSettings stored;
  files.CloseFile(kSettingsFileNumber);
  files.OpenForInput(kSettingsFileNumber, kSettingsFileName);
  files.InputFields(kSettingsFileNumber, {stored.first_name});
  files.InputFields(kSettingsFileNumber, {stored.second_name});
  files.InputFields(kSettingsFileNumber, {stored.yellow});
  files.InputFields(kSettingsFileNumber, {stored.red});
  return stored;
}

void WriteDefaultLine(TextFiles& files) {
  files.CloseFile(kSettingsFileNumber);
  files.OpenForReplace(kSettingsFileNumber, kSettingsFileName);
  files.PrintItems(kSettingsFileNumber, {kDefaultLine});
  files.CloseFile(kSettingsFileNumber);
}

// Reads the file, falling back once to the default line. Empty when neither can be read.
std::optional<StoredSettings> ReadWithFallback(TextFiles& files) {
  try {
    return ReadSettingsFile(files);
  } catch (const FileError&) {
  }
  try {
    WriteDefaultLine(files);
    return ReadSettingsFile(files);
  } catch (const FileError&) {
    CloseQuietly(files);
    return std::nullopt;
  }
}

// Whether a threshold box's text can be saved: the hundredths field, and whether it would load
// back as a 32-bit integer. A field that can't loses every setting at the next start.
SaveResult ThresholdField(const std::string& box_text, std::string& field) {
  const ParsedNumber threshold = ParseNumber(box_text);
  if (threshold.status != NumberStatus::kNumber) return SaveResult::kKeptThresholdNotNumber;
  const double hundredths = 100 * threshold.value;
  if (!std::isfinite(hundredths)) return SaveResult::kKeptThresholdOutOfRange;
  field = NumberText(hundredths);
  // The top few doubles round up to a 15-digit text beyond the double range.
  const ParsedNumber written = ParseNumber(field);
  const double loaded = std::nearbyint(written.value);
  if (written.status != NumberStatus::kNumber ||
      !(loaded >= -2147483648.0 && loaded <= 2147483647.0)) {
    return SaveResult::kKeptThresholdOutOfRange;
  }
  return SaveResult::kSaved;
}

// A name that the input rules would split or trim goes between double quotes. Empty when the
// name can't be written so that it reads back as typed: the input rules have no escape for a
// quote, so a name that begins with one, or that needs quotes and holds one, can't.
std::optional<std::string> NameField(const std::string& name) {
  const bool needs_quotes = name.find_first_of(",\r\n") != std::string::npos ||
                            (!name.empty() && (IsBlank(name.front()) || IsBlank(name.back())));
  if (!name.empty() && name.front() == '"') return std::nullopt;
  if (!needs_quotes) return name;
  if (name.find('"') != std::string::npos) return std::nullopt;
  return "\"" + name + "\"";
}

// Removes "SETT.TXT.<pid>.tmp" files whose process is gone: saves killed before their rename.
void RemoveStaleSaves(const TextFiles& files) {
  const std::filesystem::path settings = files.PathOf(kSettingsFileName);
  std::filesystem::path folder = settings.parent_path();
  if (folder.empty()) folder = ".";
  const std::string prefix = settings.filename().string() + ".";
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - 4, 4, ".tmp") != 0) {
      continue;
    }
    const std::string_view digits(name.data() + prefix.size(), name.size() - prefix.size() - 4);
    long pid = 0;
    const auto [end_of_number, status] =
        std::from_chars(digits.data(), digits.data() + digits.size(), pid);
    if (status != std::errc() || end_of_number != digits.data() + digits.size() || pid <= 0)
      continue;
    if (pid == ::getpid() || ::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    std::error_code ignored;
    std::filesystem::remove(it->path(), ignored);
  }
}

}  // namespace

std::string PlainNumberText(std::int32_t hundredths) {
  const long long magnitude = hundredths < 0 ? -static_cast<long long>(hundredths) : hundredths;
  char text[24];
  char* end = text;
  if (hundredths < 0) *end++ = '-';
  end = std::to_chars(end, text + sizeof text, magnitude / 100).ptr;
  const int cents = static_cast<int>(magnitude % 100);
  if (cents != 0) {
    *end++ = '.';
    *end++ = static_cast<char>('0' + cents / 10);
    if (cents % 10 != 0) *end++ = static_cast<char>('0' + cents % 10);
  }
  return std::string(text, end);
}

void LoadSettings(TextFiles& files, SettingsBoxes& boxes) {
  RemoveStaleSaves(files);
  StoredSettings stored{kDefaultName, kDefaultName, kDefaultYellow, kDefaultRed};
  if (std::optional<StoredSettings> read = ReadWithFallback(files)) stored = *read;
  // All four fields are read before the first set: each set may save, which closes the input.
  boxes.SetBoxText(Box::kText1, stored.first_name);
  boxes.SetBoxText(Box::kText2, stored.second_name);
  boxes.SetBoxText(Box::kText3, PlainNumberText(stored.yellow));
  boxes.SetBoxText(Box::kText5, PlainNumberText(stored.red));
  CloseQuietly(files);
}

SaveResult SaveSettings(TextFiles& files, const SettingsBoxes& boxes) {
  CloseQuietly(files);
  std::string yellow, red;
  if (SaveResult kept = ThresholdField(boxes.BoxText(Box::kText3), yellow);
      kept != SaveResult::kSaved) {
    return kept;
  }
  if (SaveResult kept = ThresholdField(boxes.BoxText(Box::kText5), red);
      kept != SaveResult::kSaved) {
    return kept;
  }
  const std::optional<std::string> first = NameField(boxes.BoxText(Box::kText1));
  const std::optional<std::string> second = NameField(boxes.BoxText(Box::kText2));
  if (!first || !second) return SaveResult::kKeptNameNotStorable;
  files.OpenForReplace(kSettingsFileNumber, kSettingsFileName);
  try {
    files.PrintItems(kSettingsFileNumber, {*first, ",", *second, ",", yellow, ",", red, ","},
                     LineEnd::kContinue);
    for (int i = 0; i < 11; ++i)
      files.PrintItems(kSettingsFileNumber, {"   ,"}, LineEnd::kContinue);
    files.CloseFile(kSettingsFileNumber);
  } catch (const FileError&) {
    CloseQuietly(files);
    throw;
  }
  return SaveResult::kSaved;
}

}  // namespace dosemap
