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

# The JSON readers: a 100 MB string and a 100 MB number each reject their marker, and the track
# goes on in bounded memory; a number that overflows is named in a short message.
marker='{"date": 1756286772, "lat": 41.5, "lon": -1.5, "doseRate": 0.2}'
for kind in string number; do
  {
    printf '{"markers": [%s, {"date": 1756286775, "lat": 41.5, "lon": -1.5, "doseRate": ' "$marker"
    if [ "$kind" = string ]; then printf '0.3, "note": "'; else printf '0.'; fi
    head -c 100000000 /dev/zero | tr '\0' '7'
    [ "$kind" = string ] && printf '"'
    printf '}, {"date": 1756286778, "lat": 41.5001, "lon": -1.5, "doseRate": 0.25}]}'
  } >"long-$kind.rctrk"
  /usr/bin/time -f "%M" -o peak "$convert" --summary=json -o "long-$kind.csv" "long-$kind.rctrk" >summary.json 2>err
  status=$?
  peak=$(tail -n 1 peak)
  echo "a JSON track with a 100 MB $kind: exit $status, peak $((peak / 1024)) MiB: $(cat summary.json)"
  expected=fields
  [ "$kind" = number ] && expected=number
  [ "$status" = 0 ] && grep -q "\"kept\":2,\"rejected\":{\"$expected\":1}" summary.json ||
    { echo "FAIL: $(cat err)"; failures=$((failures + 1)); }
  [ "$peak" -le "$limit_kib" ] || { echo "FAIL: peak over 32 MiB"; failures=$((failures + 1)); }
done
{ printf '{"markers": [{"date": 1756286772, "lat": 41.5, "lon": -1.5, "doseRate": 1'; head -c 500000 /dev/zero | tr '\0' '0'; printf '}]}'; } >overflow.rctrk
"$convert" -o overflow.csv overflow.rctrk 2>err
status=$?
echo "a number that overflows: exit $status, a message of $(wc -c <err) bytes"
[ "$status" = 1 ] && [ "$(wc -c <err)" -le 300 ] || { echo "FAIL: $(head -c 300 err)"; failures=$((failures + 1)); }
exit "$failures"
