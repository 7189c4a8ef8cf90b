#!/usr/bin/env bash
# dosemap-convert -o OUT LOG... as a user runs it: every sample log in every map form, read back
# by real readers (GDAL's drivers and xmllint when installed), exit statuses, privacy, rejects.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# Every sample, every form: the kept count is what each reader finds.
for sample in DATA_0.csv drive.LOG drive.rctrk drive-ios.rctrk drive-database.csv drive.ers \
              drive-czech.LOG drive-atomfast.csv drive-atomfast.json drive-radiacode.kml; do
  base=${sample//./_}
  "$convert" --summary=json -o "$base.geojson" "$examples/$sample" >summary.json 2>err
  check "$sample to GeoJSON" 0 $?
  check "$sample: nothing on stderr" "" "$(cat err)"
  kept=$(json_field kept summary.json)
  check "$sample: features" "$kept" "$(grep -c '"type":"Feature"' "$base.geojson")"
  "$convert" -o "$base.kml" "$examples/$sample" 2>/dev/null; check "$sample to KML" 0 $?
  "$convert" -o "$base.kmz" "$examples/$sample" 2>/dev/null; check "$sample to KMZ" 0 $?
  if command -v xmllint >/dev/null; then
    xmllint --noout "$base.kml"; check "$sample: KML is well-formed" 0 $?
    unzip -p "$base.kmz" doc.kml | xmllint --noout -; check "$sample: KMZ document is well-formed" 0 $?
  fi
  if command -v ogrinfo >/dev/null; then
    count() { ogrinfo -ro -al -so "$@" 2>/dev/null | sed -n 's/^Feature Count: //p' | awk "{ s += \$1 } END { print s }"; }
    # The KML forms also hold their routes' lines: their points are the measurements.
    count_points() { ogrinfo -ro -al -q "$@" 2>/dev/null | grep -cE '^ *POINT'; }
    check "$sample: GDAL's GeoJSON driver" "$kept" "$(count "$base.geojson")"
    check "$sample: GDAL's LIBKML driver (KML)" "$kept" "$(count_points "$base.kml")"
    check "$sample: GDAL's LIBKML driver (KMZ)" "$kept" "$(count_points "$base.kmz")"
    check "$sample: GDAL's KML driver" "$kept" "$(count_points --config GDAL_SKIP LIBKML "$base.kml")"
    # Every point at its place: the GeoJSON's coordinates against the KML's, as GDAL reads them.
    points() { ogrinfo -ro -al -q "$@" 2>/dev/null | sed -n 's/^ *POINT Z* *(\(.*\))$/\1/p' | awk '{ printf "%.7f %.7f\n", $1, $2 }'; }
    cmp -s <(points "$base.geojson") <(points "$base.kml"); check "$sample: KML points at the GeoJSON's places" 0 $?
  fi
done
# Each sample's faults, rejected with their reasons (GPS spike, poor fix, a sentence written twice).
"$convert" --summary=json -o all.csv "$examples/drive-czech.LOG" "$examples/drive-atomfast.csv" \
  "$examples/drive-radiacode.kml" >summary.json
check "the samples' faults" '{"accuracy":2,"duplicate":1,"gps_jump":1}' \
  "$(grep -o '"rejected":{[^}]*}' summary.json | sed 's/"rejected"://')"
# Our own maps read back: the same figures as from the log.
"$convert" --summary=json -o drive.csv "$examples/drive.LOG" >from-logs.json
"$convert" --summary=json -o drive.geojson "$examples/drive.LOG" >/dev/null
"$convert" --summary=json -o back.kml drive.csv >from-csv.json
"$convert" --summary=json -o back.kml --from geojson drive.geojson >from-geojson.json
for form in csv geojson; do
  # The maps give doses: the log's cpm factor is not theirs. A hotspot's source is the file read.
  check "$form read back: the same figures" "$(sed 's/"read":[0-9]*,//' from-logs.json | sed 's/"rejected":{[^}]*}/R/; s/,"cpm_factor":{[^}]*}//; s/"source":"[^"]*"/S/g')" \
    "$(sed 's/"read":[0-9]*,//' from-$form.json | sed 's/"rejected":{[^}]*}/R/; s/"source":"[^"]*"/S/g')"
done
# GPX and CSV: every kept point, and GDAL's GPX driver finds them with their figures.
"$convert" --summary=json -o drive.gpx "$examples/drive.LOG" "$examples/drive.ers" >summary.json
check "GPX track points" 237 "$(grep -c '<trkpt ' drive.gpx)"
check "GPX tracks" 2 "$(grep -c '<trk>' drive.gpx)"
"$convert" -o drive.csv "$examples/drive.LOG" "$examples/drive.ers"
check "CSV header" "time,latitude,longitude,altitude,dose_usvh,dose_sigma_usvh,cpm,class,source" "$(head -n 1 drive.csv | tr -d '\r')"
check "CSV rows" 237 "$(tail -n +2 drive.csv | wc -l)"
check "CSV first row" "2026-11-21T01:30:00Z,37.421,140.471,210,0.08383233532934131,0.015842822221943654,28,2,drive.LOG:4" "$(sed -n 2p drive.csv | tr -d '\r')"
"$convert" -o 'a,b.csv' "$examples/drive.LOG" && cp "$examples/drive.LOG" 'x,y.LOG' && "$convert" -o quoted.csv 'x,y.LOG'
check "CSV quotes a source with a comma" '"x,y.LOG:4"' "$(sed -n 2p quoted.csv | tr -d '\r' | sed 's/.*,\("[^"]*"\)$/\1/')"
if command -v xmllint >/dev/null; then
  xmllint --noout drive.gpx; check "GPX is well-formed" 0 $?
fi
if command -v ogrinfo >/dev/null; then
  check "GDAL's GPX driver: track points" 237 "$(ogrinfo -ro -so drive.gpx track_points 2>/dev/null | sed -n 's/^Feature Count: //p')"
  ogrinfo -ro -q drive.gpx track_points -where 'fid = 0' 2>/dev/null | grep -q 'dosemap_dose_usvh (Real) = 0.0838323353293413'
  check "GDAL's GPX driver reads the dose extension" 0 $?
  points() { ogrinfo -ro -al -q "$@" 2>/dev/null | sed -n 's/^ *POINT Z* *(\(.*\))$/\1/p' | awk '{ printf "%.7f %.7f\n", $1, $2 }'; }
  "$convert" -o both.geojson "$examples/drive.LOG" "$examples/drive.ers"
  cmp -s <(points both.geojson) <(points drive.gpx track_points); check "GPX points at the GeoJSON's places" 0 $?
  check "GDAL's CSV driver: rows" 237 "$(ogrinfo -ro -al -so drive.csv 2>/dev/null | sed -n 's/^Feature Count: //p')"
fi

# A long drive: the KMZ is regionated, every measurement in exactly one document of at most
# 5,000, the highest doses at the top.
awk 'BEGIN { print "Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude"
  for (i = 0; i < 12000; i++) {
    t = 1767225600 + i; d = 0.03 + (i * 7919 % 1000) / 1000
    printf "2026/01/%02d %02d:%02d:%02d,A,%d,%.3f,%.6f,%.6f,%d\n", 1 + int(i / 86400), int(i / 3600) % 24, int(i / 60) % 60, i % 60,
      d * 334, d, 37 + (i % 120) / 1000, 140 + int(i / 120) / 1000, 10 }
}' >long.csv
"$convert" --summary=json -o long.kmz long.csv >summary.json; check "long drive to KMZ" 0 $?
check "long drive kept" 12000 "$(json_field kept summary.json)"
unzip -q -d long long.kmz
# doc.kml first and the only document at the root (readers take the first .kml they meet); it
# holds the view, the legend and links only, and the rest lies under tiles/.
check "regionated: doc.kml is the first entry" doc.kml "$(unzip -Z1 long.kmz | head -n 1)"
check "regionated: the only document at the root" doc.kml "$(unzip -Z1 long.kmz | grep -v / | grep 'kml$' | paste -sd' ')"
check "regionated: doc.kml holds no placemark" 0 "$(grep -c '<Placemark>' long/doc.kml)"
grep -q '<LookAt>' long/doc.kml && grep -q '<ScreenOverlay>' long/doc.kml; check "regionated: doc.kml has the view and the legend" 0 $?
check "regionated: documents" 1 "$(( $(ls long/tiles/*.kml | wc -l) > 4 ))"
total=0; biggest=0
for doc in long/tiles/*.kml; do
  n=$(grep -c '<Point>' "$doc"); total=$((total + n)); [ "$n" -gt "$biggest" ] && biggest=$n
done
check "every measurement placed once" 12000 "$total"
check "no document over 5,000 placemarks" 1 "$(( biggest <= 5000 ))"
grep -q '<Region>' long/tiles/r0.kml && grep -q '<NetworkLink>' long/doc.kml; check "NetworkLinks with Regions" 0 $?
grep -q '<Region>' long/tiles/top.kml; check "the top level's placemarks are always shown" 1 $?
dose() { grep -o 'SimpleData name="dose_usvh">[^<]*' "$@" | sed 's/.*>//' | sort -g; }
check "the top document holds the highest doses" 1 \
  "$(awk -v a="$(dose long/tiles/top.kml | head -n 1)" -v b="$(dose $(ls long/tiles/*.kml | grep -v top.kml) | tail -n 1)" 'BEGIN { print (a >= b) }')"
check "the route is always shown" 1 "$(grep -c '<LineString>' long/tiles/route.kml | awk '{ print ($1 > 0) }')"
if command -v xmllint >/dev/null; then
  xmllint --noout long/doc.kml long/tiles/*.kml; check "every document well-formed" 0 $?
fi
if command -v ogrinfo >/dev/null; then
  # GDAL lists the linked documents as layers: together they hold every measurement once, the
  # highest doses among them.
  found=0
  for doc in $(unzip -Z1 long.kmz | grep 'kml$'); do
    n=$(ogrinfo -ro -al -q "/vsizip/long.kmz/$doc" 2>/dev/null | grep -cE '^ *POINT')
    found=$((found + n))
  done
  check "GDAL's LIBKML driver reads the whole hierarchy" 12000 "$found"
  check "GDAL finds the highest dose" 1.029 "$(ogrinfo -ro -al -q /vsizip/long.kmz/tiles/top.kml 2>/dev/null |
    sed -n 's/^ *dose_usvh (Real) = //p' | sort -g | tail -n 1)"
fi

[ -f DATA_0_csv_files/square.png ]; check "the KML's icon is written beside it" 0 $?
grep -q '<href>DATA_0_csv_files/square.png</href>' DATA_0_csv.kml; check "the KML refers to its icon by a relative path" 0 $?
check "KMZ entries" "doc.kml files/square.png files/class1.png files/class2.png files/class3.png files/class4.png files/class5.png files/legend.png" \
  "$(unzip -Z1 drive_LOG.kmz | paste -sd' ')"
[ -f DATA_0_csv_files/legend.png ]; check "the KML's legend is written beside it" 0 $?
grep -q '<ScreenOverlay><name>Legend</name><Icon><href>DATA_0_csv_files/legend.png</href>' DATA_0_csv.kml
check "the KML shows its legend" 0 $?
if command -v identify >/dev/null; then
  # The legend: its size, and the five class colours (ColorBrewer's RdYlBu) each in a swatch.
  check "legend size" 230x152 "$(identify -format %wx%h DATA_0_csv_files/legend.png)"
  check "legend: five class swatches" 5 "$(convert DATA_0_csv_files/legend.png -format %c histogram:info:- |
    grep -ciE '#(2c7bb6|abd9e9|ffffbf|fdae61|d7191c)(ff)? ' )"
  unzip -p drive_LOG.kmz files/class5.png >class5.png
  check "a class icon in its colour" 1 "$(convert class5.png -format '%[hex:p{16,16}]' info:- | grep -ci '^d7191c')"
fi
if command -v ogrinfo >/dev/null; then
  # Typed fields, so that GDAL and QGIS read numbers as numbers.
  ogrinfo -ro -al -so drive_LOG.kml 2>/dev/null | tr -d ' ' | grep -E '^(dose_usvh|dose_sigma_usvh|cpm|class|time|source):' | sort -u >fields
  check "typed fields (LIBKML)" "class:Integer(0.0) cpm:Real(0.0) dose_sigma_usvh:Real(0.0) dose_usvh:Real(0.0) source:String(0.0) time:String(0.0)" \
    "$(paste -sd' ' fields)"
  ogrinfo -ro -al -q drive_LOG.kml -where 'cpm > 40' 2>/dev/null | grep -c 'dose_usvh (Real)' >hot
  check "numbers compare as numbers" 1 "$(awk '{ print ($1 > 0 && $1 < 117) }' hot)"
fi
grep -q '<description>0.0838 ± 0.016 µSv/h, 28 cpm, 2026-11-21T01:30:00Z, drive.LOG:4</description>' drive_LOG.kml
check "a pop-up text for readers that show no data" 0 $?
check "labels off by default" 5 "$(grep -c '<LabelStyle><scale>0</scale></LabelStyle>' drive_LOG.kml)"
"$convert" --labels -o labels.kml "$examples/drive.LOG"
check "--labels shows them" 0 "$(grep -c '<LabelStyle><scale>0</scale>' labels.kml)"
# Marble looks for a KMZ's icons beside it: written there only when asked.
mkdir beside && "$convert" --icons-beside -o beside/drive.kmz "$examples/drive.LOG"
check "--icons-beside" "class1.png class2.png class3.png class4.png class5.png legend.png square.png" "$(ls beside/files | paste -sd' ')"
[ -e files ]; check "no icons beside a KMZ unasked" 1 $?
ln -s /nonexistent beside/files/legend.png 2>/dev/null || { rm beside/files/legend.png; ln -s /nonexistent beside/files/legend.png; }
"$convert" --icons-beside -o beside/drive.kmz "$examples/drive.LOG" 2>err
check "--icons-beside writes through no link" 1 $?
[ -L beside/files/legend.png ]; check "the link stays as it was" 0 $?

# The route under the points breaks where records were private, so no line runs through a home.
zone=37.4235,140.4735,60
"$convert" -o route.kml "$examples/drive.LOG"
"$convert" --privacy "$zone" -o private.kml "$examples/drive.LOG"
check "one route piece without a zone" 1 "$(grep -c '<LineString>' route.kml)"
check "the route breaks at the zone" 2 "$(grep -c '<LineString>' private.kml)"
# No route vertex, and no point on any of its segments, comes within the zone.
grep -o '<LineString>.*</LineString>' private.kml | sed 's/.*<coordinates>//; s/<.*//' |
  awk -v lat0=37.4235 -v lon0=140.4735 '{
    for (i = 1; i <= NF; i++) { split($i, c, ","); x[i] = (c[1] - lon0) * 88300; y[i] = (c[2] - lat0) * 111320 }
    for (i = 1; i < NF; i++) for (s = 0; s <= 20; s++) {
      px = x[i] + (x[i + 1] - x[i]) * s / 20; py = y[i] + (y[i + 1] - y[i]) * s / 20
      if (px * px + py * py < 60 * 60) near++ } }
    END { print near + 0 }' >near
