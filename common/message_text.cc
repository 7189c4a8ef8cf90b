#include "common/message_text.h"

namespace dosemap {
namespace {

void AppendEscaped(std::string& out, unsigned char c) {
  switch (c) {
    case '\n':
      out += "\\n";
      return;
    case '\r':
      out += "\\r";
      return;
    case '\t':
      out += "\\t";
      return;
    default:
      break;
  }
  if (c < 0x20 || c == 0x7f) {
    constexpr char kHex[] = "0123456789abcdef";
    out += "\\x";
    out += kHex[c >> 4];
    out += kHex[c & 15];
    return;
  }
  out += static_cast<char>(c);
}

}  // namespace

std::string_view CutUtf8(std::string_view text, std::size_t max_bytes) {
  if (text.size() <= max_bytes) return text;
  std::size_t end = max_bytes;
  // Back off to the start of a UTF-8 character: continuation bytes are 10xxxxxx.
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

std::string QuotedForMessage(std::string_view text) {
  const bool cut = text.size() > kMessageQuoteBytes;
  text = CutUtf8(text, kMessageQuoteBytes);
  std::string quoted = "\"";
  for (const char c : text) AppendEscaped(quoted, static_cast<unsigned char>(c));
  if (cut) quoted += "\xE2\x80\xA6";  // …
  return quoted + "\"";
}

std::string OneLine(std::string_view message) {
  std::string line;
  line.reserve(message.size());
  for (const char c : message) AppendEscaped(line, static_cast<unsigned char>(c));
  return line;
}

}  // namespace dosemap
