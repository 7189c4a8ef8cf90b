#ifndef DOSEMAP_FUZZ_FUZZ_DIR_H_
#define DOSEMAP_FUZZ_FUZZ_DIR_H_

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace dosemap::fuzz {

// One scratch directory per process, reused by every input; removed at exit.
inline const std::filesystem::path& ScratchDir() {
  static const std::filesystem::path dir = [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "dosemap-fuzz-XXXXXX").string();
    std::filesystem::path made = ::mkdtemp(pattern.data());
    static const std::filesystem::path removed_at_exit = made;
    std::atexit([] { std::filesystem::remove_all(removed_at_exit); });
    return made;
  }();
  return dir;
}

inline void WriteFile(const std::string& name, const char* data, std::size_t size) {
  std::ofstream(ScratchDir() / name, std::ios::binary | std::ios::trunc).write(data, size);
}

inline std::string ReadFile(const std::string& name) {
  std::ifstream in(ScratchDir() / name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Stops the fuzzer with a finding when a property does not hold.
#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__, __LINE__); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

}  // namespace dosemap::fuzz

#endif  // DOSEMAP_FUZZ_FUZZ_DIR_H_
