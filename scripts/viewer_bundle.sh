#!/bin/bash
# Bundles the .pmtiles viewer: MapLibre GL JS and the PMTiles reader from the npm registry (the
# versions pinned in maps/viewer/package.json) with maps/viewer/viewer.js, by esbuild.
#   viewer_bundle.sh SOURCE_DIR CACHE_DIR OUT_DIR
# Writes OUT_DIR/viewer.js and OUT_DIR/maplibre-gl.css. Without npm or the registry, it writes a
# viewer.js that says so on the page, and an empty style sheet: the program still builds, and its
# .pmtiles and .mbtiles maps are the same.
set -u
src=$1 cache=$2 out=$3
mkdir -p "$cache" "$out"
fallback() {
  echo "dosemap: the .pmtiles viewer is left out of this build: $1" >&2
  cat >"$out/viewer.js" <<'JS'
document.body.dataset.state = 'unbuilt';
document.getElementById('legend').insertAdjacentHTML('beforeend',
  '<p>This dosemap was built without its viewer (the npm registry was out of reach). ' +
  'Open the .pmtiles file in QGIS, or at https://pmtiles.io.</p>');
JS
  : >"$out/maplibre-gl.css"
  exit 0
}
command -v npm >/dev/null || fallback "npm is not installed"
cp "$src/maps/viewer/package.json" "$src/maps/viewer/viewer.js" "$cache/"
if ! cmp -s "$src/maps/viewer/package.json" "$cache/installed.json"; then
  (cd "$cache" && npm install --no-audit --no-fund --no-package-lock >npm.log 2>&1) ||
    fallback "npm install failed: $(grep -m1 -E 'code|errno' "$cache/npm.log")"
  cp "$src/maps/viewer/package.json" "$cache/installed.json"
fi
(cd "$cache" && npx esbuild viewer.js --bundle --minify --format=iife --target=es2020 --log-level=warning \
  --legal-comments=none --outfile="$out/bundle.js") || fallback "esbuild failed"
# The licences of what the script carries, at its head.
{
  echo "/* The dosemap viewer. It bundles MapLibre GL JS $(sed -n 's/.*"version": "\(.*\)".*/\1/p' "$cache/node_modules/maplibre-gl/package.json" | head -n 1)"
  echo "   (BSD-3-Clause, its licence and those of the packages it bundles below) and pmtiles"
  echo "   $(sed -n 's/.*"version": "\(.*\)".*/\1/p' "$cache/node_modules/pmtiles/package.json" | head -n 1) (BSD-3-Clause, Copyright 2021-2024 Protomaps LLC)."
  echo
  sed 's|\*/|* /|g' "$cache/node_modules/maplibre-gl/LICENSE.txt"
  echo "*/"
  cat "$out/bundle.js"
} >"$out/viewer.js" && rm "$out/bundle.js" || fallback "could not write viewer.js"
cp "$cache/node_modules/maplibre-gl/dist/maplibre-gl.css" "$out/maplibre-gl.css" || fallback "no maplibre-gl.css"
