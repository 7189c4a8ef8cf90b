#ifndef DOSEMAP_SURVEY_JSON_STREAM_H_
#define DOSEMAP_SURVEY_JSON_STREAM_H_

#include <streambuf>

#include "survey/readers.h"

namespace dosemap {

// A byte source as a stream buffer, so that the JSON parser reads a log as it comes.
class ByteSourceBuffer : public std::streambuf {
 public:
  explicit ByteSourceBuffer(const ByteSource& source) : source_(source) {}

 protected:
  int_type underflow() override {
    const std::string_view bytes = source_();
    if (bytes.empty()) return traits_type::eof();
    char* begin = const_cast<char*>(bytes.data());
    setg(begin, begin, begin + bytes.size());
    return traits_type::to_int_type(*begin);
  }

 private:
  const ByteSource& source_;
};

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_JSON_STREAM_H_
