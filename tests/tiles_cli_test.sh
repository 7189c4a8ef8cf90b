#!/usr/bin/env bash
# dosemap-convert -o OUT.mbtiles and OUT.pmtiles as a user runs them: GDAL's MBTiles driver reads
# every kept measurement once at the highest zoom, none in a privacy zone, and cells that count
# them all at every zoom below; the options are refused where they don't belong.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
examples=$2
work_in_temp
mkdir tmp
export TMPDIR=$work/tmp

zone=37.4335,140.4835,300
"$convert" --summary=json --privacy "$zone" -o drive.mbtiles "$examples/drive.LOG" "$examples/drive-czech.LOG" \
  >summary.json 2>err
check ".mbtiles exits 0" 0 $?
check ".mbtiles: nothing on stderr" "" "$(cat err)"
kept=$(json_field kept summary.json)
[ "$(json_field privacy summary.json)" -gt 0 ]; check "the zone holds measurements" 0 $?
check "the summary counts none outside the tiles" 0 "$(json_field outside_tiles summary.json)"
"$convert" --summary=json --privacy "$zone" -o drive.pmtiles "$examples/drive.LOG" "$examples/drive-czech.LOG" \
  >pmtiles.json
check ".pmtiles exits 0" 0 $?
check ".pmtiles: the viewer beside it" "index.html maplibre-gl.css viewer.js" "$(ls drive_files | paste -sd' ')"
check ".pmtiles: the file" "PMTiles" "$(head -c 7 drive.pmtiles)"
check "no temporary file left" "" "$(ls tmp)"

if command -v ogr2ogr >/dev/null; then
  ogrinfo -ro -so drive.mbtiles >info.txt 2>&1
  check "GDAL: the layers" "measurements cells" "$(sed -n 's/^[0-9]*: \([a-z]*\).*/\1/p' info.txt | paste -sd' ')"
  grep -q 'maxzoom=14' info.txt; check "GDAL: zooms to 14" 0 $?
  ogr2ogr -f CSV -oo ZOOM_LEVEL=14 -t_srs EPSG:4326 -lco GEOMETRY=AS_XY points.csv drive.mbtiles measurements 2>err
  check "GDAL: the measurements read" "" "$(grep -v Warning err)"
  check "GDAL: every kept measurement at zoom 14" "$kept" "$(tail -n +2 points.csv | wc -l)"
  check "GDAL: each once" "$kept" "$(tail -n +2 points.csv | cut -d, -f3- | sort -u | wc -l)"
  near=$(tail -n +2 points.csv | awk -F, -v zone="$zone" 'BEGIN { split(zone, z, ","); r = 3.14159265358979 / 180 }
    { a = sin(($2 - z[1]) * r / 2) ^ 2 + cos($2 * r) * cos(z[1] * r) * sin(($1 - z[2]) * r / 2) ^ 2
      if (2 * 6371008.8 * atan2(sqrt(a), sqrt(1 - a)) <= z[3] + 1) n++ } END { print n + 0 }')
  check "GDAL: none in the zone" 0 "$near"
  sums=""
  for z in $(seq 0 13); do
    sums+="$(ogrinfo -ro -q -oo ZOOM_LEVEL="$z" drive.mbtiles -sql 'SELECT SUM(count) AS n FROM cells' |
      sed -n 's/^ *n ([A-Za-z0-9]*) = //p' | awk '{ printf "%d", $1 }') "
  done
  check "GDAL: the cells count every kept measurement at zooms 0-13" "$(printf "$kept %.0s" $(seq 0 13))" "$sums"
else
  echo "SKIP: GDAL's ogr2ogr is not installed"
fi

# Beyond Web Mercator's reach: kept and counted, not tiled.
printf 'unix timestamp;doserate;lat;lng\n1763688600;0.1;37.42;140.47\n1763688602;0.1;86.5;140.47\n' >pole.csv
"$convert" --summary=json --max-speed 0 --max-zoom 6 -o pole.mbtiles pole.csv >pole.json
check "near the pole: kept" 2 "$(json_field kept pole.json)"
check "near the pole: outside the tiles" 1 "$(json_field outside_tiles pole.json)"
if command -v ogr2ogr >/dev/null; then
  check "near the pole: one tiled" 1 "$(ogrinfo -ro -q -oo ZOOM_LEVEL=6 pole.mbtiles -sql 'SELECT COUNT(*) AS n FROM measurements' |
    sed -n 's/^ *n ([A-Za-z0-9]*) = //p' | awk '{ printf "%d", $1 }')"
fi
"$convert" --summary -o pole.geojson pole.csv --max-speed 0 >line.txt
grep -q "outside tiles" line.txt; check "no tiles, no such count" 1 $?

# --max-zoom: a whole number from 6 to 16, and only with the tile forms.
for bad in 5 17 14.5 x; do
  "$convert" --max-zoom "$bad" -o bad.pmtiles "$examples/drive.LOG" 2>err
  check "--max-zoom $bad exits 2" 2 $?
  check "--max-zoom $bad: says what it takes" "dosemap-convert: --max-zoom takes a whole number from 6 to 16" "$(head -n 1 err)"
done
[ -e bad.pmtiles ]; check "a refused run writes nothing" 1 $?
"$convert" --max-zoom 10 -o drive.geojson "$examples/drive.LOG" 2>err
check "--max-zoom with .geojson exits 2" 2 $?
grep -q "^dosemap-convert: --max-zoom is for .pmtiles and .mbtiles maps only" err
check "--max-zoom with .geojson: says so" 0 $?
"$convert" --grid 100 -o cells.pmtiles "$examples/drive.LOG" 2>err
check "--grid with .pmtiles exits 2" 2 $?
"$convert" --max-zoom 16 -o top.pmtiles "$examples/drive.LOG"
check "--max-zoom 16" 16 "$(od -An -tu1 -j101 -N1 top.pmtiles | tr -d ' ')"

checks_done tiles_cli_test
