// Writes a deterministic survey log of N records to stdout (or the file given), with the value
// ranges of real drives: timestamps a few seconds apart, 10-2000 cpm, doses 0.03-3.0 of which
// about a fifth reach 0.1, positions wandering in 35-38 N, 139-141 E, altitudes 0-500 m.
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: gen_survey_log N [FILE]\n");
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
  std::fputs("Time,Aux,CPM,uSv/h,Lat,Lon,Alt\r\n", out);
  for (long i = 0; i < count; ++i) {
    when += 1 + static_cast<std::time_t>(random() % 5);
    std::tm t;
    gmtime_r(&when, &t);
    const double dose = unit(random) < 0.8 ? 0.03 + 0.0699 * unit(random) : 0.1 + 2.9 * unit(random);
    const int cpm = 10 + static_cast<int>(1990 * (dose - 0.03) / 2.97 + 5 * unit(random));
    latitude += (unit(random) - 0.5) * 0.0004;
    longitude += (unit(random) - 0.5) * 0.0004;
    if (latitude < 35 || latitude > 38) latitude = 36.5;
    if (longitude < 139 || longitude > 141) longitude = 140.0;
    const int decimals = 5 + static_cast<int>(random() % 2);
    std::fprintf(out, "%04d/%02d/%02d %02d:%02d:%02d,A,%d,%.3f,%.*f,%.*f,%.1f\r\n", t.tm_year + 1900,
                 t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec, cpm, dose, decimals,
                 latitude, decimals, longitude, 500 * unit(random));
  }
  if (std::fclose(out) != 0) {
    std::perror("write");
    return 1;
  }
  return 0;
}
