#ifndef DOSEMAP_SURVEY_CIVIL_TIME_H_
#define DOSEMAP_SURVEY_CIVIL_TIME_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dosemap {

// Reads "YYYY-MM-DD HH:MM:SS" or "YYYY/MM/DD HH:MM:SS", with "T" for the blank, optional
// fractional seconds (dropped), and an optional zone: "Z", " UTC", "+09:00", "+0900". Returns
// seconds since 1970-01-01T00:00:00 of the text's clock, moved to UTC when it names an offset;
// nothing for a text that isn't such a time or names an impossible date or clock time.
std::optional<std::int64_t> ParseCivilTime(std::string_view text);

// Seconds since 1970 from a separate date ("YYYY-MM-DD") and time ("HH:MM:SS").
std::optional<std::int64_t> ParseDateAndTime(std::string_view date, std::string_view time);

// "2026-11-14T09:00:00", with "Z" appended when utc.
std::string IsoTime(std::int64_t seconds, bool utc);
// The same appended to out, for writers that format a time per line.
void AppendIsoTime(std::string& out, std::int64_t seconds, bool utc);

// Whether seconds since 1970 lie from 0001-01-01 to 9999-12-31T23:59:59, the times maps can
// write.
inline bool IsCivilSeconds(double seconds) {
  return seconds >= -62135596800.0 && seconds < 253402300800.0;
}

// Reads a bound of a period: an ISO 8601 date ("2024-05-01", its midnight) or date-time
// ("2024-05-01T09:00:00", with an optional fraction and an optional "Z" or "+HH:MM"; UTC when it
// names no zone). Returns the first whole second at or after that instant, as a log's times are
// whole seconds; nothing for any other text.
std::optional<std::int64_t> ParsePeriodTime(std::string_view text);

// Reads "+09:00", "-05:30", "+0900" or "Z" as seconds east of UTC.
std::optional<std::int64_t> ParseUtcOffset(std::string_view text);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_CIVIL_TIME_H_
