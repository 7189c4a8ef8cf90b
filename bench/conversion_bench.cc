// The per-record hot paths of a run: reading one record, writing one placemark.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "legacy/convert/placemark.h"
#include "legacy/convert/survey_log.h"

namespace {

std::filesystem::path Scratch() {
  return std::filesystem::temp_directory_path() / ("dosemap-bench-" + std::to_string(::getpid()));
}

void BM_ReadSurveyRecord(benchmark::State& state) {
  const std::filesystem::path dir = Scratch();
  std::filesystem::create_directories(dir);
  {
    std::ofstream log(dir / "log.csv", std::ios::binary);
    log << "Time,Aux,CPM,uSv/h,Lat,Lon,Alt\r\n";
    for (int i = 0; i < 100000; ++i) {
      log << "2026/01/01 00:00:0" << i % 10 << ",A," << 10 + i % 1990 << ",0.0" << 30 + i % 69
          << ",36." << 100000 + i << ",140." << 20000 + i << "," << i % 500 << ".5\r\n";
    }
  }
  dosemap::TextFiles files(dir);
  dosemap::SurveyRecord record;
  long number = 0;
  for (auto _ : state) {
    if (!files.IsOpen(dosemap::kSurveyLogFileNumber)) {
      state.PauseTiming();
      dosemap::OpenSurveyLog(files, "log");
      dosemap::SkipSurveyHeader(files);
      number = 0;
      state.ResumeTiming();
    }
    try {
      dosemap::ReadSurveyRecord(files, record, ++number);
    } catch (const dosemap::FileError&) {
      files.CloseFile(dosemap::kSurveyLogFileNumber);
    }
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_ReadSurveyRecord);

void BM_WritePlacemark(benchmark::State& state) {
  dosemap::TextFiles files;
  files.OpenForOutput(dosemap::kKmlFileNumber, "/dev/null");
  const dosemap::FixedThresholds thresholds("0.11", "0.19");
  dosemap::SurveyRecord record;
  record.Timestamp = "2026/01/01 00:00:05";
  record.CountRate = 123.0;
  record.Latitude = 36.123456;
  record.Longitude = 140.12345;
  record.Altitude = 123.4;
  int i = 0;
  for (auto _ : state) {
    record.DoseRate = (++i % 5 == 0) ? 0.153 : 0.043;  // a fifth with the description block
    dosemap::WritePlacemark(files, record, thresholds);
  }
  files.CloseFile(dosemap::kKmlFileNumber);
}
BENCHMARK(BM_WritePlacemark);

}  // namespace
