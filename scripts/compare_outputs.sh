#!/usr/bin/env bash
# Converts every bundled sample into every map form (with a privacy zone and a rejects file, as
# points and as a grid, with the form options) and runs the window's conversion and a set of
# failing commands, with two builds of dosemap-convert, and compares the outputs byte for byte
# and the exit statuses and messages: the check that a change meant to change no output changes
# none. A KMZ is compared by its listing and its documents.
# Usage: scripts/compare_outputs.sh OLD_DOSEMAP_CONVERT NEW_DOSEMAP_CONVERT
set -u
old=$(realpath "$1") new=$(realpath "$2")
examples=$(cd "$(dirname "$0")/../examples" && pwd)
real=$(cd "$(dirname "$0")/../tests/real" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/old" "$work/new"
samples=("$examples"/drive* "$examples"/DATA_0.csv "$real"/*)
run() {  # run NAME ARGS...: in both sides' folders, keeping the exit status and stderr
  local name=$1 side convert
  shift
  for side in old new; do
    convert=${!side}
    (cd "$work/$side" && "$convert" "$@" >"$name.stdout" 2>"$name.stderr"; echo $? >"$name.status")
  done
}
for sample in "${samples[@]}"; do
  base=$(basename "$sample")
  for form in kml kmz geojson gpx csv html; do
    run "$base.$form" --summary --privacy 37.4457,140.5035,150 --rejects "$base.$form.rejects.csv" \
      -o "$base.$form" "$sample"
    [ "$form" = gpx ] && continue
    run "$base.grid.$form" --summary=json --grid 250 --grid-min 2 --privacy-box 37.40,140.40,37.41,140.41 \
      -o "$base.grid.$form" "$sample"
  done
  run "$base.labels.kml" --labels --time -o "$base.labels.kml" "$sample"
  run "$base.url.kml" --icon-url http://example.org/i.png -o "$base.url.kml" "$sample"
  run "$base.beside.kmz" --icons-beside --labels -o "$base.beside.kmz" "$sample"
done
cp "$examples/DATA_0.csv" "$work/old/" && cp "$examples/DATA_0.csv" "$work/new/"
run legacy DATA_0 legacy_out
run legacy-strict --summary --strict DATA_0 legacy_strict 0.2 0.3
run legacy-kmz --kmz DATA_0 legacy_kmz
# Failures: each keeps its exit status and its message.
i=0
while IFS= read -r line; do
  i=$((i + 1))
  eval "run fail$i $line"
done <<'LIST'
-o x.kml
-o x.txt "$examples/drive.LOG"
--grid 5 -o x.kml "$examples/drive.LOG"
--grid 100 -o x.gpx "$examples/drive.LOG"
--grid-min 3 -o x.kml "$examples/drive.LOG"
--yellow 0.3 --red 0.2 -o x.kml "$examples/drive.LOG"
--yellow abc -o x.kml "$examples/drive.LOG"
--rejects x.kml -o x.kml "$examples/drive.LOG"
--rejects "$examples/drive.LOG" -o x.kml "$examples/drive.LOG"
--from nosuch -o x.kml "$examples/drive.LOG"
--cpm-factor safecast=0 -o x.kml "$examples/drive.LOG"
--cpm-factor ers=2 -o x.kml "$examples/drive.LOG"
--threads 3 -o x.kml "$examples/drive.LOG"
--max-speed -1 -o x.kml "$examples/drive.LOG"
--utc-offset 5 -o x.kml "$examples/drive.LOG"
--privacy 1,2 -o x.kml "$examples/drive.LOG"
--privacy-box 1,2,3 -o x.kml "$examples/drive.LOG"
--privacy-file /nonexistent -o x.kml "$examples/drive.LOG"
--strict -o x.kml "$examples/drive.LOG"
--labels DATA_0 out
--grid 100 DATA_0 out
--strict --kmz DATA_0 out
DATA_0
-o x.kml /nonexistent.LOG
-o x.kml - -
--summary=xml -o x.kml "$examples/drive.LOG"
--nosuch -o x.kml "$examples/drive.LOG"
--grid "" -o x.kml "$examples/drive.LOG"
-o x.kml "$examples/make_samples.py"
LIST
compared=0 differ=0
for file in "$work"/old/* "$work"/old/*_files/* "$work"/old/files/*; do
  [ -f "$file" ] || continue
  other=$work/new/${file#"$work"/old/}
  compared=$((compared + 1))
  if [[ $file == *.kmz ]]; then
    cmp -s <(unzip -l "$file" | awk 'NR > 3 {print $1, $4}'; unzip -p "$file") \
      <(unzip -l "$other" | awk 'NR > 3 {print $1, $4}'; unzip -p "$other")
  else
    cmp -s "$file" "$other"
  fi || { echo "differs: ${file#"$work"/old/}"; differ=$((differ + 1)); }
done
for file in "$work"/new/* "$work"/new/*_files/* "$work"/new/files/*; do
  [ -f "$file" ] && [ ! -e "$work/old/${file#"$work"/new/}" ] && { echo "only new: ${file#"$work"/new/}"; differ=$((differ + 1)); }
done
echo "$compared files compared, $differ differ"
[ "$differ" -eq 0 ]
