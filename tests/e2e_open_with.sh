#!/usr/bin/env bash
# "dosemap drive.LOG" as a file manager's "Open with" runs it, under Xvfb: the window comes up,
# the summary box appears, and the KMZ and the report beside the log are what dosemap-convert -o
# writes with the same thresholds. With a second argument, a screenshot of the box goes there.
set -u
dosemap=$1
convert=$2
examples=$3
shot=${4:-}
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
need_tools Xvfb xdotool unzip
start_xvfb 1000x500

mkdir "$work/app" "$work/reference"
cp "$examples/drive.LOG" "$work/app/"
cp "$examples/drive.LOG" "$work/reference/"
(cd "$work/reference" && "$convert" --yellow 0.11 --red 0.19 -o drive.kmz drive.LOG &&
  "$convert" --yellow 0.11 --red 0.19 -o drive.html drive.LOG) || fail "dosemap-convert failed"

(cd "$work/app" && exec "$dosemap" drive.LOG >"$work/app.log" 2>&1) &
app=$!
# The summary box is a second window of the process, titled like the first.
# On a slow machine a progress dialog may come first: the box comes once the maps are there.
boxes() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | wc -l; }
summary_up() { [ -f "$work/app/drive.html" ] && [ "$(boxes)" -ge 2 ]; }
for _ in $(seq 600); do summary_up && break; sleep 0.1; done
summary_up || fail "no summary box appeared: $(cat "$work/app.log")"
[ -f "$work/app/drive.kmz" ] && [ -f "$work/app/drive.html" ] || fail "no maps beside the log: $(ls "$work/app")"
cmp "$work/app/drive.html" "$work/reference/drive.html" || fail "the report differs from dosemap-convert's"
cmp <(unzip -p "$work/app/drive.kmz" doc.kml) <(unzip -p "$work/reference/drive.kmz" doc.kml) ||
  fail "the KMZ differs from dosemap-convert's"
check_settings=$(cat "$work/app/SETT.TXT")
[ "$check_settings" = "DATA_0,DATA_0, 11, 19,   ,   ,   ,   ,   ,   ,   ,   ,   ,   ,   ," ] ||
  fail "SETT.TXT changed: $check_settings"
if [ -n "$shot" ]; then
  box=$(xdotool search --onlyvisible --pid "$app" | tail -n 1)
  sleep 0.5
  import -window root -crop 640x330+0+0 "$shot" || fail "no screenshot"
fi
echo "e2e: dosemap drive.LOG mapped the log beside it, as dosemap-convert does, and showed the summary"
