#!/usr/bin/env bash
# Real browsers on our maps, offline: headless Chromium opens the HTML report and OpenLayers (from
# the npm registry, bundled with esbuild here) reads the KML. Each must draw every measurement.
# CesiumJS (from the npm registry, its page driven by Playwright's client for Chromium, WebGL in
# software) opens the regionated KMZ.
# Usage: browser_test.sh report|openlayers|cesium|tiles DOSEMAP_CONVERT EXAMPLES BROWSER_TEST_SOURCES CACHE [SCREENSHOT_DIR]
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
# Hotspots on top: the points lie bottom to top by dose, with no outline at the drive's zoom.
check "report: drawn in order of dose" dose "$(attribute draw-order dom.html)"
check "report: no outlines at the overview" false "$(attribute outlined dom.html)"
check "report: in English for an English browser" en "$(attribute lang dom.html)"
# The run's hotspots: a ring each on the map and a row each below the figures, in rank order.
spots=$(grep -o '"rank":' summary.json | wc -l)
[ "$spots" -ge 1 ]; check "report: the example drive has a hotspot ($spots)" 0 $?
check "report: a ring a hotspot" "$spots" "$(attribute hotspot-rings dom.html)"
check "report: a row a hotspot" "$spots" "$(grep -o '<tr class="hotspot" tabindex="0" data-index="[0-9]*"' dom.html | wc -l)"
peak=$(sed -n 's/.*"hotspots":\[{"rank":1,"dose_usvh":\([0-9.]*\).*/\1/p' summary.json)
grep -q "<tr class=\"hotspot\" tabindex=\"0\" data-index=\"0\" title=\"show it on the map\"><td>1</td><td>$(printf %.3g "$peak")</td>" dom.html
check "report: the first row is the highest peak ($peak)" 0 $?
grep -q '<caption data-i18n="hotspots">Hotspots</caption>' dom.html; check "report: the hotspots' table" 0 $?
TZ=Asia/Tokyo browser --dump-dom "file://$work/report.html#hotspot=1" >zoomed.html
check "report#hotspot=1: opens on the first hotspot" 1 "$(attribute hotspot-shown zoomed.html)"
check "report#hotspot=1: no script error" "" "$(attribute errors zoomed.html)"
# A Japanese browser reads it in Japanese: the figures, the legend and the reasons.
"$convert" -o ja.html "$examples/drive.LOG" "$examples/drive-czech.LOG"
LANGUAGE=ja browser --lang=ja --accept-lang=ja --dump-dom "file://$work/ja.html" >dom.html
check "report: in Japanese for a Japanese browser" ja "$(attribute lang dom.html)"
check "report (ja): no script error" "" "$(attribute errors dom.html)"
grep -q '<th data-i18n="kept">地図に載せた測定</th>' dom.html; check "report (ja): the figures" 0 $?
grep -q '>0.07 以上 0.11 未満</td>' dom.html; check "report (ja): the legend" 0 $?
grep -q '<span data-i18n="reason.checksum">チェックサム不一致</span>' dom.html; check "report (ja): the reasons" 0 $?
grep -q '<html lang="ja"' dom.html; check "report (ja): the page's language" 0 $?
grep -q '<caption data-i18n="hotspots">ホットスポット</caption>' dom.html; check "report (ja): the hotspots' table" 0 $?
# The language chosen with the switch is remembered (the browser's local storage), either way
# round: a page beside the report stores a choice as the switch does, then opens the report. One
# browser does both: a browser that exits may not have written its storage to disk yet.
for choice in "1 ja" "0 en"; do
  set -- $choice
  if [ "$2" = ja ]; then
    echo "<script>localStorage.setItem('dosemap.lang', '$1'); location.replace('report.html')</script>" >choose.html
    browser --dump-dom "file://$work/choose.html" >dom.html
  else
    echo "<script>localStorage.setItem('dosemap.lang', '$1'); location.replace('ja.html')</script>" >choose.html
    LANGUAGE=ja browser --lang=ja --accept-lang=ja --dump-dom "file://$work/choose.html" >dom.html
  fi
  check "report: the chosen language's page is read" yes "$(attribute ready dom.html)"
  check "report: the language chosen before ($2) lasts" "$2" "$(attribute lang dom.html)"
