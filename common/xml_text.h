#ifndef DOSEMAP_COMMON_XML_TEXT_H_
#define DOSEMAP_COMMON_XML_TEXT_H_

#include <string>
#include <string_view>

namespace dosemap {

// text with "&", "<" and ">" written as entities, so that any file name makes a valid element.
std::string XmlEscaped(std::string_view text);

// text with every byte sequence that isn't UTF-8, and every character XML 1.0 does not allow
// (control characters, U+FFFE, U+FFFF), replaced by U+FFFD. Valid UTF-8 passes unchanged.
std::string XmlSafe(std::string_view text);

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_XML_TEXT_H_
