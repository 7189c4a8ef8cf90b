// The number hot paths: NumberText against the library conversions, and the number syntax.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "common/number_text.h"

namespace {

// Values shaped like a survey log's: coordinates with 5-6 decimals, doses with 3, altitudes with 1.
std::vector<double> SurveyValues() {
  std::mt19937_64 random(1);
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<double> values;
  for (int i = 0; i < 4096; ++i) {
    char text[32];
    switch (i % 4) {
      case 0:
        std::snprintf(text, sizeof text, "%.6f", 35 + 3 * unit(random));
        break;
      case 1:
        std::snprintf(text, sizeof text, "%.5f", 139 + 2 * unit(random));
        break;
      case 2:
        std::snprintf(text, sizeof text, "%.3f", 0.03 + 3 * unit(random));
        break;
      default:
        std::snprintf(text, sizeof text, "%.1f", 500 * unit(random));
    }
    double value = 0;
    std::from_chars(text, text + 32, value);
    values.push_back(value);
  }
  return values;
}

const std::vector<double>& Values() {
  static const std::vector<double> values = SurveyValues();
  return values;
}

void BM_FormatNumberText(benchmark::State& state) {
  char out[dosemap::kNumberTextMax];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dosemap::FormatNumberText(Values()[i++ & 4095], out));
  }
}
BENCHMARK(BM_FormatNumberText);

void BM_ToCharsPrecision15(benchmark::State& state) {
  char out[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        std::to_chars(out, out + 64, Values()[i++ & 4095], std::chars_format::general, 15));
  }
}
BENCHMARK(BM_ToCharsPrecision15);

void BM_SnprintfG15(benchmark::State& state) {
  char out[64];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(std::snprintf(out, sizeof out, "%.15g", Values()[i++ & 4095]));
  }
}
BENCHMARK(BM_SnprintfG15);

std::vector<std::string> Texts() {
  std::vector<std::string> texts;
  for (double value : Values()) {
    char out[32];
    texts.emplace_back(out, std::to_chars(out, out + 32, value).ptr);
  }
  return texts;
}

void BM_ParseNumber(benchmark::State& state) {
  const std::vector<std::string> texts = Texts();
  std::size_t i = 0;
  for (auto _ : state) benchmark::DoNotOptimize(dosemap::ParseNumber(texts[i++ & 4095]));
}
BENCHMARK(BM_ParseNumber);

void BM_FromChars(benchmark::State& state) {
  const std::vector<std::string> texts = Texts();
  std::size_t i = 0;
  double value = 0;
  for (auto _ : state) {
    const std::string& text = texts[i++ & 4095];
    benchmark::DoNotOptimize(std::from_chars(text.data(), text.data() + text.size(), value));
  }
}
BENCHMARK(BM_FromChars);

}  // namespace