check "the route keeps out of the zone" 0 "$(cat near)"
"$convert" --icon-url https://example.org/i.png -o web.kml "$examples/drive.LOG"
grep -q '<href>https://example.org/i.png</href>' web.kml; check "--icon-url" 0 $?
[ -e web_files ]; check "no icon folder with --icon-url" 1 $?

# Several logs in one map, in the order given; a format forced.
"$convert" --summary=json -o all.geojson "$examples/drive.LOG" "$examples/drive.ers" >summary.json
check "two logs kept" 237 "$(json_field kept summary.json)"
check "two logs in order" "drive.LOG drive.ers" "$(grep -o '"source":"[^:]*' all.geojson | sed 's/.*"//' | uniq | paste -sd' ')"
cat "$examples/drive.LOG" | "$convert" --from bgeigie -o stdin.geojson - 2>err; check "standard input" 0 $?
check "standard input's source" 117 "$(grep -c '"source":"(stdin):' stdin.geojson)"

# Failures: nothing is written, one line, the exit status.
echo "not a log" >text.txt
"$convert" -o none.kml "$examples/drive.LOG" text.txt 2>err; check "unknown format exits 1" 1 $?
check "unknown format: one line" 1 "$(wc -l <err)"
[ -e none.kml ]; check "no map after an unknown format" 1 $?
"$convert" -o none.kml missing.LOG 2>err; check "missing log exits 1" 1 $?
"$convert" -o none.svg "$examples/drive.LOG" 2>err; check "unknown map form exits 2" 2 $?
"$convert" --yellow x -o none.kml "$examples/drive.LOG" 2>err; check "bad threshold exits 2" 2 $?
"$convert" --from gpx -o none.kml "$examples/drive.LOG" 2>err; check "bad --from exits 2" 2 $?
"$convert" --privacy 91,0,10 -o none.kml "$examples/drive.LOG" 2>err; check "bad zone exits 2" 2 $?
grep -q 91 err; check "a bad zone is not echoed" 1 $?
printf '# zones\n37.4,140.4,10\nnonsense\n' >zones.txt
"$convert" --privacy-file zones.txt -o none.kml "$examples/drive.LOG" 2>err; check "bad zone file exits 2" 2 $?
check "bad zone file names the line" "dosemap-convert: zones.txt: line 3: not a zone (a circle is LAT,LON,RADIUS_M)" "$(cat err)"
[ -e none.kml ]; check "no map after a failure" 1 $?

