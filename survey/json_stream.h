#ifndef DOSEMAP_SURVEY_JSON_STREAM_H_
#define DOSEMAP_SURVEY_JSON_STREAM_H_

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <streambuf>
#include <string>
#include <string_view>

#include "survey/readers.h"

namespace dosemap {

// The longest string or number token a JSON log may hold whole (no real track comes near it).
inline constexpr std::size_t kMaxJsonTokenBytes = 1 << 20;

// A byte source as a stream buffer, so that the JSON parser reads a log as it comes. A string or
// number token longer than kMaxJsonTokenBytes reaches the parser cut: a string to about that
// length (after a whole character or escape, so it stays valid), a number as a 0, so that the
// parser never holds a giant token; cuts() counts the tokens cut.
class ByteSourceBuffer : public std::streambuf {
 public:
  explicit ByteSourceBuffer(const ByteSource& source) : source_(source) {}
  std::size_t cuts() const { return cuts_; }

 protected:
  int_type underflow() override;

 private:
  enum class State { kOutside, kNumber, kNumberCut, kString, kStringCut };
  // Appends c to out_, or drops it, as the token it belongs to allows.
  void Take(char c);

  const ByteSource& source_;
  std::string_view pending_;
  std::string out_;
  std::string number_;  // the number token being read, until it ends
  State state_ = State::kOutside;
  std::size_t length_ = 0;       // of the token so far
  bool escape_ = false;          // after a backslash in a string
  int hex_left_ = 0;             // digits of a \u escape still to come
  unsigned hex_ = 0;             // its value so far
  bool high_surrogate_ = false;  // the last escape was the first half of a pair
  std::size_t cuts_ = 0;
};

// nlohmann's SAX events, reduced to what the JSON readers use: a value (null, a number, or
// anything else with its text), a container opened (an object or an array) and closed, and the
// last key read. The first parse error is kept.
class JsonEvents : public nlohmann::json_sax<nlohmann::json> {
 public:
  enum class Value { kNull, kNumber, kOther };
  const std::string& error() const { return error_; }
  // The stream's buffer, so that a token it cut makes its record a reject.
  void set_buffer(const ByteSourceBuffer* buffer) { buffer_ = buffer; }

  bool null() override { return Scalar(Value::kNull, 0, {}); }
  bool boolean(bool value) override { return Boolean(value); }
  bool number_integer(number_integer_t x) override { return Number(static_cast<double>(x)); }
  bool number_unsigned(number_unsigned_t x) override { return Number(static_cast<double>(x)); }
  bool number_float(number_float_t x, const string_t&) override { return Number(x); }
  bool string(string_t& text) override {
    NoteCut(RejectReason::kFields);
    return Scalar(Value::kOther, 0, text);
  }
  bool binary(binary_t&) override { return Scalar(Value::kOther, 0, {}); }
  bool start_object(std::size_t) override { return Open(true); }
  bool start_array(std::size_t) override { return Open(false); }
  bool end_object() override { return Close(); }
  bool end_array() override { return Close(); }
  bool key(string_t& name) override {
    NoteCut(RejectReason::kFields);
    key_ = name;
    return true;
  }
  bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override {
    error_ = e.what();
    return false;
  }

 protected:
  // Why the record being read is rejected for a token that was cut (kNone: none was); a reader
  // clears it as a record begins.
  RejectReason cut_reason_ = RejectReason::kNone;

  // Each returns false to stop the parse (with error_ saying why).
  virtual bool Scalar(Value value, double x, std::string_view text) = 0;
  virtual bool Open(bool object) = 0;
  virtual bool Close() = 0;
  virtual bool Boolean(bool) { return Scalar(Value::kOther, 0, {}); }

  std::string key_;
  std::string error_;

 private:
  bool Number(double x) {
    // A number cut short is not the number the log holds.
    if (NoteCut(RejectReason::kNumber)) return Scalar(Value::kOther, 0, {});
    return Scalar(Value::kNumber, x, {});
  }
  bool NoteCut(RejectReason reason) {
    if (buffer_ == nullptr || buffer_->cuts() == cuts_seen_) return false;
    cuts_seen_ = buffer_->cuts();
    if (cut_reason_ == RejectReason::kNone) cut_reason_ = reason;
    return true;
  }

  const ByteSourceBuffer* buffer_ = nullptr;
  std::size_t cuts_seen_ = 0;
};

// One JSON record's fields by name, as its values come: each missing (or null), a finite number,
// or anything else; and the record's values as text, up to 1 KiB (what the privacy check reads of
// a rejected record).
enum class FieldState { kMissing, kNumber, kBad };
template <std::size_t kCount>
class JsonFields {
 public:
  explicit JsonFields(std::array<std::string_view, kCount> names) : names_(names) {}
  void Begin() {
    states_.fill(FieldState::kMissing);
    evidence_.clear();
  }
  // A value read under key.
  void Note(std::string_view key, JsonEvents::Value value, double x, std::string_view text) {
    char digits[32];
    if (value == JsonEvents::Value::kNumber)
      text =
          std::string_view(digits, std::to_chars(digits, digits + sizeof digits, x).ptr - digits);
    if (value != JsonEvents::Value::kNull && evidence_.size() + text.size() + 1 <= kMaxEvidence)
      evidence_.append(text).push_back(';');
    for (std::size_t f = 0; f < kCount; ++f) {
      if (key != names_[f]) continue;
      if (value == JsonEvents::Value::kNull) {
        states_[f] = FieldState::kMissing;
      } else if (value == JsonEvents::Value::kNumber && std::isfinite(x)) {
        states_[f] = FieldState::kNumber;
        values_[f] = x;
      } else {
        states_[f] = FieldState::kBad;
      }
    }
  }
  FieldState state(std::size_t f) const { return states_[f]; }
  bool number(std::size_t f) const { return states_[f] == FieldState::kNumber; }
  bool any_missing() const {
    return std::find(states_.begin(), states_.end(), FieldState::kMissing) != states_.end();
  }
  double value(std::size_t f) const { return values_[f]; }
  const std::string& evidence() const { return evidence_; }

 private:
  static constexpr std::size_t kMaxEvidence = 1024;
  std::array<std::string_view, kCount> names_;
  std::array<FieldState, kCount> states_{};
  std::array<double, kCount> values_{};
  std::string evidence_;
};

// Parses the bytes of next_bytes as JSON into events; throws std::runtime_error with the parse
// error (or "not valid JSON") when they are not.
[[nodiscard]] std::string ParseJsonStream(const ByteSource& next_bytes, JsonEvents& events);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_JSON_STREAM_H_
