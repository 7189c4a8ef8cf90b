#ifndef DOSEMAP_CLI_KMZ_H_
#define DOSEMAP_CLI_KMZ_H_

#include <filesystem>
#include <string>

namespace dosemap {

// The path of the square icon inside a KMZ, as its document refers to it.
inline constexpr const char* kKmzIconPath = "files/square.png";

// Packs the KML document at kml as "doc.kml", with the square icon, into the KMZ at kmz. The
// archive is written beside kmz and renamed over it, so a failure leaves no half archive.
// Returns an empty string, or what went wrong.
std::string WriteKmz(const std::filesystem::path& kml, const std::filesystem::path& kmz);

}  // namespace dosemap

#endif  // DOSEMAP_CLI_KMZ_H_
