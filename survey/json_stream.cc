#include "survey/json_stream.h"

#include <istream>
#include <stdexcept>

#include "common/message_text.h"

namespace dosemap {
namespace {

bool NumberByte(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 0;
}

}  // namespace

ByteSourceBuffer::int_type ByteSourceBuffer::underflow() {
  out_.clear();
  while (out_.empty()) {
    if (pending_.empty()) {
      pending_ = source_();
      if (pending_.empty()) {
        out_ += number_;  // a number that ends the input
        number_.clear();
        if (out_.empty()) return traits_type::eof();
        break;
      }
    }
    // At most 64 KiB a turn: the bytes passed on stay few, however long a token is dropped.
    const std::size_t n = std::min<std::size_t>(pending_.size(), 64 << 10);
    for (std::size_t i = 0; i < n; ++i) Take(pending_[i]);
    pending_.remove_prefix(n);
  }
  setg(out_.data(), out_.data(), out_.data() + out_.size());
  return traits_type::to_int_type(out_[0]);
}

void ByteSourceBuffer::Take(char c) {
  switch (state_) {
    case State::kNumber:
      if (NumberByte(c)) {
        if (number_.size() >= kMaxJsonTokenBytes) {
          // Its digits so far would still be a number too large to read: a 0 stands for it.
          state_ = State::kNumberCut;
          ++cuts_;
          number_.clear();
          out_.push_back('0');
          return;
        }
        number_.push_back(c);
        return;
      }
      out_ += number_;
      number_.clear();
      state_ = State::kOutside;
      break;
    case State::kNumberCut:
      if (NumberByte(c)) return;
      state_ = State::kOutside;
      break;
    case State::kString:
    case State::kStringCut: {
      const bool cut = state_ == State::kStringCut;
      if (hex_left_ > 0) {
        hex_ = hex_ * 16 + static_cast<unsigned>(HexDigit(c));
        if (--hex_left_ == 0) {
          // The second half of a pair completes it; else a first half waits for its second.
          high_surrogate_ = !high_surrogate_ && hex_ >= 0xD800 && hex_ <= 0xDBFF;
        }
      } else if (escape_) {
        escape_ = false;
        if (c == 'u') {
          hex_left_ = 4, hex_ = 0;
        } else {
          high_surrogate_ = false;
        }
      } else if (c == '"') {
        state_ = State::kOutside;
        out_.push_back(c);
        return;
      } else {
        // Cut only where what was passed on is a whole string: before an escape or a character,
        // never between the halves of a pair or inside a UTF-8 character.
        if (!cut && length_ >= kMaxJsonTokenBytes && !high_surrogate_ &&
            (c == '\\' || (static_cast<unsigned char>(c) & 0xC0) != 0x80)) {
          state_ = State::kStringCut;
          ++cuts_;
          escape_ = c == '\\';
          return;
        }
        if (c == '\\') {
          escape_ = true;
        } else {
          high_surrogate_ = false;
        }
      }
      if (state_ == State::kString) {
        ++length_;
        out_.push_back(c);
      }
      return;
    }
    case State::kOutside:
      break;
  }
  if (c == '"') {
    state_ = State::kString;
    length_ = 0, escape_ = false, hex_left_ = 0, high_surrogate_ = false;
  } else if (c == '-' || (c >= '0' && c <= '9')) {
    // A number is passed on once it ends, whole or as a 0 in its place.
    state_ = State::kNumber;
    number_.assign(1, c);
    return;
  }
  out_.push_back(c);
}

std::string ParseJsonStream(const ByteSource& next_bytes, JsonEvents& events) {
  ByteSourceBuffer buffer(next_bytes);
  events.set_buffer(&buffer);
  std::istream in(&buffer);
  if (!nlohmann::json::sax_parse(in, &events)) {
    // The parser's message may quote a whole token: a message quotes a few dozen bytes at most.
    const std::string& error = events.error();
    constexpr std::size_t kMaxErrorBytes = 120;
    return error.empty() ? "not valid JSON"
           : error.size() <= kMaxErrorBytes
               ? error
               : std::string(CutUtf8(error, kMaxErrorBytes)) + "\xE2\x80\xA6";
  }
  return "";
}

}  // namespace dosemap
