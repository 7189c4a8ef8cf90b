#!/usr/bin/env bash
# dosemap-convert -o OUT LOG... as a user runs it: every sample log in every map form, read back
# by real readers (GDAL's drivers and xmllint when installed), exit statuses, privacy, rejects.
set -u
convert=$1
examples=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0
check() {  # check DESCRIPTION EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}
json_field() { sed -n "s/.*\"$1\":\\([^,}]*\\).*/\\1/p" "$2" | tail -n 1; }

# Every sample, every form: the kept count is what each reader finds.
for sample in DATA_0.csv drive.LOG drive.rctrk drive-ios.rctrk drive-database.csv drive.ers; do
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
    check "$sample: GDAL's GeoJSON driver" "$kept" "$(count "$base.geojson")"
    check "$sample: GDAL's LIBKML driver (KML)" "$kept" "$(count "$base.kml")"
    check "$sample: GDAL's LIBKML driver (KMZ)" "$kept" "$(count "$base.kmz")"
    check "$sample: GDAL's KML driver" "$kept" "$(count --config GDAL_SKIP LIBKML "$base.kml")"
    # Every point at its place: the GeoJSON's coordinates against the KML's, as GDAL reads them.
    points() { ogrinfo -ro -al -q "$@" 2>/dev/null | sed -n 's/^ *POINT Z* *(\(.*\))$/\1/p' | awk '{ printf "%.7f %.7f\n", $1, $2 }'; }
    cmp -s <(points "$base.geojson") <(points "$base.kml"); check "$sample: KML points at the GeoJSON's places" 0 $?
  fi
done
[ -f DATA_0_csv_files/square.png ]; check "the KML's icon is written beside it" 0 $?
grep -q '<href>DATA_0_csv_files/square.png</href>' DATA_0_csv.kml; check "the KML refers to its icon by a relative path" 0 $?
check "KMZ entries" "doc.kml files/square.png" "$(unzip -Z1 drive_LOG.kmz | paste -sd' ')"
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

[ "$failures" -eq 0 ] && echo "path_cli_test: all checks passed"
exit "$failures"
