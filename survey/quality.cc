#include "survey/quality.h"

#include <sys/mman.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <new>

#include "dose/geodesy.h"

namespace dosemap {
namespace {

constexpr int kTableBits = 4;
constexpr std::size_t kFirstSlots = 16;
constexpr std::size_t kLargePage = std::size_t{2} << 20;
constexpr std::size_t kPage = 4096;

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

// A table smaller than a large page comes from the heap. A larger one is mapped on its own,
// starting at a large page's boundary, and the system is asked to back it with large pages
// (Linux does so for such a request when transparent huge pages are "madvise" or "always").
// Only the pages touched count in the process's memory, so the mapping's slack costs nothing.
void* FingerprintSet::AllocateBytes(std::size_t bytes) {
  if (bytes < kLargePage) return ::operator new(bytes);
  const std::size_t length = (bytes + kPage - 1) / kPage * kPage;
  void* mapped = mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapped);
  const std::uintptr_t aligned = (start + kLargePage - 1) / kLargePage * kLargePage;
  // The unaligned head and the tail beyond the table go back at once.
  if (aligned > start) munmap(mapped, aligned - start);
  const std::size_t tail = start + length + kLargePage - (aligned + length);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + length), tail);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), length, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<void*>(aligned);
}

void FingerprintSet::FreeBytes(void* p, std::size_t bytes) {
  if (bytes < kLargePage) {
    ::operator delete(p);
    return;
  }
  munmap(p, (bytes + kPage - 1) / kPage * kPage);
}

std::uint64_t FingerprintOf(const Measurement& m) {
  std::uint64_t h = Mix(static_cast<std::uint64_t>(m.time) + 0x9E3779B97F4A7C15ULL);
  // -0.0 and 0.0 read as the same number: one fingerprint.
  for (const double x : {m.latitude, m.longitude, m.dose_usvh})
    h = Mix(h ^ std::bit_cast<std::uint64_t>(x == 0 ? 0.0 : x));
  return h == 0 ? 1 : h;
}

bool FingerprintSet::Place(Cells& cells, std::uint64_t fingerprint) {
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
  Cells cells(size);
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