done
rm -rf "$work/profile"
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
# The report of a comparison: a rectangle a compared cell, each counted in the histogram of its
# excess, the comparison's figures and the change legend in both languages.
"$convert" --summary=json --compare 2026-01-01 --grid 100 -o change.html "$examples/drive-2025.LOG" \
  "$examples/drive.LOG" >change.json
compared=$(sed -n 's/.*"compare":{"cells":\([0-9]*\).*/\1/p' change.json)
[ "$compared" -ge 50 ]; check "change report: cells compared ($compared)" 0 $?
browser --dump-dom "file://$work/change.html" >dom.html
check "change report: ready" yes "$(attribute ready dom.html)"
check "change report: no script error" "" "$(attribute errors dom.html)"
check "change report: cells drawn" "$compared" "$(attribute drawn dom.html)"
check "change report: every cell with a ratio in the histogram" "$compared" "$(attribute histogram dom.html)"
grep -q "<th data-i18n=\"compared\">cells compared</th><td>$compared</td>" dom.html
check "change report: the figures" 0 $?
LANGUAGE=ja browser --lang=ja --accept-lang=ja --dump-dom "file://$work/change.html" >dom.html
grep -q '<td data-i18n="change1">減少：−0.5 以下</td>' dom.html; check "change report (ja): the legend" 0 $?
check "change report (ja): no script error" "" "$(attribute errors dom.html)"
[ -n "$shots" ] && browser --screenshot="$shots/change-report.png" "file://$work/change.html" >/dev/null
# A report of more than 100,000 points opens on cells of their mean; 100,000 points do not.
for n in 100000 100001; do
  awk -v n="$n" 'BEGIN { srand(5); print "unix timestamp;doserate;lat;lng"; lat = 37; lon = 140
    for (i = 0; i < n; i++) { lat += (rand() - 0.5) * 0.0004; lon += (rand() - 0.5) * 0.0004
      printf "%d;%.5f;%.7f;%.7f\n", 1752939428 + 2 * i, 0.05 + rand() * 0.3 + (i % 40000 == 7 ? 2 : 0), lat, lon } }' >big.csv
  "$convert" --max-speed 0 -o big.html big.csv
  browser --dump-dom "file://$work/big.html" >dom.html
  check "report of $n points: ready" yes "$(attribute ready dom.html)"
  check "report of $n points: no script error" "" "$(attribute errors dom.html)"
  [ "$n" = 100000 ] && check "report of 100000 points: opens on the points" points "$(attribute view dom.html)"
done
check "report of 100001 points: opens on cells" cells "$(attribute view dom.html)"
# Every cell in its class colour, and a ring on top of each cell that holds a class 5 reading
# (three planted), said in the legend.
hot=$(attribute hot-cells dom.html)
check "report of 100001 points: every cell drawn, and a ring a hot cell" "$(( $(attribute cells dom.html) + hot ))" "$(attribute drawn dom.html)"
[ "$hot" -ge 1 ] && [ "$hot" -le 3 ]; check "report of 100001 points: the hot cells ringed ($hot)" 0 $?
grep -q '<span data-i18n="hotCell">a cell holding a class 5 measurement</span>' dom.html
check "report of 100001 points: the legend says what a ring is" 0 $?
check "report of 100001 points: cells of a round size" 1 "$(attribute cell-size dom.html | grep -cE '^(10|25|50)0*$')"
fi

# Installs the npm packages of package.json into the folder $1 once (each part has its own, so
# that parts may run at once). A registry out of reach (no network, or a TLS proxy whose
# certificate this machine lacks) is no fault of ours: the part is skipped, saying so. Any other
# failure is one.
npm_packages() {
  local folder=$1 marker=$2
  [ -d "$folder/node_modules/$marker" ] && return 0
  (cd "$folder" && npm install --no-audit --no-fund --no-package-lock >npm.log 2>&1) && return 0
  if grep -q -E 'ENOTFOUND|EAI_AGAIN|ECONNREFUSED|ECONNRESET|ETIMEDOUT|CERT|certificate' "$folder/npm.log"; then
    echo "SKIP: the npm registry is out of reach: $(grep -m1 -E 'errno|code' "$folder/npm.log")"
    exit 0
  fi
  echo "FAIL: could not install $marker: $(tail -n 5 "$folder/npm.log")"
  exit 1
}

