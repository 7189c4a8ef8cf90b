#ifndef DOSEMAP_MAPS_KMZ_H_
#define DOSEMAP_MAPS_KMZ_H_

#include <atomic>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace dosemap {

// The path of the square icon inside a KMZ, as its documents refer to it.
inline constexpr const char* kKmzIconPath = "files/square.png";

// The bytes of our square placemark icon (a white square that the styles colour).
std::string_view SquareIconPng();

// One member of a KMZ: its name in the archive, and either a file to copy in (read when the
// archive is written, so nothing is held in memory) or bytes that outlive the WriteKmz call.
struct KmzEntry {
  std::string name;
  std::filesystem::path file;
  std::string_view bytes;
};

// Writes the entries, in order, into the KMZ at kmz. The archive is written to a temporary file
// beside kmz and renamed over it, so a failure leaves any old archive as it was. Throws
// FileError (kWriteFailed) naming kmz and the cause. level: the deflate level, 1 (fastest) to 9,
// or 0 for libzip's default.
// cancel, when set by another thread, stops the packing (FileError kWriteFailed, "cancelled").
void WriteKmz(const std::filesystem::path& kmz, const std::vector<KmzEntry>& entries, int level = 0,
              const std::atomic<bool>* cancel = nullptr);

}  // namespace dosemap

#endif  // DOSEMAP_MAPS_KMZ_H_
