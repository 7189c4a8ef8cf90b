#ifndef DOSEMAP_SURVEY_QUALITY_H_
#define DOSEMAP_SURVEY_QUALITY_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "survey/measurement.h"

namespace dosemap {

// The limits of the data quality checks; 0 turns a limit off.
struct QualityLimits {
  double max_accuracy_m = 100;  // a worse reported accuracy is rejected (kAccuracy)
  double max_speed_kmh = 300;   // a lone point reached and left faster is rejected (kGpsJump)
  bool keep_duplicates = false;
};

// A record's time, position and dose, exactly as read, in 64 bits.
std::uint64_t FingerprintOf(const Measurement& m);

// A set of 64-bit fingerprints in at most 16 bytes each: open addressing in 16 tables, each
// grown by half when 80 % full, so that growing never holds two copies of the whole. A table
// holds between 53 % and 80 % of its cells (at most 15 bytes a record), and the one growing
// adds its old cells for a moment (under a byte a record). Fewer, larger tables than that
// would break the bound; more, smaller ones would lie in fewer large pages (the README's
// performance section gives the runs).
class FingerprintSet {
  // Memory for the large tables in pages of 2 MiB where the system allows them: a lookup then
  // seldom misses the address cache as well as the data cache, and growing faults far fewer
  // pages in.
  template <typename T>
  struct LargePageAllocator {
    using value_type = T;
    LargePageAllocator() = default;
    template <typename U>
    LargePageAllocator(const LargePageAllocator<U>&) {}
    T* allocate(std::size_t n) { return static_cast<T*>(AllocateBytes(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) { FreeBytes(p, n * sizeof(T)); }
    bool operator==(const LargePageAllocator&) const = default;
  };
  static void* AllocateBytes(std::size_t bytes);
  static void FreeBytes(void* p, std::size_t bytes);

 public:
  // Adds fingerprint; false when it was there already.
  bool Insert(std::uint64_t fingerprint);
  // Asks the memory for the cells where fingerprint would be looked up, so that an Insert a few
  // records later finds them in the cache. Changes nothing.
  void Prefetch(std::uint64_t fingerprint) const;
  std::size_t size() const { return size_; }
  std::size_t bytes() const;

 private:
  using Cells = std::vector<std::uint64_t, LargePageAllocator<std::uint64_t>>;
  struct Table {
    Cells cells;  // 0: empty
    std::size_t count = 0;
  };
  static void Grow(Table& table);
  static bool Place(Cells& cells, std::uint64_t fingerprint);

  std::array<Table, 16> tables_;
  std::size_t size_ = 0;
};

// The speed of going from a to b, in km/h; the time between them is taken as at least a second.
double SpeedKmh(const Measurement& a, const Measurement& b);

// Whether p, kept after a and followed by b, is a lone point thrown off and back: reached and
// left faster than max_kmh, and a detour (a and b less than half the path through p apart).
bool IsGpsJump(const Measurement& a, const Measurement& p, const Measurement& b, double max_kmh);

}  // namespace dosemap

#endif  // DOSEMAP_SURVEY_QUALITY_H_
