#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs every test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/packages.sh"
bash "$root/scripts/deps.sh" "${build_packages[@]}" "${test_packages[@]}"
command -v npm >/dev/null || bash "$root/scripts/deps.sh" "$test_npm"
# A decimal-comma locale, so the tests can show that no number changes with the locale, and the
# Japanese one the window is started under.
for name in de_DE ja_JP; do
  if ! locale -a 2>/dev/null | grep -qi "^$name\.utf-\?8$"; then
    localedef -i "$name" -f UTF-8 "$name.UTF-8" || echo "could not generate $name.UTF-8"
  fi
done
# Every test once more under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S "$root" -B "$root/build-asan" -DCMAKE_BUILD_TYPE=Debug -DDOSEMAP_SANITIZE=ON -DDOSEMAP_BUILD_TESTS=ON \
  -DDOSEMAP_WERROR=ON
cmake --build "$root/build-asan" -j2
(cd "$root/build-asan" && ctest -j2 --output-on-failure)
# A short fuzzing run of each target, with a fixed seed so that a finding repeats; fuzz/run.sh
# without FUZZ_SEED explores further.
if command -v clang++-14 >/dev/null; then
  FUZZ_SEED=${FUZZ_SEED:-1} bash "$root/fuzz/run.sh" 10
fi
cmake -S "$root" -B "$root/build" -DDOSEMAP_BUILD_TESTS=ON -DDOSEMAP_WERROR=ON
cmake --build "$root/build" -j2
cd "$root/build"
ctest -j2 --output-on-failure
