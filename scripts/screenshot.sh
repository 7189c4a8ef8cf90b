#!/usr/bin/env bash
# Takes a screenshot of the window under Xvfb into docs/form1.png (or the path given).
# Needs a built build/bin/dosemap, xvfb, xdotool and imagemagick.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/docs/form1.png}
work=$(mktemp -d)
trap 'kill $app $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 800x300x24 -nolisten tcp -noreset >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || { echo "screenshot: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(cat "$work/display")
cp "$root/examples/DATA_0.csv" "$work/"
(cd "$work" && exec "$root/build/bin/dosemap") &
app=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --pid "$app" | head -n 1)
[ -n "$window" ] || { echo "screenshot: the window did not appear" >&2; exit 1; }
timeout 10 xdotool windowfocus --sync "$window"
sleep 0.5
import -window "$window" "$out"
echo "screenshot: $out"
