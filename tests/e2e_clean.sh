#!/usr/bin/env bash
# Cleaning a log for upload in the real window, under Xvfb: "dosemap drive.LOG" started with Shift
# held, then File > アップロード用に整理… through the keyboard and the file dialog. Each writes
# drive.clean.LOG beside the log, as dosemap-convert -o writes it with the zones of privacy.txt,
# and no map.
set -u
dosemap=$1
convert=$2
examples=$3
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
need_tools Xvfb xdotool
start_xvfb 1000x600

mkdir "$work/app" "$work/reference"
for dir in app reference; do
  cp "$examples/drive.LOG" "$work/$dir/"
  printf '# home\n37.4457,140.5035,150\n' >"$work/$dir/privacy.txt"
done
(cd "$work/reference" && "$convert" --privacy-file privacy.txt -o drive.clean.LOG drive.LOG) ||
  fail "dosemap-convert failed"

# Waits up to a minute (a busy machine) for a command to succeed.
wait_long() {
  for _ in $(seq 600); do "$@" && return 0; sleep 0.1; done
  return 1
}
windows() { xdotool search --onlyvisible --pid "$app" 2>/dev/null | wc -l; }
cleaned_and_told() { [ -f "$work/app/drive.clean.LOG" ] && [ "$(windows)" -ge 2 ]; }

# Open with, Shift held as the window starts: xdotool presses it and runs a command that says the
# key is down, then waits until it may let go; the key is let go by hand (the server keeps it).
xdotool keydown shift exec --sync bash -c \
  "touch '$work/held'; until [ -e '$work/release' ]; do sleep 0.1; done" &
holder=$!
wait_long test -e "$work/held" || fail "xdotool could not hold Shift"
(cd "$work/app" && exec "$dosemap" drive.LOG >"$work/app.log" 2>&1) &
app=$!
wait_long cleaned_and_told || fail "no cleaned log and summary: $(cat "$work/app.log"; ls "$work/app")"
touch "$work/release"
wait "$holder"
xdotool keyup shift
cmp "$work/app/drive.clean.LOG" "$work/reference/drive.clean.LOG" ||
  fail "the cleaned log differs from dosemap-convert's"
[ ! -e "$work/app/drive.kmz" ] && [ ! -e "$work/app/drive.html" ] || fail "a map was written too"
kill "$app"
wait "$app" 2>/dev/null
rm "$work/app/drive.clean.LOG"

# File > アップロード用に整理…: Alt+F, the second item, then the log's path in the file dialog.
(cd "$work/app" && exec "$dosemap" >"$work/app.log" 2>&1) &
app=$!
window=$(timeout 60 xdotool search --sync --onlyvisible --pid "$app" | head -n 1)
[ -n "$window" ] || fail "the window did not appear"
timeout 10 xdotool windowfocus --sync "$window"
xdotool key alt+f
popup() { [ "$(windows)" -ge 2 ]; }
wait_long popup || fail "the File menu did not open"
xdotool key Down Return
dialog_up() { xdotool search --onlyvisible --name "アップロード用に整理するログ" >/dev/null 2>&1; }
wait_long dialog_up || fail "no file dialog"
dialog=$(xdotool search --onlyvisible --name "アップロード用に整理するログ" | head -n 1)
timeout 10 xdotool windowfocus --sync "$dialog"
xdotool type --delay 5 "$work/app/drive.LOG"
xdotool key Return
wait_long test -f "$work/app/drive.clean.LOG" || fail "no cleaned log from the menu: $(cat "$work/app.log")"
wait_long cleaned_and_told || fail "no summary after the menu"
cmp "$work/app/drive.clean.LOG" "$work/reference/drive.clean.LOG" ||
  fail "the menu's cleaned log differs from dosemap-convert's"
[ ! -e "$work/app/drive.kmz" ] || fail "a map was written too"
echo "e2e: Shift at start-up and File > アップロード用に整理… cleaned the log as dosemap-convert does"
