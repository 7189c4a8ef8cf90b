#ifndef DOSEMAP_SURVEY_JSON_STREAM_H_
#define DOSEMAP_SURVEY_JSON_STREAM_H_

#include <nlohmann/json.hpp>
#include <streambuf>
#include <string>
#include <string_view>

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

// nlohmann's SAX events, reduced to what the JSON readers use: a value (null, a number, or
// anything else with its text), a container opened (an object or an array) and closed, and the
// last key read. The first parse error is kept.
class JsonEvents : public nlohmann::json_sax<nlohmann::json> {
 public:
  enum class Value { kNull, kNumber, kOther };
  const std::string& error() const { return error_; }

  bool null() override { return Scalar(Value::kNull, 0, {}); }
  bool boolean(bool value) override { return Boolean(value); }
  bool number_integer(number_integer_t x) override {
    return Scalar(Value::kNumber, static_cast<double>(x), {});
  }
  bool number_unsigned(number_unsigned_t x) override {
    return Scalar(Value::kNumber, static_cast<double>(x), {});
  }
  bool number_float(number_float_t x, const string_t&) override {
    return Scalar(Value::kNumber, x, {});
  }
  bool string(string_t& text) override { return Scalar(Value::kOther, 0, text); }
  bool binary(binary_t&) override { return Scalar(Value::kOther, 0, {}); }
  bool start_object(std::size_t) override { return Open(true); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    key_ = name;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error_ = e.what();
    return false;
  }

 protected:
  // Each returns false to stop the parse (with error_ saying why).
  virtual bool Scalar(Value value, double x, std::string_view text) = 0;
  virtual bool Open(bool object) = 0;
  virtual bool Close() = 0;
  virtual bool Boolean(bool) { return Scalar(Value::kOther, 0, {}); }

  std::string key_;
  std::string error_;
};

// Parses the bytes of next_bytes as JSON into events; throws std::runtime_error with the parse
// error (or "not valid JSON") when they are not.
void ParseJsonStream(const ByteSource& next_bytes, JsonEvents& events);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_JSON_STREAM_H_
