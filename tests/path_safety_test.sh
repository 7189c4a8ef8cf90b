#!/usr/bin/env bash
# dosemap-convert -o as a careless or a hostile user runs it: outputs that collide, targets that
# are no regular files or are links, failures that must replace nothing, interrupts, numbers that
# are not finite, spreadsheet formulas, a drive across the antimeridian, and memory for huge or
# stationary logs (bounds checked in the normal build only: the sanitizers change every size).
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
examples=$2
sanitized=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
cp "$examples/drive.LOG" drive.LOG
own_header="Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude"
peak_kib() { /usr/bin/time -f %M -o peak "$@" >/dev/null 2>err; echo "$? $(tail -n 1 peak)"; }

# Two outputs of one run never share a path: the rejects file may not be the map, a log or a
# zone file, by name or through a link; nothing is written.
echo old >map.geojson
ln -s map.geojson map-link.csv
printf '37.4,140.4,10\n' >zones.txt
"$convert" --rejects map.geojson -o map.geojson drive.LOG 2>err; check "--rejects naming the map" 2 $?
"$convert" --rejects map-link.csv -o map.geojson drive.LOG 2>err; check "--rejects naming the map through a link" 2 $?
"$convert" --rejects drive.LOG -o new.geojson drive.LOG 2>err; check "--rejects naming a log" 2 $?
"$convert" --privacy-file zones.txt --rejects zones.txt -o new.geojson drive.LOG 2>err
check "--rejects naming the zone file" 2 $?
check "the old map stays" old "$(cat map.geojson)"
cmp -s drive.LOG "$examples/drive.LOG"; check "the log stays" 0 $?
check "the zone file stays" "37.4,140.4,10" "$(cat zones.txt)"
[ -e new.geojson ]; check "no map after a usage error" 1 $?

# A target that is no regular file is written in place, never replaced by a rename.
"$convert" -o plain.geojson drive.LOG
"$convert" --rejects /dev/stdout -o out.geojson drive.LOG >stdout.csv; check "rejects to /dev/stdout" 0 $?
check "rejects on standard output" "file,line,reason,text" "$(head -n 1 stdout.csv)"
[ -L /dev/stdout ]; check "/dev/stdout is still a link" 0 $?
mkfifo fifo.geojson
timeout 120 cat fifo.geojson >from-fifo.geojson & reader=$!
"$convert" -o fifo.geojson drive.LOG; check "a map into a FIFO" 0 $?
wait $reader
cmp -s from-fifo.geojson plain.geojson; check "the FIFO's reader gets the map" 0 $?
[ -p fifo.geojson ]; check "the FIFO stays a FIFO" 0 $?
mkdir folder.kmz
"$convert" -o folder.kmz drive.LOG 2>err; check "a folder as the map exits 1" 1 $?
check "a folder as the map" "dosemap-convert: folder.kmz: is a folder" "$(cat err)"

# Nothing is written through a link beside a KML: its icon folder or its icon.
mkdir elsewhere
ln -s elsewhere linked_files
"$convert" -o linked.kml drive.LOG 2>err; check "an icon folder that is a link exits 1" 1 $?
[ -e elsewhere/square.png ] || [ -e linked.kml ]; check "nothing written through the folder link" 1 $?
echo keep >victim.png
mkdir icon_files
ln -s ../victim.png icon_files/square.png
"$convert" -o icon.kml drive.LOG 2>err; check "an icon that is a link exits 1" 1 $?
check "the icon link's target stays" keep "$(cat victim.png)"
[ -L icon_files/square.png ]; check "the icon link stays" 0 $?

# Exit 1 means nothing was replaced: every output is staged and checked before any is renamed.
echo old >kept.geojson
if [ -w /dev/full ]; then
  "$convert" --rejects /dev/full -o kept.geojson drive.LOG 2>err; check "rejects to a full device exits 1" 1 $?
  check "a failed run replaces no map" old "$(cat kept.geojson)"
  [ -c /dev/full ]; check "/dev/full stays a device" 0 $?
fi
check "no staging file is left" "" "$(ls | grep -E '\.[A-Za-z0-9]{6}$')"

# An interrupt removes every staging file; the old maps stay whole. The log comes through a pipe
# that stays open, so the run is surely under way, staging files made, when the signal comes.
# The tile forms' temporary files in $TMPDIR go too.
mkdir -p sorting
for form in kml kmz geojson pmtiles mbtiles; do
  echo old >int.$form; echo old >int-rejects.csv
  mkfifo feed
  TMPDIR=$PWD/sorting "$convert" --rejects int-rejects.csv -o int.$form - <feed 2>/dev/null & victim=$!
  exec 7>feed
  for _ in $(seq 20); do cat drive.LOG; done >&7  # more than the 64 KiB read to tell the format
  until ls int.$form.?????? int-rejects.csv.?????? >/dev/null 2>&1; do sleep 0.01; done
  kill -INT $victim; wait $victim; status=$?
  exec 7>&-
  rm feed
  check "$form run interrupted: killed by the signal" 130 "$status"
  check "$form run interrupted: the old map stays" old "$(cat int.$form)"
  check "$form run interrupted: the old rejects stay" old "$(cat int-rejects.csv)"
  check "$form run interrupted: no staging file" "" "$(ls | grep -E '^int.*\.[A-Za-z0-9]{6}$')"
  check "$form run interrupted: no temporary file" "" "$(ls sorting)"
