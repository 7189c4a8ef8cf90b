# Sourced by the tests of the real window: needs TOOL... installed, makes $work (removed at the
# end with the program $app and the X server), and start_xvfb WxH starts Xvfb and sets DISPLAY,
# or ends the test as skipped when no server can start.
need_tools() {
  for tool in "$@"; do
    command -v "$tool" >/dev/null || { echo "e2e: $tool is not installed"; exit 1; }
  done
}
work=$(mktemp -d)
app=""
xvfb=""
# The server is waited for: one still shutting down removes its socket files, which the next
# test's server may already have taken over.
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null && wait "$app" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; exit 1; }
# Waits up to 20 s for a command to succeed.
wait_for() {
  for _ in $(seq 200); do "$@" && return 0; sleep 0.1; done
  return 1
}
start_xvfb() {  # start_xvfb WIDTHxHEIGHT
  exec 3>"$work/display"
  # -noreset: a server resets when its last client leaves, and refuses the next one meanwhile.
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  xvfb=$!
  if ! wait_for test -s "$work/display"; then
    echo "SKIP: Xvfb could not start: $(cat "$work/xvfb.log")"
    exit 0
  fi
  export DISPLAY=:$(cat "$work/display")
  # The display number is written once the server listens; a client's answer is the proof.
  wait_for xdotool getdisplaygeometry >/dev/null 2>&1 ||
    fail "Xvfb on $DISPLAY does not answer: $(cat "$work/xvfb.log")"
}
