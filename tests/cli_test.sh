#!/usr/bin/env bash
# Checks dosemap-convert as a user runs it: exit statuses, messages, and (when GDAL's ogrinfo is
# installed) that a real KML reader finds every placemark of the sample log at its coordinates.
set -u
convert=$1
sample=$2
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

"$convert" >/dev/null 2>err; check "no arguments exits 2" 2 $?
grep -q '^usage: dosemap-convert' err; check "usage line on stderr" 0 $?
"$convert" a b c >/dev/null 2>&1; check "three arguments exit 2" 2 $?
"$convert" --strange a b >/dev/null 2>&1; check "unknown option exits 2" 2 $?
"$convert" --help >out 2>&1; check "--help exits 0" 0 $?
grep -q '^usage: dosemap-convert' out; check "--help prints the usage" 0 $?

"$convert" missing out 2>err; check "missing log exits 1" 1 $?
check "missing log message" "dosemap-convert: missing.csv: cannot open: No such file or directory" "$(cat err)"
[ -e out.kml ]; check "no KML after an early failure" 1 $?

cp "$sample" DATA_0.csv
"$convert" DATA_0 DATA_0 2>err; check "sample converts" 0 $?
check "nothing on stderr" "" "$(cat err)"
check "placemarks" 295 "$(grep -c '^ <Placemark>' DATA_0.kml)"
"$convert" DATA_0 thresholds 0.11 "" 2>err; check "empty red threshold exits 1" 1 $?
grep -q 'red threshold "" is not a number' err; check "names the red threshold" 0 $?

# --summary, --strict and --kmz: the same records, classes, exclusion and descriptions.
"$convert" --strict --kmz DATA_0 x >/dev/null 2>&1; check "--strict with --kmz exits 2" 2 $?
cp DATA_0.kml plain.kml
summary=$("$convert" --summary DATA_0 DATA_0)
check "summary line" "records read 300, placemarks 295, in the exclusion box 4, per dose class 1-5 74 81 63 60 17, highest dose 1.137 at 2026/11/14 09:14:27 (latitude 35.34689, longitude 139.48745), ended at the end of the log" "$summary"
cmp -s plain.kml DATA_0.kml; check "--summary leaves the map as it is" 0 $?
"$convert" --strict DATA_0 strict; check "strict converts" 0 $?
"$convert" --kmz DATA_0 packed; check "kmz converts" 0 $?
[ -e packed.kmz-doc.kml ]; check "no document left beside the KMZ" 1 $?
# The class of each placemark: from the colour and scale lines, and from the style references.
sed -n '/^ <Placemark>/{n;p}' DATA_0.kml | sed -e 's/.*a000ff00.*0\.8.*/1/' -e 's/.*a000ff00.*>1<.*/2/' \
  -e 's/.*a000ffff.*/3/' -e 's/.*1\.5.*/4/' -e 's/.*f0000fff.*>2<.*/5/' >classic.classes
sed -n 's/^<styleUrl>#dose\([1-5]\)<\/styleUrl>.*/\1/p' strict.kml >strict.classes
cmp -s classic.classes strict.classes; check "strict classes match the classic ones" 0 $?
check "strict placemarks" 295 "$(wc -l <strict.classes)"
cmp -s <(grep -o '<h1>.*</h1>' DATA_0.kml) <(grep -o '<h1>.*</h1>' strict.kml)
check "strict descriptions match the classic ones" 0 $?
printf 'h,h,h,h,h,h,h\n1,,1,0.05,1,1,1\n2,,7,0.2,1,1,1\n3,,n/a,0.2,1,1,1\n' >bad.csv
"$convert" --strict bad bad 2>/dev/null; check "a count that is no number exits 1" 1 $?
check "a stopped strict map ends whole" "</Placemark>|</Folder>|</Document>|</kml>" "$(tail -n 4 bad.kml | tr -d '\r' | paste -sd'|')"

if command -v xmllint >/dev/null; then
  for map in strict.kml bad.kml; do
    xmllint --noout "$map"; check "$map is well-formed XML" 0 $?
  done
  check "styles referenced are defined" 5 \
    "$(xmllint --xpath 'count(//*[local-name()="Style"][@id="dose1" or @id="dose2" or @id="dose3" or @id="dose4" or @id="dose5"])' strict.kml)"
fi
if command -v unzip >/dev/null; then
  check "KMZ entries" "doc.kml files/square.png" "$(unzip -Z1 packed.kmz | paste -sd' ')"
  unzip -p packed.kmz doc.kml | grep -q '<href>files/square.png</href>'; check "KMZ icon is relative" 0 $?
fi

if command -v ogrinfo >/dev/null; then
  # Every record but the first (the camera) and those in the exclusion box, in file order.
  tr -d '\r' <DATA_0.csv | awk -F, 'NR > 2 && !($5 >= 35.346 && $5 <= 35.3465 && $6 >= 139.4875 && $6 <= 139.488) {
    printf "%.6f %.6f %.1f\n", $6, $5, $7 }' >expected
  ogrinfo -ro -al -q DATA_0.kml 2>/dev/null | sed -n 's/^ *POINT Z (\(.*\))$/\1/p' |
    awk '{ printf "%.6f %.6f %.1f\n", $1, $2, $3 }' >actual
  check "ogrinfo feature count" 295 "$(wc -l <actual)"
  cmp -s expected actual; check "ogrinfo reads every point at its coordinates" 0 $?
  # The strict form with both of GDAL's KML drivers, and the KMZ.
  points() {  # points [GDAL options] FILE
    ogrinfo -ro -al -q "$@" 2>/dev/null | sed -n 's/^ *POINT Z (\(.*\))$/\1/p' |
      awk '{ printf "%.6f %.6f %.1f\n", $1, $2, $3 }'
  }
  cmp -s expected <(points strict.kml); check "LIBKML reads the strict form" 0 $?
  cmp -s expected <(points --config GDAL_SKIP LIBKML strict.kml); check "the KML driver reads the strict form" 0 $?
  cmp -s expected <(points packed.kmz); check "LIBKML reads the KMZ" 0 $?
else
  echo "ogrinfo not installed: the reader check is skipped"
fi

[ "$failures" -eq 0 ] && echo "cli_test: all checks passed"
exit "$failures"
