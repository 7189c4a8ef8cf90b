#!/usr/bin/env bash
# The HTML report's own scripts are real JavaScript: each parses (node --check), and each is in
# the program as it is in its file (the report carries them byte for byte).
# Usage: report_scripts_test.sh REPORT_DIR DOSEMAP_CONVERT EXAMPLES
set -u
dir=$1 convert=$2 examples=$3
failures=0
check() { if [ "$2" = "$3" ]; then echo "ok: $1"; else echo "FAIL: $1 (expected $2, got $3)"; failures=$((failures + 1)); fi; }
for script in "$dir"/*.js; do
  node --check "$script"
  check "$(basename "$script") parses" 0 $?
done
# The .pmtiles viewer's own script, an ES module bundled with MapLibre GL JS at build time.
viewer=$(dirname "$dir")/viewer/viewer.js
node --input-type=module --check <"$viewer"
check "viewer.js parses" 0 $?
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$convert" -o "$work/points.html" "$examples/drive.LOG" && "$convert" --grid 250 -o "$work/cells.html" "$examples/drive.LOG" &&
  "$convert" --grid 250 --compare 2026-01-01 -o "$work/change.html" "$examples/drive-2025.LOG" "$examples/drive.LOG"
check "reports written" 0 $?
contains() { python3 -c 'import sys; sys.exit(0 if open(sys.argv[2], "rb").read() in open(sys.argv[1], "rb").read() else 1)' "$@"; }
for page in points cells change; do
  for part in report.css common.js "$page.js"; do
    contains "$work/$page.html" "$dir/$part"
    check "the $page page carries $part whole" 0 $?
  done
done
[ "$failures" -eq 0 ]
