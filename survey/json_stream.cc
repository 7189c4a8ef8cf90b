#include "survey/json_stream.h"

#include <istream>
#include <stdexcept>

namespace dosemap {

void ParseJsonStream(const ByteSource& next_bytes, JsonEvents& events) {
  ByteSourceBuffer buffer(next_bytes);
  std::istream in(&buffer);
  if (!nlohmann::json::sax_parse(in, &events))
    throw std::runtime_error(events.error().empty() ? "not valid JSON" : events.error());
}

}  // namespace dosemap