if [ "$part" = openlayers ]; then
# OpenLayers reading the .kml with its icon beside it.
mkdir -p "$cache"
cp "$sources/package.json" "$sources/ol_kml.js" "$cache/"
npm_packages "$cache" ol
(cd "$cache" && npx esbuild ol_kml.js --bundle --format=iife --log-level=warning --outfile=ol_kml.bundle.js) ||
  { echo "FAIL: could not bundle OpenLayers"; exit 1; }
# A third log walks through every class, so that all five colours are drawn.
awk 'BEGIN { print "unix timestamp;doserate;lat;lng"; split("0.05 0.09 0.15 0.3 0.8", d, " ")
  for (i = 0; i < 50; i++) printf "%d;%s;%.6f;%.6f\n", 1763688600 + 10 * i, d[i % 5 + 1], 37.43 + i * 0.0004, 140.49 }' >classes.csv
"$convert" --summary=json -o drive.kml "$examples/drive.LOG" "$examples/drive.ers" classes.csv >summary.json
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
check "OpenLayers: five distinct class colours" 5 "$(json_field colours result.json)"
check "OpenLayers: a route a log" 3 "$(json_field lines result.json)"
check "OpenLayers: the legend named" '"drive_files/legend.png"' "$(json_field legend result.json)"
[ -n "$shots" ] && browser --screenshot="$shots/openlayers.png" "file://$work/ol.html" >/dev/null
fi

if [ "$part" = cesium ]; then
# CesiumJS opening a regionated KMZ of 12,000 points by its path, as a web globe would.
mkdir -p "$cache/cesium"
cp "$sources/cesium/package.json" "$sources/cesium_kmz.js" "$sources/drive_page.mjs" "$cache/cesium/"
npm_packages "$cache/cesium" cesium
build="$cache/cesium/node_modules/cesium/Build/Cesium"
(cd "$cache/cesium" && npx esbuild cesium_kmz.js --bundle --format=iife --log-level=warning \
  --alias:cesium=./node_modules/cesium/Build/Cesium/index.js --outfile=cesium_kmz.bundle.js) ||
  { echo "FAIL: could not bundle CesiumJS"; exit 1; }
awk 'BEGIN { srand(11); print "unix timestamp;doserate;lat;lng"; lat = 37.42; lon = 140.47; h = 0.3
  for (i = 0; i < 12000; i++) { h += (rand() - 0.5) * 0.3; lat += cos(h) * 0.0001; lon += sin(h) * 0.0001
    d = 0.05 + rand() * 0.04 + (i % 1000 == 500 ? 1.5 : 0)
    printf "%d;%.4f;%.7f;%.7f\n", 1763688600 + 2 * i, d, lat, lon } }' >wide.csv
"$convert" --summary=json --max-speed 0 -o wide.kmz wide.csv >summary.json
kept=$(json_field kept summary.json)
{
  printf '<!DOCTYPE html><html><head><meta charset="utf-8"><link rel="stylesheet" href="%s/Widgets/widgets.css">' "$build"
  printf '<style>html,body,#map{margin:0;width:100%%;height:100%%}</style></head><body data-kmz="wide.kmz">'
  printf '<div id="map"></div><script>window.CESIUM_BASE_URL = "%s/";</script>' "$build"
  printf '<script src="%s/cesium_kmz.bundle.js"></script></body></html>\n' "$cache/cesium"
} >cesium.html
CHROMIUM=$(command -v chromium) timeout 600 node "$cache/cesium/drive_page.mjs" "file://$work/cesium.html" \
  ${shots:+"$shots/cesium.png"} >result.json 2>node.log
check "CesiumJS: the page ran" 0 $?
check "CesiumJS: no error" "" "$(json_field error result.json)"
check "CesiumJS: opens doc.kml" '"wide"' "$(json_field name result.json)"
check "CesiumJS: every point loaded once" "$kept" "$(json_field loaded result.json)"
check "CesiumJS: every point at the whole-drive view" "$kept" "$(json_field whole result.json)"
check "CesiumJS: the highest dose" 1.5 "$(awk -v d="$(json_field highest result.json)" 'BEGIN { print (d >= 1.5) ? 1.5 : d }')"
check "CesiumJS: the highest dose shows at the whole-drive view" true "$(json_field highestShown result.json)"
check "CesiumJS: fewer points in view when zoomed in on it" 1 \
  "$(awk -v z="$(json_field zoomed result.json)" -v k="$kept" 'BEGIN { print (z > 0 && z < k) }')"
