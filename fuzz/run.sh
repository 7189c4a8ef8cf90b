#!/usr/bin/env bash
# Builds the libFuzzer targets with clang-14 (ASan + UBSan) in build-fuzz/ and runs each for the
# given seconds (default 60), starting from the seed corpus. Exits non-zero on any finding.
# FUZZ_SEED fixes libFuzzer's random seed, so that a run is repeatable (the test command sets it);
# without it every run explores afresh.
# Usage: [FUZZ_SEED=N] fuzz/run.sh [SECONDS]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
command -v clang++-14 >/dev/null || { echo "fuzz: clang++-14 is not installed"; exit 1; }
CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$root/build-fuzz" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDOSEMAP_FUZZ=ON -DDOSEMAP_BUILD_TESTS=OFF -DDOSEMAP_BUILD_APP=OFF >/dev/null
cmake --build "$root/build-fuzz" -j2 >/dev/null
# A memory file system makes the settings' fsync free, which multiplies the runs per second.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
for target in input_fields conversion_run load_settings survey_bgeigie survey_radiacode survey_own survey_safecast survey_ers survey_json \
    survey_czechrad survey_atomfast survey_csv survey_streams; do
  corpus=$root/build-fuzz/corpus/$target
  mkdir -p "$corpus"
  log=$root/build-fuzz/$target.log
  if ! "$root/build-fuzz/bin/${target}_fuzz" -max_total_time="$seconds" -print_final_stats=1 -seed="${FUZZ_SEED:-0}" \
      -timeout=10 -rss_limit_mb=1024 "$corpus" "$root/fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz: $target found a failure with seed ${FUZZ_SEED:-0 (random)} (input saved in the current folder; log $log)"
    exit 1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
  echo "fuzz: $target: $runs runs in ${seconds} s ($speed per second), no finding"
done
