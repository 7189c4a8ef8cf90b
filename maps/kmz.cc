#include "maps/kmz.h"

#include <zip.h>

#include "common/error.h"
#include "maps/square_icon.h"

namespace dosemap {
namespace {

[[noreturn]] void Fail(const std::filesystem::path& kmz, const std::string& what) {
  throw FileError(FileErrorKind::kWriteFailed, kmz.string() + ": " + what);
}

}  // namespace

std::string_view SquareIconPng() {
  return {reinterpret_cast<const char*>(kSquareIconPng), sizeof kSquareIconPng};
}

namespace {

int Cancelled(zip_t*, void* flag) {
  return static_cast<const std::atomic<bool>*>(flag)->load(std::memory_order_relaxed) ? 1 : 0;
}

}  // namespace

void WriteKmz(const std::filesystem::path& kmz, const std::vector<KmzEntry>& entries, int level,
              const std::atomic<bool>* cancel) {
  int code = 0;
  // libzip stages the archive in a unique temporary file beside kmz and renames it at zip_close;
  // ZIP_TRUNCATE ignores whatever the old file holds.
  zip_t* archive = zip_open(kmz.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &code);
  if (archive == nullptr) {
    zip_error_t reason;
    zip_error_init_with_code(&reason, code);
    const std::string message = std::string("cannot create: ") + zip_error_strerror(&reason);
    zip_error_fini(&reason);
    Fail(kmz, message);
  }
  for (const KmzEntry& entry : entries) {
    zip_source_t* source =
        entry.file.empty() ? zip_source_buffer(archive, entry.bytes.data(), entry.bytes.size(), 0)
                           : zip_source_file(archive, entry.file.c_str(), 0, -1);
    const zip_int64_t index =
        source == nullptr ? -1
                          : zip_file_add(archive, entry.name.c_str(), source, ZIP_FL_ENC_UTF_8);
    if (index < 0 || (level > 0 && zip_set_file_compression(
                                       archive, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE,
                                       static_cast<zip_uint32_t>(level)) < 0)) {
      if (source != nullptr && index < 0) zip_source_free(source);
      const std::string message = zip_strerror(archive);
      zip_discard(archive);
      Fail(kmz, message);
    }
  }
  if (cancel != nullptr) {
    zip_register_cancel_callback_with_state(archive, Cancelled, nullptr,
                                            const_cast<std::atomic<bool>*>(cancel));
  }
  if (zip_close(archive) != 0) {
    const std::string message = std::string("cannot write: ") + zip_strerror(archive);
    zip_discard(archive);
    Fail(kmz, message);
  }
}

}  // namespace dosemap