# Privacy: the hot spot's surroundings are kept off the map, the rejects file and the figures.
"$convert" --summary=json --privacy 37.4457,140.5035,150 --privacy-box 37.421,140.471,37.4215,140.4716 \
  --rejects rejects.csv -o private.geojson "$examples/drive.LOG" >summary.json
check "privacy count" 6 "$(json_field privacy summary.json)"
check "read = kept + rejected + privacy" "$(json_field read summary.json)" \
  "$(( $(json_field kept summary.json) + 4 + $(json_field privacy summary.json) ))"
check "rejects header" "file,line,reason,text" "$(head -n 1 rejects.csv)"
check "rejects rows" "checksum checksum gps_void gps_void" "$(tail -n +2 rejects.csv | cut -d, -f3 | sort | paste -sd' ')"
# No kept point lies within the circle (great-circle distance, as the zone measures it).
near=$(grep -o '"coordinates":\[[^]]*' private.geojson | sed 's/.*\[//' | awk -F, '
  function rad(x) { return x * 3.14159265358979 / 180 }
  { a = sin(rad($2 - 37.4457) / 2) ^ 2 + cos(rad($2)) * cos(rad(37.4457)) * sin(rad($1 - 140.5035) / 2) ^ 2
    if (2 * 6371008.8 * atan2(sqrt(a), sqrt(1 - a)) <= 150) n++ }
  END { print n + 0 }')
check "no kept point in the zone" 0 "$near"
check "six points fewer than without zones" 111 "$(grep -c '"type":"Feature"' private.geojson)"
grep -q ',37\.44[4-6]' rejects.csv; check "the rejects file holds nothing of the zone" 1 $?

# Progress: on a terminal, one line rewritten in place once the run has taken a second, erased at
# the end; in a pipe, nothing. The log arrives through a pipe that stops once the run has begun
# its map (its staging file is there, so its clock runs) and goes on 1.1 s later: the second has
# passed when the 65,536th line is read, however busy the machine is.
awk 'BEGIN { print "Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude"
  for (i = 0; i < 70000; i++) printf "2026/01/01 00:00:00,A,28,0.080,37.%06d,140.1,10\n", i }' >progress.csv
