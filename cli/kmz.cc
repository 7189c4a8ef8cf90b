#include "cli/kmz.h"

#include <zip.h>

#include "cli/square_icon.h"

namespace dosemap {
namespace {

std::string ZipError(zip_t* archive) { return zip_strerror(archive); }

}  // namespace

std::string WriteKmz(const std::filesystem::path& kml, const std::filesystem::path& kmz) {
  std::filesystem::path temp = kmz;
  temp += ".part";
  int error = 0;
  zip_t* archive = zip_open(temp.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error);
  if (archive == nullptr) {
    zip_error_t reason;
    zip_error_init_with_code(&reason, error);
    std::string message = kmz.string() + ": cannot create: " + zip_error_strerror(&reason);
    zip_error_fini(&reason);
    return message;
  }
  // The document is read from its file when the archive is closed: nothing is held in memory.
  zip_source_t* document = zip_source_file(archive, kml.c_str(), 0, -1);
  zip_source_t* icon = zip_source_buffer(archive, kSquareIconPng, sizeof kSquareIconPng, 0);
  std::string message;
  if (document == nullptr || zip_file_add(archive, "doc.kml", document, ZIP_FL_ENC_UTF_8) < 0) {
    if (document != nullptr) zip_source_free(document);
    message = kmz.string() + ": " + ZipError(archive);
  } else if (icon == nullptr || zip_file_add(archive, kKmzIconPath, icon, ZIP_FL_ENC_UTF_8) < 0) {
    if (icon != nullptr) zip_source_free(icon);
    message = kmz.string() + ": " + ZipError(archive);
  }
  if (!message.empty()) {
    zip_discard(archive);
    std::filesystem::remove(temp);
    return message;
  }
  if (zip_close(archive) != 0) {
    message = kmz.string() + ": cannot write: " + ZipError(archive);
    zip_discard(archive);
    std::filesystem::remove(temp);
    return message;
  }
  std::error_code renamed;
  std::filesystem::rename(temp, kmz, renamed);
  if (renamed) {
    std::filesystem::remove(temp);
    return kmz.string() + ": cannot replace: " + renamed.message();
  }
  return "";
}

}  // namespace dosemap
