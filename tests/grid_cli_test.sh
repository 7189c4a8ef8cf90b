#!/usr/bin/env bash
# dosemap-convert --grid and folders as logs, as a user runs them: every sample of every drive
# into cells in every form, read back by GDAL's drivers and xmllint when installed.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# A folder of drives: its files in byte order of their paths, hidden and linked ones passed over,
# a file of no known format skipped and counted.
mkdir -p drives/b drives/.cache drives/a
cp "$examples/drive.LOG" drives/b/monday.LOG
cp "$examples/drive.ers" drives/a/tuesday.ers
cp "$examples/drive-atomfast.csv" drives/wednesday.csv
cp "$examples/drive.LOG" drives/.cache/copy.LOG
ln -s "$examples/drive-czech.LOG" drives/link.LOG
echo "notes of the week" >drives/notes.txt
"$convert" --summary=json -o week.csv drives >week.json 2>err
check "a folder as a log exits 0" 0 $?
check "a folder: nothing on stderr" "" "$(cat err)"
check "a folder: files read" 3 "$(json_field files_read week.json)"
check "a folder: files skipped" 1 "$(json_field files_skipped week.json)"
check "a folder: logs in byte order of their paths" "a/tuesday.ers b/monday.LOG wednesday.csv" \
  "$(tail -n +2 week.csv | sed 's/.*,\([^,]*\):[0-9]*\r$/\1/' | uniq | paste -sd' ')"
"$convert" -o week.csv drives/b/monday.LOG drives/a/tuesday.ers "$examples/drive-atomfast.csv" \
  --summary=json >files.json
check "a folder counts like its files" "$(json_field kept files.json)" "$(json_field kept week.json)"
mkdir empty
"$convert" --summary=json -o none.csv empty >none.json; check "an empty folder exits 0" 0 $?
check "an empty folder: no file read" 0 "$(json_field files_read none.json)"

# Cells in every form: their counts add up to the measurements kept.
"$convert" --summary=json -o points.csv drives >points.json
kept=$(json_field kept points.json)
for form in csv geojson kml kmz html; do
  "$convert" --summary=json --grid 250 -o "cells.$form" drives >"cells-$form.json" 2>err
  check "--grid to .$form exits 0" 0 $?
  check "--grid to .$form: the figures stay the points'" "$kept" "$(json_field kept "cells-$form.json")"
done
cells=$(json_field cells cells-csv.json)
check "--grid: cells in the CSV" "$cells" "$(tail -n +2 cells.csv | wc -l)"
check "--grid: the cells hold every measurement" "$kept" "$(tail -n +2 cells.csv | awk -F, '{ s += $5 } END { print s }')"
check "--grid: a cell's mean between its lowest and highest" 0 \
  "$(tail -n +2 cells.csv | awk -F, '!($9 <= $6 && $6 <= $8) { n++ } END { print n + 0 }')"
check "--grid: GeoJSON polygons" "$cells" "$(grep -c '"type":"Polygon"' cells.geojson)"
check "--grid: KML placemarks" "$cells" "$(grep -c '<Placemark>' cells.kml)"
"$convert" --summary=json --grid 250 --grid-min 3 -o few.csv drives >few.json
check "--grid-min leaves out the small cells" 0 "$(tail -n +2 few.csv | awk -F, '$5 < 3 { n++ } END { print n + 0 }')"
check "--grid-min changes no figure" "$kept" "$(json_field kept few.json)"
if command -v xmllint >/dev/null; then
  xmllint --noout cells.kml; check "--grid: the KML is well-formed" 0 $?
  unzip -p cells.kmz doc.kml | xmllint --noout -; check "--grid: the KMZ document is well-formed" 0 $?
fi
if command -v ogrinfo >/dev/null; then
  count() { ogrinfo -ro -al -so "$@" 2>/dev/null | sed -n 's/^Feature Count: //p' | awk '{ s += $1 } END { print s }'; }
  check "--grid: GDAL's GeoJSON driver" "$cells" "$(count cells.geojson)"
  check "--grid: GDAL's LIBKML driver (KML)" "$cells" "$(count cells.kml)"
  check "--grid: GDAL's LIBKML driver (KMZ)" "$cells" "$(count cells.kmz)"
  check "--grid: GDAL's KML driver" "$cells" "$(count --config GDAL_SKIP LIBKML cells.kml)"
  ogrinfo -ro -al -q cells.geojson 2>/dev/null | grep -q 'POLYGON ((' ; check "--grid: GDAL reads polygons" 0 $?
  # The cells' figures typed, as the points' are, in both KML forms.
  for form in kml kmz; do
    fields=$(ogrinfo -ro -al -so "cells.$form" 2>/dev/null | grep -E '^(count|dose_mean_usvh|dose_max_usvh|class|first_time): ' | sort | tr '\n' ' ')
    check "--grid: GDAL's LIBKML driver reads the .$form's fields typed" \
      "class: Integer (0.0) count: Integer (0.0) dose_max_usvh: Real (0.0) dose_mean_usvh: Real (0.0) first_time: String (0.0) " "$fields"
  done
