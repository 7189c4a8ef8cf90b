#!/usr/bin/env bash
# Reading ahead on a second thread changes nothing: every map form, the rejects file and the
# figures of --threads 2 (the default) are those of --threads 1, byte for byte, over every sample
# one by one and over all of them together with a generated log of many blocks that holds every
# reason a record of its format can be rejected for, with a privacy zone.
# Then one large log of each line format alone (parsed on both cores, in chunks), every form.
# Usage: threads_test.sh DOSEMAP_CONVERT EXAMPLES [LINES]
# LINES: how many lines each large log has (1,000,000 unless given; fewer under the sanitizers).
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
examples=$2
lines=${3:-1000000}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

# 25,000 lines of the own log, 1,024 records a block: a fault of each kind every 97 lines.
awk 'BEGIN { print "Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude"
  for (i = 0; i < 25000; i++) {
    lat = 37 + (i % 500) / 10000; lon = 140 + int(i / 500) / 1000; d = 0.03 + (i * 7919 % 1000) / 1000
    r = i % 97; ts = sprintf("2026/01/01 %02d:%02d:%02d", int(i / 3600) % 24, int(i / 60) % 60, i % 60)
    if (r == 1) { print ts ",A,1"; continue }
    if (r == 2) { printf "%s,A,%d,x%.3f,%.6f,%.6f,10\n", ts, d * 334, d, lat, lon; continue }
    if (r == 3) { printf "2026/13/45 99:00:00,A,%d,%.3f,%.6f,%.6f,10\n", d * 334, d, lat, lon; continue }
    if (r == 5) { printf "%s,A,%d,%.3f,0,0,10\n", ts, d * 334, d; continue }
    if (r == 6) { printf "%s,A,%d,%.3f,95,%.6f,10\n", ts, d * 334, d, lon; continue }
    if (r == 7) { print prev; continue }
    if (r == 8) { printf "%s,A,%d,%.3f,%.6f,%.6f,10\n", ts, d * 334, d, lat + 1, lon; continue }
    line = sprintf("%s,A,%d,%.3f,%.6f,%.6f,10", ts, d * 334, d, lat, lon); print line; prev = line } }' >faults.csv

run() {  # run THREADS NAME LOG...
  local threads=$1 name=$2
  shift 2
  mkdir -p "t$threads"
  for form in kml kmz geojson gpx csv html; do
    "$convert" --threads "$threads" --summary=json --privacy 37.02,140.01,300 --privacy 37.43,140.48,150 \
      --rejects "t$threads/$name.rejects.csv" -o "t$threads/$name.$form" "$@" >"t$threads/$name.$form.json" ||
      echo "FAIL: --threads $threads $name.$form exits $?"
  done
  # A KMZ's entries carry the time they were written: its documents are what must be the same.
  (cd "t$threads" && mkdir -p "$name.kmz.d" && cd "$name.kmz.d" && unzip -q ../"$name.kmz" && rm ../"$name.kmz")
}

samples=$(cd "$examples" && ls | grep -v -E '\.py$')
for sample in $samples; do
  run 1 "$sample" "$examples/$sample"
  run 2 "$sample" "$examples/$sample"
done
all=()
for sample in $samples; do all+=("$examples/$sample"); done
run 1 all faults.csv "${all[@]}"
run 2 all faults.csv "${all[@]}"
diff -r t1 t2 >diff.txt; check "--threads 2 writes what --threads 1 writes" 0 $?
head -n 5 diff.txt
check "every output compared" "$(find t1 -type f | wc -l)" "$(find t2 -type f | wc -l)"
reasons=$(grep -o '"rejected":{[^}]*}' t1/all.csv.json | grep -o '"[a-z_]*":[0-9]' | sed 's/":.*//; s/"//' | sort | paste -sd' ')
check "the run holds every reason" \
  "accuracy checksum duplicate fields gps_jump gps_void number position_range time zero_position" "$reasons"
check "and privacy" 1 "$(grep -o '"privacy":[0-9]*' t1/all.csv.json | awk -F: '{ print ($2 > 0) }')"
check "many blocks" 1 "$(grep -o '"read":[0-9]*' t1/all.csv.json | awk -F: '{ print ($2 > 3 * 1024) }')"
# One large log of each line format, made of a sample's lines over and over: a copy in ten moved
# a little (a few more digits on its first number of four decimals), so that it is kept, the rest
# read again (duplicates); the sample's other lines (headers, comments) once more halfway, where
# a later export's header would stand.
grow() {  # grow SAMPLE OUT
  awk -v lines="$lines" 'function data(l) { return l ~ /[0-9][.][0-9][0-9][0-9][0-9]/ }
    { line[NR] = $0 } END {
      copies = int(lines / NR) + 1
      for (c = 0; c < copies; c++) for (i = 1; i <= NR; i++) {
        l = line[i]
        if (!data(l)) { if (c == 0 || c == int(copies / 2)) print l; continue }
        if (c % 10 == 1) { match(l, /[0-9][.][0-9][0-9][0-9][0-9]+/)
          l = substr(l, 1, RSTART + RLENGTH - 1) c substr(l, RSTART + RLENGTH) }
        print l } }' "$1" >"$2"
}
"$convert" --threads 1 -o own-map.csv "$examples/drive-database.csv" >/dev/null
for sample in DATA_0.csv drive.LOG drive-czech.LOG drive-database.csv drive.rctrk drive-atomfast.csv \
  drive.ers own-map.csv; do
  [ -f "$sample" ] && from=$sample || from=$examples/$sample
  grow "$from" "large-$sample"
  for threads in 1 2; do
    mkdir -p "large$threads"
    # The privacy zone's doubt rule reads every rejected line again: with one form, the rejects
    # and the figures; the other forms take the same records.
    "$convert" --threads "$threads" --summary=json --privacy 37.4225,140.473,60 \
      --rejects "large$threads/$sample.rejects.csv" -o "large$threads/$sample.csv" "large-$sample" \
      >"large$threads/$sample.json" || echo "FAIL: --threads $threads large $sample exits $?"
    for form in kml geojson gpx html pmtiles; do
      "$convert" --threads "$threads" -o "large$threads/$sample.$form" "large-$sample" ||
        echo "FAIL: --threads $threads large $sample.$form exits $?"
    done
  done
  diff -r -q large1 large2 >>diff-large.txt
  check "a large $sample: --threads 2 writes what --threads 1 writes" 0 $?
  # A moved sentence fails its checksum: a bGeigie log keeps its first copy only.
  figure() { grep -o "\"$1\":[0-9]*" "large1/$sample.json" | cut -d: -f2; }
  check "a large $sample: every line read, a tenth kept (or a tenth a checksum fault)" 1 \
    "$(awk -v r="$(figure read)" -v k="$(figure kept)" -v c="$(figure checksum)" -v n="$lines" \
      'BEGIN { print (r >= n * 0.9 && (k >= n / 20 || c >= n / 20)) }')"
  rm -rf large1 large2 "large-$sample"
done
head -n 5 diff-large.txt

# A log that can't be read still fails the same way on either side.
printf '$BNRDD,1\n' >bad.LOG
for threads in 1 2; do
  "$convert" --threads "$threads" -o bad.geojson "$examples/drive.LOG" /nonexistent.LOG 2>"err$threads"
  echo "$?" >>"err$threads"
done
check "a missing log fails alike" "$(cat err1)" "$(cat err2)"
"$convert" --threads 3 -o x.csv "$examples/drive.LOG" 2>err; check "--threads 3 exits 2" 2 $?

checks_done threads_test
