#!/usr/bin/env bash
# Converts every bundled sample into every map form (with a privacy zone and a rejects file) with
# two builds of dosemap-convert and compares the outputs byte for byte: the check that a change
# meant to change no output changes none. A KMZ is compared by its documents.
# Usage: scripts/compare_outputs.sh OLD_DOSEMAP_CONVERT NEW_DOSEMAP_CONVERT
set -u
old=$1 new=$2
examples=$(cd "$(dirname "$0")/../examples" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/old" "$work/new"
for sample in drive.LOG drive.rctrk drive-ios.rctrk drive-database.csv drive.ers DATA_0.csv; do
  for form in kml kmz geojson gpx csv html; do
    for side in old new; do
      convert=${!side}
      (cd "$work/$side" && "$convert" --privacy 37.4457,140.5035,150 --rejects "$sample.$form.rejects.csv" \
        -o "$sample.$form" "$examples/$sample" >/dev/null 2>&1)
    done
  done
done
compared=0 differ=0
for file in "$work"/old/* "$work"/old/*_files/*; do
  [ -f "$file" ] || continue
  other=$work/new/${file#"$work"/old/}
  compared=$((compared + 1))
  if [[ $file == *.kmz ]]; then
    cmp -s <(unzip -p "$file") <(unzip -p "$other")
  else
    cmp -s "$file" "$other"
  fi || { echo "differs: ${file#"$work"/old/}"; differ=$((differ + 1)); }
done
echo "$compared files compared, $differ differ"
[ "$differ" -eq 0 ]