fi
# A description for readers that show no data, the legend, and times only when asked for.
check "--grid: each KML cell described" "$cells" "$(grep -c '<description>mean ' cells.kml)"
check "--grid: the KML's legend" 1 "$(grep -c '<ScreenOverlay><name>Legend</name><Icon><href>cells_files/legend.png' cells.kml)"
[ -s cells_files/legend.png ]; check "--grid: the legend beside the KML" 0 $?
check "--grid: the KMZ's legend" 1 "$(unzip -p cells.kmz doc.kml | grep -c '<href>files/legend.png</href>')"
unzip -l cells.kmz | grep -q ' files/legend.png$'; check "--grid: the legend inside the KMZ" 0 $?
check "--grid: no TimeSpan without --time" 0 "$(grep -c '<TimeSpan>' cells.kml)"
"$convert" --time --grid 250 -o timed.kml drives 2>/dev/null
check "--grid --time: a TimeSpan a cell" "$cells" "$(grep -c '<TimeSpan><begin>' timed.kml)"
"$convert" --time -o timed-points.kmz drives 2>/dev/null
"$convert" -o points.kml drives 2>/dev/null
check "--time: a TimeStamp a point" "$kept" "$(unzip -p timed-points.kmz doc.kml | grep -c '<TimeStamp><when>')"
check "no TimeStamp without --time" 0 "$(grep -c '<TimeStamp>' points.kml)"

# Above 5,000 cells the KMZ is regionated: every cell placed once, the hottest at the top.
awk 'BEGIN { srand(3); print "unix timestamp;doserate;lat;lng"
  for (i = 0; i < 30000; i++) printf "%d;%.5f;%.7f;%.7f\n", 1752939428 + 2 * i, 0.05 + rand() * 0.3, 37 + rand() * 0.2, 140 + rand() * 0.2 }' >wide.csv
"$convert" --summary=json --grid 100 -o wide.kmz wide.csv >wide.json
wide_cells=$(json_field cells wide.json)
check "a wide grid has more than 5,000 cells" 1 "$(( wide_cells > 5000 ))"
mkdir wide && (cd wide && unzip -q ../wide.kmz)
check "regionated KMZ: every cell once" "$wide_cells" "$(cat wide/*.kml wide/tiles/*.kml | grep -o '<Placemark>' | wc -l)"
check "regionated KMZ: 2,000 cells at the top" 2000 "$(grep -o '<Placemark>' wide/tiles/top.kml | wc -l)"
top_lowest=$(grep -o '"dose_mean_usvh"><value>[^<]*' wide/tiles/top.kml | sed 's/.*>//' | sort -g | head -n 1)
below_highest=$(cat wide/tiles/r*.kml | grep -o '"dose_mean_usvh"><value>[^<]*' | sed 's/.*>//' | sort -g | tail -n 1)
check "regionated KMZ: the hottest cells at the top" 1 "$(awk -v a="$top_lowest" -v b="$below_highest" 'BEGIN { print (a >= b) }')"

# What --grid refuses, before anything is written.
for bad in 9.99 100001 0 -5 abc; do
  "$convert" --grid "$bad" -o bad.csv drives 2>err; check "--grid $bad exits 2" 2 $?
done
"$convert" --grid 100 --grid-min 0 -o bad.csv drives 2>err; check "--grid-min 0 exits 2" 2 $?
"$convert" --grid 100 --grid-min 1.5 -o bad.csv drives 2>err; check "--grid-min 1.5 exits 2" 2 $?
"$convert" --grid-min 2 -o bad.csv drives 2>err; check "--grid-min without --grid exits 2" 2 $?
"$convert" --grid 100 -o cells.gpx drives 2>err; check "--grid to .gpx exits 2" 2 $?
check "--grid to .gpx: one line" 1 "$(wc -l <err)"
check "--grid to .gpx: nothing written" "" "$(ls | grep -E '^(bad|cells)\.gpx')"
"$convert" --grid 10 -o small.csv drives; check "--grid 10 exits 0" 0 $?
"$convert" --grid 100000 -o large.csv drives; check "--grid 100000 exits 0" 0 $?
check "--grid 100000: one cell for a drive" 1 "$(tail -n +2 large.csv | wc -l)"

checks_done grid_cli_test
