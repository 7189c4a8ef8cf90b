#!/usr/bin/env bash
# The command line's faults that real use found: empty option values, a folder that holds the
# run's own outputs, outputs that name one another's files, folders that can't be read.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
examples=$2
real=$3
work=$(mktemp -d)
trap 'chmod -R u+rwx "$work" 2>/dev/null; rm -rf "$work"' EXIT
cd "$work" || exit 1

# An empty value is a usage error, never the option left out.
for option in --grid --grid-min --yellow --red --max-speed --max-accuracy --cpm-factor --from \
              --rejects --threads --utc-offset --icon-url --privacy; do
  "$convert" "$option" "" -o empty.geojson "$examples/drive.LOG" >/dev/null 2>err
  check "$option \"\": usage error" 2 $?
  check "$option \"\": says so" 1 "$(grep -c 'takes a value' err)"
done
"$convert" --grid= -o empty.geojson "$examples/drive.LOG" >/dev/null 2>&1
check "--grid=: usage error" 2 $?
[ -e empty.geojson ]; check "nothing written" 1 $?

# Each counting format converts with its device's factor, one format's factor set apart.
"$convert" --summary=json -o f.csv "$examples/drive-czech.LOG" "$examples/drive-database.csv" \
  "$examples/drive.rctrk" >f.json
check "each format's factor" '{"czechrad":328.5,"safecast":334}' "$(grep -o '"cpm_factor":{[^}]*}' f.json | cut -d: -f2-)"
"$convert" --cpm-factor czechrad=300 --cpm-factor 330 --summary=json -o f.csv \
  "$examples/drive-czech.LOG" "$examples/drive-database.csv" >f.json
check "FORMAT=F wins over F" '{"czechrad":300,"safecast":330}' "$(grep -o '"cpm_factor":{[^}]*}' f.json | cut -d: -f2-)"
"$convert" --summary=json -o f.csv "$examples/drive.rctrk" >f.json
check "no key without counts" 0 "$(grep -c cpm_factor f.json)"
for bad in radiacode=3 nothing=3 czechrad= =3 -1; do
  "$convert" --cpm-factor "$bad" -o f.csv "$examples/drive.LOG" 2>/dev/null
  check "--cpm-factor $bad" 2 $?
done

# The phone app's zipped export: its doc.kml is the KML export, read from the archive as a stream.
unzip -p "$real/radiacode-zipped.kmz" doc.kml >doc.kml
"$convert" --summary=json --rejects kmz-rejects.csv -o kmz.csv "$real/radiacode-zipped.kmz" >kmz.json
check "a RadiaCode .kmz" 0 $?
"$convert" --summary=json --rejects kml-rejects.csv -o kml.csv doc.kml >kml.json
check "read as its document" "$(sed 's/"source":"doc.kml:/"source":"/g' kml.json)" \
  "$(sed 's/"source":"radiacode-zipped.kmz:/"source":"/g' kmz.json)"
check "the same points" "$(cut -d, -f1-7 kml.csv)" "$(cut -d, -f1-7 kmz.csv)"
check "1018 kept" 1018 "$(json_field kept kmz.json)"
# A KMZ of anything else (our own map) is no survey log.
"$convert" -o ours.kmz "$examples/drive.LOG" && "$convert" -o back.csv ours.kmz 2>err
check "our own .kmz is refused" 1 $?
check "as of no known format" 1 "$(grep -c 'ours.kmz: not a survey log of a known format' err)"

# A folder given as a log never reads the run's own outputs, nor counts them: every run gives
# the same figures and the same map.
mkdir logs
cp "$examples/drive.LOG" "$examples/drive-atomfast.csv" logs/
for run in 1 2 3; do
  "$convert" --keep-duplicates --summary=json --rejects logs/rejects.csv -o logs/all.geojson logs \
    >"summary$run.json"
  check "run $run into its own folder" 0 $?
done
cmp -s summary1.json summary3.json; check "the figures stay" 0 $?
check "two logs read, none skipped" "2 0" \
  "$(json_field files_read summary3.json) $(json_field files_skipped summary3.json)"
mkdir kml
cp "$examples/drive.LOG" kml/
"$convert" --summary=json -o kml/all.kml kml >kml1.json
"$convert" --summary=json -o kml/all.kml kml >kml2.json
check "a .kml's icons beside it are not counted" "0" "$(json_field files_skipped kml2.json)"
cmp -s kml1.json kml2.json; check "nor the .kml read back" 0 $?

# Outputs that are one another's files: a usage error, nothing written.
"$convert" --rejects out_files/square.png -o out.kml "$examples/drive.LOG" 2>err
check "--rejects over the map's icon" 2 $?
check "names both" 1 "$(grep -c 'out_files/square.png: written by both out.kml and --rejects' err)"
[ -e out.kml ] || [ -e out_files ]; check "nothing written" 1 $?
"$convert" --icons-beside --rejects files/legend.png -o out.kmz "$examples/drive.LOG" 2>/dev/null
check "--rejects over a .kmz's legend beside it" 2 $?
"$convert" --rejects out.kml -o out.kml "$examples/drive.LOG" 2>err
check "--rejects over the map" 2 $?

# A folder that can't be read is named, not the folder above it (run as a user who can't read it).
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null; then
  as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  as_user=()
fi
mkdir -p top/locked
cp "$examples/drive.LOG" top/
chmod 755 "$work" top
chmod 000 top/locked
if [ ${#as_user[@]} -gt 0 ] || [ "$(id -u)" -ne 0 ]; then
  "${as_user[@]}" "$convert" -o "$work/top.csv" top 2>err
  check "an unreadable subfolder" 1 $?
  check "names it" 1 "$(grep -c '^dosemap-convert: top/locked: cannot read the folder' err)"
fi

checks_done read_right_cli
