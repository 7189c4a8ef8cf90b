#ifndef DOSEMAP_TESTS_SENTENCES_H_
#define DOSEMAP_TESTS_SENTENCES_H_

#include <cstdio>
#include <string>

namespace dosemap::testing {

// A bGeigie sentence at second `second` of the drive, at latitude 37°MM' and longitude 140°30.1',
// with its checksum (or a wrong one).
inline std::string Sentence(int second, double minutes, char fix = 'A', bool good_checksum = true,
                            int cpm = 30) {
  char body[160];
  std::snprintf(body, sizeof body,
                "BNRDD,2601,2026-11-21T01:%02d:%02dZ,%d,2,2,A,37%07.4f,N,14030.1000,E,210.00,%c,9,"
                "112",
                30 + second / 60, second % 60, cpm, minutes, fix);
  unsigned char sum = 0;
  for (const char* c = body; *c != '\0'; ++c) sum ^= static_cast<unsigned char>(*c);
  char checksum[4];
  std::snprintf(checksum, sizeof checksum, "%02X", good_checksum ? sum : sum ^ 0x5A);
  return "$" + std::string(body) + "*" + checksum;
}

}  // namespace dosemap::testing

#endif  // DOSEMAP_TESTS_SENTENCES_H_
