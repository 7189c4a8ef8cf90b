#!/usr/bin/env bash
# "dosemap big.csv" on a 1,000,000-line log under Xvfb: the progress dialog comes up a second
# after the work starts, Escape cancels it, the summary box follows, no map is written, and the
# window answers at once. Every step waits for an event; the time Escape took is printed. With a
# second argument, a screenshot of the dialog goes there.
set -u
dosemap=$1
shot=${2:-}
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
need_tools Xvfb xdotool
awk 'BEGIN { print "Date Time,Status,CPM,uSv/h,Latitude,Longitude,Altitude"
  for (i = 0; i < 1000000; i++)
    printf "2026/11/21 %02d:%02d:%02d,A,%d,%.3f,37.%06d,140.%06d,10\n", int(i / 3600) % 24, int(i / 60) % 60, i % 60,
      20 + i % 50, 0.05 + (i % 97) / 1000, i % 1000000, (i * 7) % 1000000 }' >"$work/big.csv"
start_xvfb 1000x500


(cd "$work" && exec "$dosemap" big.csv >"$work/app.log" 2>&1) &
app=$!
windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null; }
has_window() { [ -n "$(windows)" ]; }
wait_for has_window || fail "the window did not appear: $(cat "$work/app.log")"
window=$(windows | head -n 1)
dialog_up() { [ "$(windows | wc -l)" -ge 2 ]; }
for _ in $(seq 600); do dialog_up && break; sleep 0.1; done
dialog_up || fail "no progress dialog appeared: $(cat "$work/app.log")"
dialog=$(windows | grep -vx "$window" | head -n 1)
if [ -n "$shot" ] && command -v import >/dev/null; then
  for _ in $(seq 50); do xdotool getwindowname "$dialog" >/dev/null 2>&1 && break; sleep 0.1; done
  import -window root -crop 600x150+0+0 "$shot" || fail "no screenshot"
fi
timeout 10 xdotool windowfocus --sync "$dialog" 2>/dev/null
start=$(date +%s%N)
xdotool key --window "$dialog" Escape
xdotool key Escape
gone() { ! windows | grep -qx "$dialog"; }
for _ in $(seq 600); do gone && break; sleep 0.02; done
gone || fail "Escape did not cancel the dialog"
echo "e2e_progress: the dialog went $(( ($(date +%s%N) - start) / 1000000 )) ms after Escape"
box_up() { [ "$(windows | wc -l)" -ge 2 ]; }
for _ in $(seq 600); do box_up && break; sleep 0.1; done
box_up || fail "no summary box after the cancel"
timeout 5 xdotool getwindowgeometry "$window" >/dev/null || fail "the window did not answer"
[ ! -e "$work/big.kmz" ] && [ ! -e "$work/big.html" ] || fail "a cancelled log left maps: $(ls "$work")"
[ -z "$(ls "$work" | grep -E '\.[A-Za-z0-9]{6}$')" ] || fail "staging files left: $(ls "$work")"
echo "e2e_progress: the dialog came up, Escape cancelled the log, no map was written"
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null

# Killed while it maps, as a desktop's logout does: the window removes its staging files and ends.
staging() { ls "$work" | grep -E '^big\.(kmz|html)\.[A-Za-z0-9]{6}'; }
for signal in TERM HUP; do
  (cd "$work" && exec "$dosemap" big.csv >"$work/app.log" 2>&1) &
  app=$!
  staged() { [ -n "$(staging)" ]; }
  for _ in $(seq 600); do staged && break; sleep 0.05; done
  staged || fail "SIG$signal: no staging file appeared: $(ls "$work")"
  kill -s "$signal" "$app"
  ended() { ! kill -0 "$app" 2>/dev/null; }
  for _ in $(seq 600); do ended && break; sleep 0.05; done
  ended || fail "SIG$signal: the window did not end"
  wait "$app" 2>/dev/null
  app=""
  [ -z "$(staging)" ] || fail "SIG$signal: staging files left: $(staging)"
  [ ! -e "$work/big.kmz" ] && [ ! -e "$work/big.html" ] || fail "SIG$signal: maps were put in place"
done
echo "e2e_progress: killed with SIGTERM or SIGHUP while it mapped, the window left no staging file"
