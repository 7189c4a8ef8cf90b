#ifndef DOSEMAP_COMMON_BYTE_SINK_H_
#define DOSEMAP_COMMON_BYTE_SINK_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace dosemap {

// Where a map writer puts its bytes: a staged file, or a string in memory for tests. Every
// failure throws FileError.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(std::string_view bytes) = 0;
  // Where the next byte goes.
  virtual std::int64_t offset() const = 0;
  // Overwrites bytes written earlier at offset (a placeholder of the same length).
  virtual void Patch(std::int64_t offset, std::string_view bytes) = 0;

  ByteSink& operator<<(std::string_view bytes) {
    Write(bytes);
    return *this;
  }
};

// The bytes in memory.
class StringSink : public ByteSink {
 public:
  void Write(std::string_view bytes) override { bytes_.append(bytes); }
  std::int64_t offset() const override { return static_cast<std::int64_t>(bytes_.size()); }
  void Patch(std::int64_t offset, std::string_view bytes) override {
    bytes_.replace(static_cast<std::size_t>(offset), bytes.size(), bytes);
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

}  // namespace dosemap

#endif  // DOSEMAP_COMMON_BYTE_SINK_H_
