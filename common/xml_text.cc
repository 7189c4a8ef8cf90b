#include "common/xml_text.h"

namespace dosemap {

std::string XmlEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

bool IsXmlChar(char32_t c) {
  return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) ||
         (c >= 0xE000 && c <= 0xFFFD) || (c >= 0x10000 && c <= 0x10FFFF);
}

// The length of the well-formed UTF-8 sequence at the start of text, 0 when there is none, and
// its code point.
std::size_t Utf8Sequence(std::string_view text, char32_t* code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  std::size_t length;
  char32_t c;
  char32_t lowest;
  if (lead < 0x80) {
    *code_point = lead;
    return 1;
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, c = lead & 0x1F, lowest = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, c = lead & 0x0F, lowest = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, c = lead & 0x07, lowest = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    c = (c << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
  if (c < lowest || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return 0;
  *code_point = c;
  return length;
}

}  // namespace

std::string XmlSafe(std::string_view text) {
  std::string safe;
  safe.reserve(text.size());
  while (!text.empty()) {
    char32_t c = 0;
    const std::size_t length = Utf8Sequence(text, &c);
    if (length == 0 || !IsXmlChar(c)) {
      safe += kReplacement;
      text.remove_prefix(length == 0 ? 1 : length);
    } else {
      safe.append(text.substr(0, length));
      text.remove_prefix(length);
    }
  }
  return safe;
}

}  // namespace dosemap
