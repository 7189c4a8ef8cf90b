#!/usr/bin/env bash
# The real program under Xvfb, driven by xdotool as a user would: start it in a folder with a
# survey log, press Space on the focused button, compare the KML with dosemap-convert's, type
# into Text1, close the window, check SETT.TXT.
set -u
dosemap=$1
convert=$2
sample=$3
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
need_tools Xvfb xdotool
start_xvfb 800x300

mkdir "$work/app" "$work/reference"
cp "$sample" "$work/app/DATA_0.csv"
cp "$sample" "$work/reference/DATA_0.csv"
(cd "$work/reference" && "$convert" DATA_0 DATA_0) || fail "dosemap-convert failed"

# With no display at all the program says so in one line instead of aborting.
out=$(cd "$work/app" && env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$dosemap" 2>&1)
status=$?
[ "$status" -eq 1 ] && [ "$(printf '%s\n' "$out" | wc -l)" -eq 1 ] && [[ $out == *dosemap-convert* ]] ||
  fail "without a display: exit $status, output: $out"

(cd "$work/app" && exec "$dosemap" >"$work/app.log" 2>&1) &
app=$!
# Found by its process, not by its Japanese title, which xdotool matches through the locale.
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$app" | head -n 1)
[ -n "$window" ] || fail "the window did not appear: $(cat "$work/app.log")"
# Window managers read the title from both properties, whatever the program's locale.
if command -v xprop >/dev/null; then
  title=$(LC_ALL=C.UTF-8 xprop -id "$window" _NET_WM_NAME WM_NAME)
  [ "$title" = "$(printf '_NET_WM_NAME(UTF8_STRING) = "CSVからＫＭＬ"\nWM_NAME(COMPOUND_TEXT) = "CSVからＫＭＬ"')" ] ||
    fail "window title: $title"
fi
timeout 10 xdotool windowfocus --sync "$window" || fail "the window did not take the focus"
sleep 0.5  # with no window manager, Qt takes the focus a moment after X gives it

finished() { [ -f "$work/app/DATA_0.kml" ] && [ "$(tail -c 9 "$work/app/DATA_0.kml" | tr -d '\r\n')" = " </kml>" ]; }
for _ in 1 2 3; do
  xdotool key space
  for _ in $(seq 50); do finished && break; sleep 0.1; done
  finished && break
done
finished || fail "no finished DATA_0.kml after Space: $(cat "$work/app.log")"
cmp "$work/app/DATA_0.kml" "$work/reference/DATA_0.kml" || fail "the window's KML differs from dosemap-convert's"

# Tab from the button to Text1, then type at its end.
xdotool key Tab End x
saved_x() { grep -q '^DATA_0x,DATA_0, 11, 19,' "$work/app/SETT.TXT"; }
wait_for saved_x || fail "SETT.TXT after typing: $(cat "$work/app/SETT.TXT")"

# With no window manager there is nobody to deliver WM_DELETE_WINDOW: the window is destroyed and
# the process, which runs nothing at close, is then ended.
xdotool windowclose "$window" 2>/dev/null
sleep 1
kill "$app" 2>/dev/null
wait "$app" 2>/dev/null
app=""
expected="DATA_0x,DATA_0, 11, 19,   ,   ,   ,   ,   ,   ,   ,   ,   ,   ,   ,"
[ "$(cat "$work/app/SETT.TXT")" = "$expected" ] || fail "SETT.TXT after close: $(cat "$work/app/SETT.TXT")"
echo "e2e: window converted the log byte for byte and saved the settings"
