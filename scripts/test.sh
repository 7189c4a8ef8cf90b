#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs every test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/packages.sh"
bash "$root/scripts/deps.sh" "${build_packages[@]}" "${test_packages[@]}"
cmake -S "$root" -B "$root/build" -DDOSEMAP_BUILD_TESTS=ON
cmake --build "$root/build" -j2
cd "$root/build"
ctest -j2 --output-on-failure
