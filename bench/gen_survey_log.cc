// Writes a deterministic survey log of N records to stdout (or the file given), with the value
// ranges of real drives: timestamps a few seconds apart, 10-2000 cpm, doses 0.03-3.0 of which
// about a fifth reach 0.1, positions wandering in 35-38 N, 139-141 E, altitudes 0-500 m. With
// --bgeigie the same drive is written as a bGeigie log of checksummed sentences.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>

namespace {

// "$body*XX" with the XOR checksum of body.
void PrintSentence(std::FILE* out, const char* body) {
  unsigned char sum = 0;
  for (const char* c = body; *c != '\0'; ++c) sum ^= static_cast<unsigned char>(*c);
  std::fprintf(out, "$%s*%02X\r\n", body, sum);
}

}  // namespace

int main(int argc, char** argv) {
  const bool bgeigie = argc > 1 && std::strcmp(argv[1], "--bgeigie") == 0;
  if (bgeigie) --argc, ++argv;
  // --database: the measurement database's CSV export over a country: drives of 1,000 rows each
  // somewhere in 30-45 N, 129-146 E, nine rows in ten in cpm and one in µSv/h.
  const bool database = argc > 1 && std::strcmp(argv[1], "--database") == 0;
  if (database) --argc, ++argv;
  // --hot P: P % of the records well above the rest (0.3-3.0 µSv/h over 0.03-0.1), the others
  // calm: a drive with hotspots, or (0) with none.
  double hot_share = -1;
  if (argc > 2 && std::strcmp(argv[1], "--hot") == 0) {
    hot_share = std::strtod(argv[2], nullptr) / 100;
    argc -= 2, argv += 2;
  }
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: gen_survey_log [--bgeigie | --database] [--hot P] N [FILE]\n");
    return 2;
  }
  const long count = std::strtol(argv[1], nullptr, 10);
  std::FILE* out = argc == 3 ? std::fopen(argv[2], "wb") : stdout;
  if (out == nullptr) {
    std::perror(argv[2]);
    return 1;
  }
  static char buffer[1 << 20];
  std::setvbuf(out, buffer, _IOFBF, sizeof buffer);
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> unit(0, 1);
  std::time_t when = 1767225600;  // 2026-01-01 00:00:00 UTC
  double latitude = 36.5, longitude = 140.0;
  std::fputs(bgeigie ? "# NEW LOG\r\n# format=1.3.6nano\r\n"
             : database
                 ? "Captured Time,Latitude,Longitude,Value,Unit,Location Name,Device ID,MD5Sum,"
                   "Height,Surface,Radiation,Uploaded Time,Loader ID\n"
                 : "Time,Aux,CPM,uSv/h,Lat,Lon,Alt\r\n",
             out);
  long total = 0;
  for (long i = 0; i < count; ++i) {
    when += 1 + static_cast<std::time_t>(random() % 5);
    std::tm t;
    gmtime_r(&when, &t);
    const double dose = hot_share >= 0       ? (unit(random) < hot_share ? 0.3 + 2.7 * unit(random)
                                                                         : 0.03 + 0.0699 * unit(random))
                        : unit(random) < 0.8 ? 0.03 + 0.0699 * unit(random)
                                             : 0.1 + 2.9 * unit(random);
    const int cpm = 10 + static_cast<int>(1990 * (dose - 0.03) / 2.97 + 5 * unit(random));
    latitude += (unit(random) - 0.5) * 0.0004;
    longitude += (unit(random) - 0.5) * 0.0004;
    if (!database && (latitude < 35 || latitude > 38)) latitude = 36.5;
    if (!database && (longitude < 139 || longitude > 141)) longitude = 140.0;
    const int decimals = 5 + static_cast<int>(random() % 2);
    if (database) {
      if (i % 1000 == 0) latitude = 30 + 15 * unit(random), longitude = 129 + 17 * unit(random);
      const bool counts = i % 10 != 0;
      std::fprintf(out, "%04d-%02d-%02d %02d:%02d:%02d,%.6f,%.6f,", t.tm_year + 1900, t.tm_mon + 1,
                   t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, latitude, longitude);
      if (counts) {
        std::fprintf(out, "%d,cpm", cpm);
      } else {
        std::fprintf(out, "%.4f,usv", dose);
      }
      std::fputs(",,2601,,,,,2026-02-01 00:00:00,\n", out);
      continue;
    }
    if (bgeigie) {
      char body[200];
      total += cpm / 12;
      const int lat_degrees = static_cast<int>(latitude), lon_degrees = static_cast<int>(longitude);
      // Minutes that would print as 60.0000 are written 59.9999, as a logger does.
      const auto minutes = [](double degrees) {
        return std::min(59.9999, (degrees - static_cast<int>(degrees)) * 60);
      };
      std::snprintf(body, sizeof body,
                    "BNRDD,2601,%04d-%02d-%02dT%02d:%02d:%02dZ,%d,%d,%ld,A,%02d%07.4f,N,%03d%07.4f,"
                    "E,%.2f,A,9,112",
                    t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, cpm,
                    cpm / 12, total, lat_degrees, minutes(latitude), lon_degrees,
                    minutes(longitude), 500 * unit(random));
      PrintSentence(out, body);
      continue;
    }
    std::fprintf(out, "%04d/%02d/%02d %02d:%02d:%02d,A,%d,%.3f,%.*f,%.*f,%.1f\r\n",
                 t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, cpm,
                 dose, decimals, latitude, decimals, longitude, 500 * unit(random));
  }
  if (std::fclose(out) != 0) {
    std::perror("write");
    return 1;
  }
  return 0;
}