# script(1) runs its command with the user's shell, which may be dash: the slow writer is a file.
cat >slow_log.sh <<'SH'
head -n 2000 progress.csv
until ls progress.geojson.?????? >/dev/null 2>&1; do sleep 0.01; done
sleep 1.1
tail -n +2001 progress.csv
SH
if command -v script >/dev/null; then
  script -qec "bash slow_log.sh | '$convert' -o progress.geojson -" typescript </dev/null >/dev/null
  check "progress on a terminal: exit" 0 $?
  check "progress on a terminal" 1 "$(grep -c $'\r65535 records\e\[K\r70000 records\e\[K\r\e\[K' typescript)"
fi
bash slow_log.sh | "$convert" -o progress.geojson - 2>err; check "progress in a pipe: exit" 0 $?
check "no progress in a pipe" "" "$(cat err)"
check "progress run's features" 70000 "$(grep -c '"type":"Feature"' progress.geojson)"

# Options of some map forms only: listed under their forms, refused with any other.
"$convert" --help >help.txt
check "--help: the KML forms' options under them" 1 \
  "$(grep -A3 '^Only with .kml and .kmz maps' help.txt | grep -c -e '--labels' -e '--time' | grep -c 2)"
check "--help: --icon-url under .kml" 1 "$(grep -A1 '^Only with .kml maps' help.txt | grep -c -e '--icon-url')"
check "--help: --icons-beside under .kmz" 1 "$(grep -A1 '^Only with .kmz maps' help.txt | grep -c -e '--icons-beside')"
for refused in "--labels:geojson" "--time:csv" "--icon-url=https://example.org/i.png:kmz" "--icons-beside:kml"; do
  option=${refused%:*} form=${refused##*:}
  "$convert" "$option" -o "refused.$form" "$examples/drive.LOG" 2>err
  check "$option with .$form: usage error" 2 $?
  check "$option with .$form: names the forms that take it" 1 "$(grep -c -e "${option%%=*} is for .km[lz]" err)"
  [ -e "refused.$form" ]; check "$option with .$form: nothing written" 1 $?
done


# Hotspots: the file in both forms, read by GDAL; the limits as options; off with --no-hotspots.
"$convert" --summary=json --hotspots hot.geojson -o drive.csv "$examples/drive.LOG" >summary.json
check "--hotspots FILE.geojson" 0 $?
check "a hotspot in the summary and the file" "$(grep -o '"rank":' summary.json | wc -l)" \
  "$(grep -c '"type":"Feature"' hot.geojson)"
if command -v ogrinfo >/dev/null; then
  check "hotspots: GDAL's GeoJSON driver" 1 "$(ogrinfo -ro -al -so hot.geojson 2>/dev/null | sed -n 's/^Feature Count: //p')"
  "$convert" --hotspots hot.csv -o drive.csv "$examples/drive.LOG"
  check "hotspots: GDAL's CSV driver" 1 "$(ogrinfo -ro -al -so hot.csv 2>/dev/null | sed -n 's/^Feature Count: //p')"
fi
"$convert" --summary=json --hotspot-join 5 -o drive.csv "$examples/drive.LOG" >summary.json
check "--hotspot-join 5: readings farther apart make no hotspot" '"hotspots":[]}' "$(grep -o '"hotspots":.*' summary.json)"
"$convert" --summary=json --no-hotspots -o drive.csv "$examples/drive.LOG" >summary.json
check "--no-hotspots: no hotspot keys" 0 "$(grep -c 'hotspots\|background_usvh' summary.json)"
for bad in "--hotspot-factor 1" "--hotspot-join 0" "--hotspots hot.txt" "--no-hotspots --hotspots hot.csv"; do
  # shellcheck disable=SC2086
  "$convert" $bad -o drive.csv "$examples/drive.LOG" 2>err
  check "$bad: a usage error" 2 $?
  check "$bad: one line" 1 "$(wc -l <err)"
done

# What changed: every form with a grid draws the compared cells, and GDAL reads them with their
# typed fields.
"$convert" --summary=json --compare 2026-01-01 --grid 100 -o change.geojson "$examples/drive-2025.LOG" \
  "$examples/drive.LOG" >summary.json
check "--compare to GeoJSON" 0 $?
compared=$(sed -n 's/.*"compare":{"cells":\([0-9]*\).*/\1/p' summary.json)
for form in csv kml kmz html; do
  "$convert" --compare 2026-01-01 --grid 100 -o "change.$form" "$examples/drive-2025.LOG" "$examples/drive.LOG"
  check "--compare to .$form" 0 $?
done
check "--compare: a feature a compared cell" "$compared" "$(grep -c '"type":"Feature"' change.geojson)"
if command -v xmllint >/dev/null; then
  xmllint --noout change.kml; check "--compare: the KML is well-formed" 0 $?
fi
if command -v ogrinfo >/dev/null; then
  for file in change.geojson change.kml change.kmz; do
    check "--compare: GDAL reads $file" "$compared" "$(ogrinfo -ro -al -so "$file" 2>/dev/null | sed -n 's/^Feature Count: //p')"
  done
  check "--compare: the KML's excess is a number" "excess: Real (0.0)" "$(ogrinfo -ro -al -so change.kml 2>/dev/null | grep -o 'excess: Real (0.0)')"
fi

checks_done path_cli_test
