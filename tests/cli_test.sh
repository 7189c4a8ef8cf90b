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

if command -v ogrinfo >/dev/null; then
  # Every record but the first (the camera) and those in the exclusion box, in file order.
  tr -d '\r' <DATA_0.csv | awk -F, 'NR > 2 && !($5 >= 35.346 && $5 <= 35.3465 && $6 >= 139.4875 && $6 <= 139.488) {
    printf "%.6f %.6f %.1f\n", $6, $5, $7 }' >expected
  ogrinfo -ro -al -q DATA_0.kml 2>/dev/null | sed -n 's/^ *POINT Z (\(.*\))$/\1/p' |
    awk '{ printf "%.6f %.6f %.1f\n", $1, $2, $3 }' >actual
  check "ogrinfo feature count" 295 "$(wc -l <actual)"
  cmp -s expected actual; check "ogrinfo reads every point at its coordinates" 0 $?
else
  echo "ogrinfo not installed: the reader check is skipped"
fi

[ "$failures" -eq 0 ] && echo "cli_test: all checks passed"
exit "$failures"
