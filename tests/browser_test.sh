#!/usr/bin/env bash
# Real browsers on our maps, offline: headless Chromium opens the HTML report and OpenLayers (from
# the npm registry, bundled with esbuild here) reads the KML. Each must draw every measurement.
# Usage: browser_test.sh report|openlayers DOSEMAP_CONVERT EXAMPLES BROWSER_TEST_SOURCES CACHE [SCREENSHOT_DIR]
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
part=$1
convert=$2
examples=$3
sources=$4
cache=$5
shots=${6:-}
for tool in chromium npm node; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 0; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
# The flags keep Chromium off the network it has no use for here.
browser() {
  timeout 120 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$work/profile" \
    --allow-file-access-from-files --virtual-time-budget=10000 --window-size=1200,900 "$@" 2>/dev/null
}
attribute() { sed -n "s/.*<body[^>]* data-$1=\"\\([^\"]*\\)\".*/\\1/p" "$2" | head -n 1; }

if [ "$part" = report ]; then
# The HTML report: everything inside it, and every measurement drawn, with no script error.
"$convert" --summary=json -o report.html "$examples/drive.LOG" "$examples/drive-ios.rctrk" >summary.json
kept=$(json_field kept summary.json)
check "no external script or style" 0 "$(grep -c -E '<script[^>]* src=|<link |@import' report.html)"
TZ=Asia/Tokyo browser --dump-dom "file://$work/report.html" >dom.html
check "report: ready" yes "$(attribute ready dom.html)"
# Times in the viewer's zone with its offset, UTC on hover.
grep -qF '<time datetime="2026-11-21T01:30:00Z" title="2026-11-21T01:30:00Z (UTC)">2026-11-21 10:30:00 +09:00</time>' dom.html
check "report: the first time in the viewer's zone" 0 $?
check "report: no script error" "" "$(attribute errors dom.html)"
check "report: points drawn" "$kept" "$(attribute drawn dom.html)"
grep -q "<td>$kept</td>" dom.html; check "report: the figures show the count" 0 $?
"$convert" -o empty.html --privacy-box -90,-180,90,180 "$examples/drive.LOG"
browser --dump-dom "file://$work/empty.html" >dom.html
check "empty report: ready" yes "$(attribute ready dom.html)"
check "empty report: nothing drawn" 0 "$(attribute drawn dom.html)"
[ -n "$shots" ] && browser --screenshot="$shots/report.png" "file://$work/report.html" >/dev/null
# The report of a grid of several drives: a rectangle a cell.
"$convert" --summary=json --grid 100 --utc-offset +09:00 -o grid.html "$examples/drive.LOG" "$examples/drive.ers" \
  "$examples/drive-atomfast.csv" "$examples/drive-radiacode.kml" >grid.json
browser --dump-dom "file://$work/grid.html" >dom.html
check "grid report: ready" yes "$(attribute ready dom.html)"
check "grid report: no script error" "" "$(attribute errors dom.html)"
check "grid report: cells drawn" "$(json_field cells grid.json)" "$(attribute drawn dom.html)"
[ -n "$shots" ] && browser --screenshot="$shots/grid.png" "file://$work/grid.html" >/dev/null
# A report of more than 100,000 points opens on cells of their mean; 100,000 points do not.
for n in 100000 100001; do
  awk -v n="$n" 'BEGIN { srand(5); print "unix timestamp;doserate;lat;lng"; lat = 37; lon = 140
    for (i = 0; i < n; i++) { lat += (rand() - 0.5) * 0.0004; lon += (rand() - 0.5) * 0.0004
      printf "%d;%.5f;%.7f;%.7f\n", 1752939428 + 2 * i, 0.05 + rand() * 0.3, lat, lon } }' >big.csv
  "$convert" --max-speed 0 -o big.html big.csv
  browser --dump-dom "file://$work/big.html" >dom.html
  check "report of $n points: ready" yes "$(attribute ready dom.html)"
  check "report of $n points: no script error" "" "$(attribute errors dom.html)"
  [ "$n" = 100000 ] && check "report of 100000 points: opens on the points" points "$(attribute view dom.html)"
done
check "report of 100001 points: opens on cells" cells "$(attribute view dom.html)"
check "report of 100001 points: every cell drawn" "$(attribute cells dom.html)" "$(attribute drawn dom.html)"
check "report of 100001 points: cells of a round size" 1 "$(attribute cell-size dom.html | grep -cE '^(10|25|50)0*$')"
fi

if [ "$part" = openlayers ]; then
# OpenLayers reading the .kml with its icon beside it.
mkdir -p "$cache"
cp "$sources/package.json" "$sources/ol_kml.js" "$cache/"
if [ ! -d "$cache/node_modules/ol" ] &&
   ! (cd "$cache" && npm install --no-audit --no-fund --no-package-lock >npm.log 2>&1); then
  # A registry out of reach (no network, or a TLS proxy whose certificate this machine lacks) is
  # no fault of ours: say so. Any other failure is one.
  if grep -q -E 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|CERT|certificate' "$cache/npm.log"; then
    echo "SKIP: the npm registry is out of reach: $(grep -m1 -E 'errno|code' "$cache/npm.log")"
    exit 0
  fi
  echo "FAIL: could not install OpenLayers: $(tail -n 5 "$cache/npm.log")"
  exit 1
fi
(cd "$cache" && npx esbuild ol_kml.js --bundle --format=iife --log-level=warning --outfile=ol_kml.bundle.js) ||
  { echo "FAIL: could not bundle OpenLayers"; exit 1; }
"$convert" --summary=json -o drive.kml "$examples/drive.LOG" "$examples/drive.ers" >summary.json
kept=$(json_field kept summary.json)
{
  printf '<!DOCTYPE html><html><head><meta charset="utf-8"><style>html,body,#map{margin:0;width:100%%;height:100%%}</style>'
  printf '</head><body><div id="map"></div><script type="text/plain" id="kml">'
  cat drive.kml
  printf '</script><script>'
  cat "$cache/ol_kml.bundle.js"
  printf '</script></body></html>\n'
} >ol.html
browser --dump-dom "file://$work/ol.html" >dom.html
result=$(attribute result dom.html | sed 's/&quot;/"/g')
echo "$result" >result.json
check "OpenLayers: no error" "" "$(json_field error result.json)"
check "OpenLayers: placemarks read" "$kept" "$(json_field features result.json)"
check "OpenLayers: placemarks drawn" "$kept" "$(json_field drawn result.json)"
check "OpenLayers: icons loaded" "$kept" "$(json_field loaded result.json)"
check "OpenLayers: class colours" "$kept" "$(json_field coloured result.json)"
[ -n "$shots" ] && browser --screenshot="$shots/openlayers.png" "file://$work/ol.html" >/dev/null
fi

checks_done browser_test