check "CesiumJS: the legend shown" 1 "$(json_field legend result.json)"
fi

if [ "$part" = tiles ]; then
# npm's PMTiles reader and vector tile decoder read the .pmtiles as a web map does; the viewer
# beside it, served by http-server (which answers range requests), draws it in Chromium.
mkdir -p "$cache/tiles"
cp "$sources/tiles/package.json" "$sources/tiles/read_tiles.mjs" "$sources/tiles/viewer_page.mjs" "$cache/tiles/"
npm_packages "$cache/tiles" http-server
zone=37.4335,140.4835,300
"$convert" --summary=json --privacy "$zone" -o drive.pmtiles "$examples/drive.LOG" "$examples/drive-czech.LOG" >summary.json
kept=$(json_field kept summary.json)
node "$cache/tiles/read_tiles.mjs" drive.pmtiles "$zone" >read.json 2>node.log
check "pmtiles reader: read" 0 $?
check "pmtiles reader: the layers' zooms" '"layers":"measurements 14-14, cells 0-13"' "$(grep -o '"layers":"[^"]*"' read.json)"
check "pmtiles reader: every kept measurement at zoom 14" "$kept" "$(json_field points read.json)"
check "pmtiles reader: each once" "$kept" "$(json_field distinct read.json)"
check "pmtiles reader: none in the zone" 0 "$(json_field inZone read.json)"
check "pmtiles reader: the cells count them all at every zoom below" "$kept" "$(json_field cellsAllEqual read.json)"
port=$(node -e 'const s = require("net").createServer().listen(0, "127.0.0.1", () => { console.log(s.address().port); s.close(); })')
"$cache/tiles/node_modules/.bin/http-server" -a 127.0.0.1 -p "$port" -s -c-1 "$work" 2>/dev/null &
server=$!
trap 'kill $server 2>/dev/null; rm -rf "$work"' EXIT
# Waits for the server to answer (at most 60 s).
for _ in $(seq 600); do curl -s -o /dev/null "http://127.0.0.1:$port/drive.pmtiles" && break; sleep 0.1; done
CHROMIUM=$(command -v chromium) timeout 600 node "$cache/tiles/viewer_page.mjs" \
  "http://127.0.0.1:$port/drive_files/index.html" "file://$work/drive_files/index.html" "$work/drive.pmtiles" \
  ${shots:+"$shots/viewer.png"} >viewer.json 2>node.log
check "viewer: the page ran" 0 $?
check "viewer: no error" "" "$(json_field error viewer.json)"
check "viewer: no script error" "[]" "$(sed -n 's/.*"errors":\(\[[^]]*\]\).*/\1/p' viewer.json)"
check "viewer: the legend's five classes with the thresholds" \
  '"legend":["0–0.07 µSv/h","0.07–0.11 µSv/h","0.11–0.19 µSv/h","0.19–0.5 µSv/h","from 0.5 µSv/h"]' \
  "$(grep -o '"legend":\[[^]]*\]' viewer.json)"
[ "$(json_field cellsDrawn viewer.json)" -gt 0 ]; check "viewer: cells drawn at zoom 12" 0 $?
check "viewer: a hot cell in its class colour" '"#d7191c"' "$(sed -n 's/.*"hot":{[^}]*"pixel":\("[^"]*"\).*/\1/p' viewer.json)"
check "viewer: a cold cell in its class colour" '"#abd9e9"' \
  "$(sed -n 's/.*"cold":{"class":2,"pixel":"#abd9e[89a]".*/"#abd9e9"/p' viewer.json)"
[ "$(json_field pointsDrawn viewer.json)" -gt 0 ]; check "viewer: measurements drawn at zoom 15" 0 $?
dose=$(json_field popupDose viewer.json)
grep -q "\"popup\":\"$(printf %.3g "$dose") µSv/h" viewer.json; check "viewer: a click shows the dose ($dose)" 0 $?
check "viewer: in Japanese for a Japanese browser" '"japanese":["0.5 以上 µSv/h","ホットスポット"]' \
  "$(grep -o '"japanese":\[[^]]*\]' viewer.json)"
check "viewer: from disk it asks for the file" true "$(json_field asked viewer.json)"
check "viewer: from disk, the file given, it draws" 5 "$(json_field fromDisk viewer.json)"
fi

checks_done browser_test
