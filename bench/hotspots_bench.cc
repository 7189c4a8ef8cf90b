// The hotspot finder's share of a run: keeping a million kept measurements as they pass, and
// finding the hotspots among them at the end, in a calm drive and in one with a tenth hot.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "survey/hotspots.h"

namespace {

// A wandering drive as bench/gen_survey_log writes one: a reading every 20 m or so, hot_share of
// them 0.3-3.0 µSv/h over 0.03-0.1.
std::vector<dosemap::Measurement> Drive(double hot_share) {
  std::mt19937_64 random(42);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<dosemap::Measurement> drive(1000000);
  double latitude = 36.5, longitude = 140.0;
  std::int64_t time = 1767225600;
  for (std::size_t i = 0; i < drive.size(); ++i) {
    dosemap::Measurement& m = drive[i];
    time += 1 + static_cast<std::int64_t>(random() % 5);
    latitude += (unit(random) - 0.5) * 0.0004;
    longitude += (unit(random) - 0.5) * 0.0004;
    if (latitude < 35 || latitude > 38) latitude = 36.5;
    if (longitude < 139 || longitude > 141) longitude = 140.0;
    m.dose_usvh =
        unit(random) < hot_share ? 0.3 + 2.7 * unit(random) : 0.03 + 0.0699 * unit(random);
    m.dose_sigma_usvh = m.dose_usvh / std::sqrt(m.dose_usvh * 334);
    m.latitude = latitude, m.longitude = longitude, m.time = time;
    m.line = static_cast<long>(i) + 3;
  }
  return drive;
}

void BM_HotspotKeep(benchmark::State& state) {
  const std::vector<dosemap::Measurement> drive = Drive(0.1);
  for (auto _ : state) {
    dosemap::HotspotFinder finder({});
    finder.BeginLog(0, "drive.LOG");
    for (const dosemap::Measurement& m : drive) finder.Add(m, 1);
    benchmark::DoNotOptimize(finder.bytes());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(drive.size()));
}
BENCHMARK(BM_HotspotKeep)->Unit(benchmark::kMillisecond);

void BM_HotspotFind(benchmark::State& state) {
  dosemap::HotspotFinder finder({});
  finder.BeginLog(0, "drive.LOG");
  for (const dosemap::Measurement& m : Drive(static_cast<double>(state.range(0)) / 100))
    finder.Add(m, 1);
  std::size_t found = 0;
  for (auto _ : state) found = finder.Find().hotspots.size();
  state.counters["hotspots"] = static_cast<double>(found);
}
BENCHMARK(BM_HotspotFind)->Arg(0)->Arg(10)->Unit(benchmark::kMillisecond);

}  // namespace