done

# Options: a summary form that doesn't exist, thresholds in the wrong order, zones that are no
# zones (never echoed).
"$convert" --summary=xml -o s.geojson drive.LOG 2>err; check "--summary=xml exits 2" 2 $?
grep -q 'xml' err; check "--summary=xml names the form" 0 $?
"$convert" --yellow 0.3 --red 0.2 -o s.geojson drive.LOG 2>err; check "--yellow above --red exits 2" 2 $?
"$convert" --yellow 0.2 --red 0.2 -o s.geojson drive.LOG 2>err; check "--yellow equal to --red exits 2" 2 $?
"$convert" --privacy 37.5,140.5,0 -o s.geojson drive.LOG 2>err; check "a zero radius exits 2" 2 $?
"$convert" --privacy-box 37.1,10.25,37.2,-10.75 -o s.geojson drive.LOG 2>err
check "a box turned inside out exits 2" 2 $?
grep -q -- '--privacy-box' err && ! grep -q '10.75' err; check "it names the option, not the numbers" 0 $?
printf '\xEF\xBB\xBF37.1,170.25,37.2,-170.75\n' >bom.txt
"$convert" --privacy-file bom.txt -o s.geojson drive.LOG; check "a zone file with a byte order mark" 0 $?
printf '37.1,10.25,37.2,-10.75\n' >inside-out.txt
"$convert" --privacy-file inside-out.txt -o s.geojson drive.LOG 2>err
check "a zone file's box turned inside out exits 2" 2 $?
[ -e s.geojson ]; check "no map after the option errors" 0 $?  # from the byte-order-mark run only

# The legend shows exactly what the classifier does: nothing falls between 0.07 and 0.05.
"$convert" --yellow 0.05 --red 0.3 -o legend.html drive.LOG
check "an empty class is shown empty" 1 "$(grep -c 'class</span> 2</td><td data-range="">none</td>' legend.html)"
check "class 3 starts at 0.07" 1 "$(grep -c 'class</span> 3</td><td data-range="0.07,0.3">0.07 to below 0.3</td>' legend.html)"

# Only finite numbers: a count rate that overflows once divided is rejected, never inf.
"$convert" --cpm-factor 1e-307 --summary=json -o inf.geojson drive.LOG >summary.json
check "no kept point with an infinite dose" 0 "$(json_field kept summary.json)"
check "no inf in the map" 0 "$(grep -ci 'inf' inf.geojson)"
"$convert" --cpm-factor 1e999 -o inf.geojson drive.LOG 2>err; check "an infinite --cpm-factor exits 2" 2 $?

# The KMZ keeps every number exactly as the KML writes it.
printf '%s\n2026/01/01 00:00:00,A,123456789,0.1,37.1,140.1,1234.56789012\n' "$own_header" >exact.csv
"$convert" -o exact.kmz exact.csv && "$convert" -o exact.kml exact.csv
check "KMZ cpm and altitude exact" "$(grep -o '<Placemark>.*' exact.kml)" \
  "$(unzip -p exact.kmz doc.kml | grep -o '<Placemark>.*')"

# Spreadsheets: a text cell that would read as a formula gets a leading '.
cp drive.LOG '=1+1.LOG'
printf -- '-2+3,cmd\n' >>'=1+1.LOG'
"$convert" --rejects inj-rejects.csv -o inj.csv -- '=1+1.LOG'
check "the map's source is no formula" 1 "$(( $(grep -c ",'=1+1.LOG:" inj.csv) > 100 ))"
check "the rejects' file name is no formula" 1 "$(( $(grep -c "^'=1+1.LOG," inj-rejects.csv) > 1 ))"
check "the rejects' text is no formula" 1 "$(grep -c "\"'-2+3,cmd\"\$" inj-rejects.csv)"

# A drive across the antimeridian is seen the narrow way round.
printf '%s\n2026/01/01 00:00:00,A,10,0.1,-17.8,179.99,1\n2026/01/01 00:00:05,A,10,0.1,-17.8,-179.99,1\n' \
  "$own_header" >fiji.csv
"$convert" -o fiji.kml fiji.csv
look=$(tr -d ' \n' <fiji.kml | sed -n 's/.*<LookAt><longitude>\([^<]*\)<\/longitude>.*<range>\([^<]*\)<\/range>.*/\1 \2/p')
check "Fiji: the view looks at the antimeridian, from close by" 1 \
  "$(echo "$look" | awk '{ print ($1 == 180 || $1 == -180) && $2 < 10000 }')"

