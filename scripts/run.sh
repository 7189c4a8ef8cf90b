#!/usr/bin/env bash
# Builds dosemap and starts its window in run/, a working folder holding the sample survey log as
# DATA_0.csv, so that pressing the button writes run/DATA_0.kml. Without a display it runs
# dosemap-convert on the sample instead.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
source "$root/scripts/packages.sh"
bash "$root/scripts/deps.sh" "${build_packages[@]}"
# npm fetches the .pmtiles viewer's MapLibre GL JS when the program is built.
command -v npm >/dev/null || bash "$root/scripts/deps.sh" "$test_npm" || echo "npm could not be installed: the .pmtiles viewer is left out"
cmake -S "$root" -B "$root/build" -DDOSEMAP_BUILD_TESTS=OFF
cmake --build "$root/build" -j2
mkdir -p "$root/run"
[ -f "$root/run/DATA_0.csv" ] || cp "$root/examples/DATA_0.csv" "$root/run/DATA_0.csv"
cd "$root/run"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec "$root/build/bin/dosemap"
fi
echo "No display available (DISPLAY is not set): converting the sample with dosemap-convert instead."
"$root/build/bin/dosemap-convert" DATA_0 DATA_0
echo "Wrote $root/run/DATA_0.kml"
