#include "survey/civil_time.h"

#include <charconv>
#include <chrono>

namespace dosemap {
namespace {

// Reads exactly `digits` decimal digits at text[at].
bool Digits(std::string_view text, std::size_t at, std::size_t digits, int* value) {
  if (at + digits > text.size()) return false;
  int v = 0;
  for (std::size_t i = at; i < at + digits; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  *value = v;
  return true;
}

std::optional<std::int64_t> DaysOf(int year, int month, int day) {
  const std::chrono::year_month_day date{std::chrono::year(year), std::chrono::month(month),
                                         std::chrono::day(day)};
  if (!date.ok()) return std::nullopt;
  return std::chrono::sys_days(date).time_since_epoch().count();
}

std::optional<std::int64_t> ParseDate(std::string_view text, char separator) {
  int year, month, day;
  if (text.size() != 10 || !Digits(text, 0, 4, &year) || text[4] != separator ||
      !Digits(text, 5, 2, &month) || text[7] != separator || !Digits(text, 8, 2, &day)) {
    return std::nullopt;
  }
  return DaysOf(year, month, day);
}

// "HH:MM:SS" with optional fractional seconds; the seconds of the day and what follows.
std::optional<std::int64_t> ParseClock(std::string_view text, std::string_view* rest) {
  int hour, minute, second;
  if (!Digits(text, 0, 2, &hour) || text.size() < 8 || text[2] != ':' ||
      !Digits(text, 3, 2, &minute) || text[5] != ':' || !Digits(text, 6, 2, &second) || hour > 23 ||
      minute > 59 || second > 60 || (second == 60 && (hour != 23 || minute != 59))) {
    return std::nullopt;
  }
  std::size_t at = 8;
  if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
    ++at;
    const std::size_t first = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
    if (at == first) return std::nullopt;
  }
  *rest = text.substr(at);
  return hour * 3600 + minute * 60 + second;
}

}  // namespace

std::optional<std::int64_t> ParseUtcOffset(std::string_view text) {
  if (text == "Z") return 0;
  int hours, minutes;
  if (text.size() < 3 || (text[0] != '+' && text[0] != '-') || !Digits(text, 1, 2, &hours))
    return std::nullopt;
  std::size_t at = 3;
  if (at < text.size() && text[at] == ':') ++at;
  if (!Digits(text, at, 2, &minutes) || at + 2 != text.size() || hours > 23 || minutes > 59) {
    return std::nullopt;
  }
  const std::int64_t seconds = hours * 3600 + minutes * 60;
  return text[0] == '-' ? -seconds : seconds;
}

std::optional<std::int64_t> ParseCivilTime(std::string_view text) {
  if (text.size() < 19) return std::nullopt;
  const char separator = text[4];
  if (separator != '-' && separator != '/') return std::nullopt;
  const std::optional<std::int64_t> days = ParseDate(text.substr(0, 10), separator);
  if (!days || (text[10] != ' ' && text[10] != 'T')) return std::nullopt;
  std::string_view zone;
  const std::optional<std::int64_t> clock = ParseClock(text.substr(11), &zone);
  if (!clock) return std::nullopt;
  std::int64_t offset = 0;
  if (zone == " UTC" || zone == "UTC") {
    offset = 0;
  } else if (!zone.empty()) {
    const std::optional<std::int64_t> parsed = ParseUtcOffset(zone);
    if (!parsed) return std::nullopt;
    offset = *parsed;
  }
  return *days * 86400 + *clock - offset;
}

std::optional<std::int64_t> ParseDateAndTime(std::string_view date, std::string_view time) {
  const std::optional<std::int64_t> days = ParseDate(date, '-');
  std::string_view rest;
  const std::optional<std::int64_t> clock = ParseClock(time, &rest);
  if (!days || !clock || !rest.empty()) return std::nullopt;
  return *days * 86400 + *clock;
}

std::string IsoTime(std::int64_t seconds, bool utc) {
  std::string text;
  AppendIsoTime(text, seconds, utc);
  return text;
}

void AppendIsoTime(std::string& out, std::int64_t seconds, bool utc) {
  std::int64_t days = seconds / 86400;
  std::int64_t of_day = seconds % 86400;
  if (of_day < 0) of_day += 86400, --days;
  const std::chrono::year_month_day date{std::chrono::sys_days(std::chrono::days(days))};
  char text[40];
  const int year = static_cast<int>(date.year());
  const auto two = [](char* at, int value) {
    at[0] = static_cast<char>('0' + value / 10);
    at[1] = static_cast<char>('0' + value % 10);
  };
  char* end = text;
  if (year < 0 || year > 9999) {
    end = std::to_chars(end, text + 12, year).ptr;
  } else {
    two(end, year / 100), two(end + 2, year % 100), end += 4;
  }
  *end++ = '-', two(end, static_cast<int>(static_cast<unsigned>(date.month()))), end += 2;
  *end++ = '-', two(end, static_cast<int>(static_cast<unsigned>(date.day()))), end += 2;
  *end++ = 'T', two(end, static_cast<int>(of_day / 3600)), end += 2;
  *end++ = ':', two(end, static_cast<int>(of_day / 60 % 60)), end += 2;
  *end++ = ':', two(end, static_cast<int>(of_day % 60)), end += 2;
  if (utc) *end++ = 'Z';
  out.append(text, end);
}

std::optional<std::int64_t> ParsePeriodTime(std::string_view text) {
  const auto digits = [&text](std::size_t at, std::size_t count) {
    if (text.size() < at + count) return false;
    for (std::size_t i = at; i < at + count; ++i) {
      if (text[i] < '0' || text[i] > '9') return false;
    }
    return true;
  };
  if (!digits(0, 4) || text.size() < 10 || text[4] != '-' || !digits(5, 2) || text[7] != '-' ||
      !digits(8, 2))
    return std::nullopt;
  if (text.size() == 10) return ParseCivilTime(std::string(text) + "T00:00:00Z");
  if (text.size() < 19 || text[10] != 'T' || !digits(11, 2) || text[13] != ':' || !digits(14, 2) ||
      text[16] != ':' || !digits(17, 2))
    return std::nullopt;
  std::size_t at = 19;
  bool fraction = false;  // a part of a second beyond the whole ones
  if (at < text.size() && text[at] == '.') {
    const std::size_t first = ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') fraction |= text[at++] != '0';
    if (at == first) return std::nullopt;
  }
  const std::string_view zone = text.substr(at);
  if (!(zone.empty() || zone == "Z" ||
        (zone.size() == 6 && (zone[0] == '+' || zone[0] == '-') && digits(at + 1, 2) &&
         zone[3] == ':' && digits(at + 4, 2))))
    return std::nullopt;
  const std::optional<std::int64_t> seconds =
      ParseCivilTime(std::string(text.substr(0, 19)) + std::string(zone.empty() ? "Z" : zone));
  if (!seconds) return std::nullopt;
  return *seconds + (fraction ? 1 : 0);
}

}  // namespace dosemap
