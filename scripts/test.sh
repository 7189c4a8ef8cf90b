#!/usr/bin/env bash
# Installs what the build and the tests need, builds everything and runs every test.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/packages.sh"
bash "$root/scripts/deps.sh" "${build_packages[@]}" "${test_packages[@]}"
# A decimal-comma locale, so the tests can show that no number changes with the locale.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  localedef -i de_DE -f UTF-8 de_DE.UTF-8 || echo "could not generate de_DE.UTF-8"
fi
cmake -S "$root" -B "$root/build" -DDOSEMAP_BUILD_TESTS=ON
cmake --build "$root/build" -j2
cd "$root/build"
ctest -j2 --output-on-failure