# When in doubt, private: a line that can't be read but whose numbers lie at home is counted under
# privacy and written nowhere; so is a line with a decimal comma, and a cut-off sentence.
{
  echo "$own_header"
  echo "2026/01/01 00:00:00,A,10,0.1,37.1,140.1,1"
  echo "2026/01/01 00:00:05,A,10,0.1,35.6812,139.7671,1,extra"
  echo "2026/01/01 00:00:10,A,10,0.1,35,6812,139,7671,1"
  echo "2026/01/01 00:00:15,A,10,0.1,37.2,140.2,1,extra"
} >doubt.csv
"$convert" --privacy 35.6812,139.7671,100 --rejects doubt-rejects.csv --summary=json -o doubt.geojson doubt.csv \
  >summary.json
check "doubtful lines count as private" 2 "$(json_field privacy summary.json)"
check "only the far line is listed" "doubt.csv,5,fields" "$(tail -n +2 doubt-rejects.csv | cut -d, -f1-3)"
grep -q '6812' doubt-rejects.csv; check "nothing of home in the rejects" 1 $?

# Memory: a JSON track of 25 million junk markers streams; a stationary drive's KMZ is bounded.
if [ "$sanitized" = 0 ] && [ -x /usr/bin/time ]; then
  { printf '{"markers":['; yes 0, | head -n 25000000 | tr -d '\n'; printf '0]}'; } >junk.rctrk
  read -r status peak < <(peak_kib "$convert" --summary=json -o junk.geojson junk.rctrk)
  check "50 MB of junk markers: exit" 0 "$status"
  check "50 MB of junk markers: under 200 MiB ($((peak / 1024)) MiB)" 1 "$(( peak < 200 * 1024 ))"
  track() {  # track N: N markers out of time order
    awk -v n="$1" 'BEGIN { printf "{\"id\":1,\"markers\":["
      for (i = 0; i < n; i++) printf "%s{\"date\":%d,\"lat\":37.%06d,\"lon\":140.1,\"doseRate\":10,\"countRate\":2}", (i ? "," : ""), 1767225600 + (i * 7919) % n, i
      print "]}" }'
  }
  track 20000 >small.rctrk; track 250000 >large.rctrk
  read -r _ small < <(peak_kib "$convert" -o small.geojson small.rctrk)
  read -r _ large < <(peak_kib "$convert" -o large.geojson large.rctrk)
  check "JSON track: at most 64 B a marker ($(( (large - small) * 1024 / 230000 )) B)" 1 \
    "$(( (large - small) * 1024 <= 64 * 230000 + 8 * 1024 * 1024 ))"
  awk -v n=500000 -v h="$own_header" 'BEGIN { print h
    for (i = 0; i < n; i++) printf "2026/01/01 %02d:%02d:%02d,A,10,%.4f,37.1,140.1,1\n", int(i / 3600) % 24, int(i / 60) % 60, i % 60, 0.05 + (i % 997) / 10000 }' >still.csv
  head -n 2 still.csv >one.csv
  # The KMZ's own points, then what the hotspots (about 22 B) and the duplicate check (at most
  # 16 B) add to them, each within its own bound.
  kmz_only=(--no-hotspots --keep-duplicates)
  read -r _ one < <(peak_kib "$convert" "${kmz_only[@]}" -o one.kmz one.csv)
  read -r _ alone < <(peak_kib "$convert" "${kmz_only[@]}" -o still.kmz still.csv)
  read -r status still < <(peak_kib "$convert" -o still.kmz still.csv)
  check "stationary drive to KMZ: exit" 0 "$status"
  check "stationary drive: within 64 B a point + 16 MiB ($(( (alone - one) * 1024 / 500000 )) B a point)" 1 \
    "$(( (alone - one) * 1024 <= 64 * 500000 + 16 * 1024 * 1024 ))"
  check "stationary drive: hotspots and duplicate check within 38 B a point + 4 MiB ($(( (still - alone) * 1024 / 500000 )) B)" 1 \
    "$(( (still - alone) * 1024 <= 38 * 500000 + 4 * 1024 * 1024 ))"
  longest=$(unzip -Z1 still.kmz | awk '{ print length($0) }' | sort -n | tail -n 1)
  check "stationary drive: document names under 100 bytes" 1 "$(( longest < 100 ))"
  most=$(for doc in $(unzip -Z1 still.kmz | grep 'kml$'); do unzip -p still.kmz "$doc" | grep -c '<Placemark>'; done | sort -n | tail -n 1)
  check "stationary drive: at most 2,000 placemarks a document" 1 "$(( most <= 2000 ))"
fi

checks_done path_safety_test
