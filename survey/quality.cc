#include "survey/quality.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>

#include "dose/geodesy.h"

namespace dosemap {
namespace {

constexpr int kTableBits = 6;
constexpr std::size_t kFirstSlots = 16;

// A bijective mix of 64 bits (the finaliser of SplitMix64).
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 30;
  x *= 0xBF58476D1CE4E5B9ULL;
  x ^= x >> 27;
  x *= 0x94D049BB133111EBULL;
  x ^= x >> 31;
  return x;
}

// A slot of cells.size() for the fingerprint's low bits (the top ones chose the table).
std::size_t SlotOf(std::uint64_t fingerprint, std::size_t size) {
  __extension__ using Wide = unsigned __int128;
  return static_cast<std::size_t>((static_cast<Wide>(fingerprint << kTableBits) * size) >> 64);
}

}  // namespace

std::uint64_t FingerprintOf(const Measurement& m) {
  std::uint64_t h = Mix(static_cast<std::uint64_t>(m.time) + 0x9E3779B97F4A7C15ULL);
  // -0.0 and 0.0 read as the same number: one fingerprint.
  for (const double x : {m.latitude, m.longitude, m.dose_usvh})
    h = Mix(h ^ std::bit_cast<std::uint64_t>(x == 0 ? 0.0 : x));
  return h == 0 ? 1 : h;
}

bool FingerprintSet::Place(std::vector<std::uint64_t>& cells, std::uint64_t fingerprint) {
  std::size_t at = SlotOf(fingerprint, cells.size());
  while (cells[at] != 0) {
    if (cells[at] == fingerprint) return false;
    if (++at == cells.size()) at = 0;
  }
  cells[at] = fingerprint;
  return true;
}

void FingerprintSet::Grow(Table& table) {
  const std::size_t size = table.cells.empty() ? kFirstSlots : table.cells.size() / 2 * 3;
  std::vector<std::uint64_t> cells(size);
  for (const std::uint64_t fingerprint : table.cells) {
    if (fingerprint != 0) Place(cells, fingerprint);
  }
  table.cells.swap(cells);
}

bool FingerprintSet::Insert(std::uint64_t fingerprint) {
  Table& table = tables_[fingerprint >> (64 - kTableBits)];
  if ((table.count + 1) * 5 > table.cells.size() * 4) Grow(table);
  if (!Place(table.cells, fingerprint)) return false;
  ++table.count;
  ++size_;
  return true;
}

void FingerprintSet::Prefetch(std::uint64_t fingerprint) const {
  const Table& table = tables_[fingerprint >> (64 - kTableBits)];
  if (!table.cells.empty())
    __builtin_prefetch(table.cells.data() + SlotOf(fingerprint, table.cells.size()), 1);
}

std::size_t FingerprintSet::bytes() const {
  std::size_t total = 0;
  for (const Table& table : tables_) total += table.cells.capacity() * sizeof(std::uint64_t);
  return total;
}

double SpeedKmh(const Measurement& a, const Measurement& b) {
  const double seconds =
      std::max<double>(1, std::fabs(static_cast<double>(b.time) - static_cast<double>(a.time)));
  return GreatCircleMetres(a.latitude, a.longitude, b.latitude, b.longitude) / seconds * 3.6;
}

namespace {

// SpeedKmh(a, b) > max_kmh, without the trigonometry when the points are plainly near enough.
bool FasterThan(const Measurement& a, const Measurement& b, double max_kmh) {
  const double seconds =
      std::max<double>(1, std::fabs(static_cast<double>(b.time) - static_cast<double>(a.time)));
  if (GreatCircleMetresAtMost(a.latitude, a.longitude, b.latitude, b.longitude) / seconds * 3.6 <=
      max_kmh)
    return false;
  return SpeedKmh(a, b) > max_kmh;
}

}  // namespace

bool IsGpsJump(const Measurement& a, const Measurement& p, const Measurement& b, double max_kmh) {
  if (!FasterThan(a, p, max_kmh) || !FasterThan(p, b, max_kmh)) return false;
  // A spike goes out and back: its neighbours lie closer together than half the path through it.
  // A point on a fast leg that runs on, straight or turning gently (a flight), is kept.
  const double out = GreatCircleMetres(a.latitude, a.longitude, p.latitude, p.longitude);
  const double back = GreatCircleMetres(p.latitude, p.longitude, b.latitude, b.longitude);
  return GreatCircleMetres(a.latitude, a.longitude, b.latitude, b.longitude) < (out + back) / 2;
}

}  // namespace dosemap
