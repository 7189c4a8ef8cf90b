#!/usr/bin/env bash
# Checks dosemap-convert as a user runs it: exit statuses, messages, and (when GDAL's ogrinfo is
# installed) that a real KML reader finds every placemark of the sample log at its coordinates.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
sample=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

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

# A KMZ packs only what its own run wrote, and a run that never opened its map leaves the old one.
"$convert" --kmz DATA_0 m 2>/dev/null; check "kmz of the sample" 0 $?
cp m.kmz m.kmz.before
echo junk >m.kmz-doc.kml
"$convert" --kmz nosuch m 2>err; check "kmz of a missing log exits 1" 1 $?
cmp -s m.kmz m.kmz.before; check "the old KMZ stays byte for byte" 0 $?
check "no staging file left" "" "$(ls | grep -E '^m\.kmz\..+' | grep -v before)"
# Names and places the file system refuses end with exit 1 and one line, never an abort.
long=$(printf 'n%.0s' $(seq 244))
ln -s loop loop
mkdir -p closed && chmod 000 closed
for target in "$long" loop/x; do
  for form in --kmz --strict ""; do
    [ -z "$form" ] && [ "$target" = "$long" ] && continue  # 248 bytes are a valid name
    "$convert" $form DATA_0 "$target" 2>err; status=$?
    check "$form map $target exits 1" 1 "$status"
    check "$form map $target: one line" 1 "$(wc -l <err)"
  done
done
if command -v setpriv >/dev/null; then
  chmod 777 .
  for form in --kmz --strict ""; do
    setpriv --reuid=65534 --regid=65534 --clear-groups "$convert" $form DATA_0 closed/x 2>err; status=$?
    check "$form map in a folder without search permission exits 1" 1 "$status"
    check "$form map in a folder without search permission: one line" 1 "$(wc -l <err)"
  done
fi
# The map never overwrites the log it is made from.
cp DATA_0.csv d.csv
ln -s d.csv d.kml
ln -s d.csv d.kmz
for form in --kmz --strict ""; do
  "$convert" $form d d 2>err; check "$form map linked to the log exits 1" 1 $?
  cmp -s d.csv DATA_0.csv; check "$form map linked to the log leaves the log" 0 $?
done
check "the link is named" "dosemap-convert: d.kml: is the survey log itself (a link to it); nothing was written" "$(cat err)"
# One line on stderr, whatever the field holds; long texts are cut.
printf 'h,h,h,h,h,h,h\n1,,1,0.05,1,1,1\n2,,"1\nx",0.2,1,1,1\n' >lines.csv
"$convert" lines lines 2>err; check "count rate with a line break exits 1" 1 $?
check "count rate with a line break: one line" 1 "$(wc -l <err)"
grep -qF '"1\nx" is not a number' err; check "the line break is escaped" 0 $?
"$convert" DATA_0 t "0.1
x" 1 2>err; check "threshold with a line break: one line" 1 "$(wc -l <err)"
{ printf 'h,h,h,h,h,h,h\n1,,1,0.05,1,1,1\n2,,'; head -c 1000000 /dev/zero | tr '\0' x; printf ',0.2,1,1,1\n'; } >huge.csv
"$convert" huge huge 2>err; check "a megabyte count rate exits 1" 1 $?
check "a megabyte count rate is cut" 1 "$(( $(wc -c <err) < 300 ))"
"$convert" -v a b 2>err; check "-v exits 2" 2 $?
grep -q 'unknown option -v' err; check "-v is an unknown option" 0 $?
"$convert" DATA_0 neg -0.5 1 2>err; check "a negative threshold is not an option" 0 $?
if [ -w /dev/full ]; then
  "$convert" --summary DATA_0 full >/dev/full 2>err; check "--summary to a full device exits 1" 1 $?
  check "--summary to a full device: one line" 1 "$(wc -l <err)"
fi
# Interrupted and concurrent runs leave a whole map and no staging files.
awk 'NR == 1 { print; next } { for (i = 0; i < 400; i++) print }' DATA_0.csv >big.csv
"$convert" --strict big race 2>/dev/null
cp race.kml race.before
"$convert" --strict big race & first=$!
"$convert" --strict big race & second=$!
wait $first; wait $second
cmp -s race.kml race.before; check "two runs on one map leave one whole map" 0 $?
# The signal goes once the run's staging file is there (or the run is over): the map is then the
# old one or the new one, whole, however busy the machine is.
head -n 2 DATA_0.csv >small.csv
for form in --strict --kmz; do
  map=killed.${form#--}; [ "$form" = --strict ] && map=killed.kml
  "$convert" $form big killed 2>/dev/null; cp "$map" killed.new
  "$convert" $form small killed 2>/dev/null; cp "$map" killed.old
  "$convert" $form big killed & victim=$!
  staging() { ls | grep -qE '^killed\.km.\.'; }
  while kill -0 $victim 2>/dev/null && ! staging; do :; done
  kill -INT $victim 2>/dev/null; wait $victim
  # A KMZ's entries carry the time they were written, so two whole KMZ maps of one log are compared
  # by their contents.
  same() { if [ "$form" = --kmz ]; then unzip -tq "$1" >/dev/null 2>&1 &&
             cmp -s <(unzip -p "$1" doc.kml) <(unzip -p "$2" doc.kml); else cmp -s "$1" "$2"; fi; }
  { same "$map" killed.old || same "$map" killed.new; }; check "$form run interrupted: a whole map" 0 $?
  check "$form run interrupted: no staging file" "" "$(ls | grep -E '^(killed|race)\.km.\.')"
done

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

checks_done cli_test
