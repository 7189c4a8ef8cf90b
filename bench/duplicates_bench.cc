// The duplicate check's share of a run: ten million fingerprints into one set, a third of them
// seen before, taken in order (as one thread does) or with each looked up eight ahead (as the
// thread that checks the parsed records does).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

#include "survey/quality.h"

namespace {

std::vector<std::uint64_t> Fingerprints() {
  std::mt19937_64 random(7);
  std::vector<std::uint64_t> fingerprints(10000000);
  for (std::size_t i = 0; i < fingerprints.size(); ++i) {
    fingerprints[i] = i > 0 && random() % 3 == 0 ? fingerprints[random() % i] : random() | 1;
  }
  return fingerprints;
}

void BM_DuplicateCheck(benchmark::State& state) {
  static const std::vector<std::uint64_t> fingerprints = Fingerprints();
  const std::size_t ahead = static_cast<std::size_t>(state.range(0));
  std::size_t kept = 0;
  for (auto _ : state) {
    dosemap::FingerprintSet seen;
    for (std::size_t i = 0; i < fingerprints.size(); ++i) {
      if (ahead > 0 && i + ahead < fingerprints.size()) seen.Prefetch(fingerprints[i + ahead]);
      kept += seen.Insert(fingerprints[i]);
    }
    benchmark::DoNotOptimize(kept);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(fingerprints.size()));
}
BENCHMARK(BM_DuplicateCheck)->Arg(0)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
