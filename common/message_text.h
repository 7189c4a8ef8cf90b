#ifndef DOSEMAP_COMMON_MESSAGE_TEXT_H_
#define DOSEMAP_COMMON_MESSAGE_TEXT_H_

#include <string>
#include <string_view>

namespace dosemap {

// How many bytes of a quoted text a message shows before it cuts it with "…".
inline constexpr std::size_t kMessageQuoteBytes = 60;

// text as a message quotes it: in double quotes, control bytes escaped ("\n", "\r", "\t",
// "\x01"), and cut after about kMessageQuoteBytes bytes (never inside a UTF-8 character) with
// "…", so that a megabyte of junk or a line break in a field can't spread a message over lines.
std::string QuotedForMessage(std::string_view text);

// The first bytes of text, at most max_bytes, never ending inside a UTF-8 character.
std::string_view CutUtf8(std::string_view text, std::size_t max_bytes);

// message with every control byte escaped as QuotedForMessage does, so it prints as one line.
std::string OneLine(std::string_view message);

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_MESSAGE_TEXT_H_
