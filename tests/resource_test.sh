#!/usr/bin/env bash
# Hostile logs end with a cause or normally, without the process growing: one 200 MB field with
# no comma or line end, and ten million empty lines (the map goes to /dev/null). The memory bound
# holds in the normal build; under the sanitizers (second argument 1) only the outcome is checked.
set -u
convert=$1
sanitized=${2:-0}
limit_kib=$((32 * 1024))
[ "$sanitized" = 1 ] && limit_kib=$((1 << 40))
command -v /usr/bin/time >/dev/null || { echo "resource_test: /usr/bin/time is not installed"; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
failures=0

run() {  # run NAME: converts NAME.csv into NAME.kml, prints status and peak KiB
  /usr/bin/time -f "%M" -o peak "$convert" "$1" "$1" 2>err
  echo "$? $(tail -n 1 peak)"
}

head -c 200000000 /dev/zero | tr '\0' 'x' >field.csv
read -r status peak < <(run field)
echo "one 200 MB field: exit $status, peak $((peak / 1024)) MiB: $(cat err)"
[ "$status" = 1 ] && grep -q 'field longer than 1048576 bytes' err || { echo "FAIL: no reported cause"; failures=$((failures + 1)); }
[ "$peak" -le "$limit_kib" ] || { echo "FAIL: peak over 32 MiB"; failures=$((failures + 1)); }

yes $'\r' | head -n 10000000 >empty.csv
ln -s /dev/null empty.kml
read -r status peak < <(run empty)
echo "ten million empty lines: exit $status, peak $((peak / 1024)) MiB"
[ "$status" = 0 ] || { echo "FAIL: $(cat err)"; failures=$((failures + 1)); }
[ "$peak" -le "$limit_kib" ] || { echo "FAIL: peak over 32 MiB"; failures=$((failures + 1)); }

# The KML reader: an element of 80,000 attributes (libxml2 compares each with those before it) is
# refused at once; ten million elements inside one description keep memory flat.
kml_head='<?xml version="1.0" encoding="UTF-8"?><kml xmlns="http://www.opengis.net/kml/2.2"><Document>'
placemark='<Placemark><description><![CDATA[<b>Feb 3, 2024 18:10:04</b></br>0.29 µSv/h</br>]]></description><Point><coordinates>37.5,55.7,0</coordinates></Point></Placemark>'
{
  echo "$kml_head$placemark"
  printf '<Placemark'; seq -f ' a%g="1"' 80000 | tr -d '\n'; echo '/>'
  echo "$placemark</Document></kml>"
} >attributes.kml
"$convert" -o attributes.csv attributes.kml 2>err
status=$?
echo "an element of 80,000 attributes: exit $status: $(cat err)"
[ "$status" = 1 ] && grep -q 'an element of over 1000 attributes' err || { echo "FAIL: not refused"; failures=$((failures + 1)); }
{
  echo "$kml_head$placemark"
  printf '<Placemark><description><b>Feb 3, 2024 18:10:04</b>'
  yes '<i/>' | head -n 10000000 | tr -d '\n'
  echo "</description><Point><coordinates>37.5,55.7,0</coordinates></Point></Placemark></Document></kml>"
} >description.kml
/usr/bin/time -f "%M" -o peak "$convert" -o description.csv description.kml 2>err
status=$?
peak=$(tail -n 1 peak)
echo "ten million elements in a description: exit $status, peak $((peak / 1024)) MiB"
[ "$status" = 0 ] || { echo "FAIL: $(cat err)"; failures=$((failures + 1)); }
[ "$peak" -le "$limit_kib" ] || { echo "FAIL: peak over 32 MiB"; failures=$((failures + 1)); }
exit "$failures"
