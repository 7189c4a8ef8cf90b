# Sourced by the shell tests: check DESCRIPTION EXPECTED ACTUAL counts a failure with a line that
# says what differed, and checks_done ends the script with the count as its status.
failures=0
check() {
  if [ "$2" != "$3" ]; then
    echo "FAIL: $1: expected [$2], got [$3]"
    failures=$((failures + 1))
  fi
}
checks_done() {  # checks_done NAME
  [ "$failures" -eq 0 ] && echo "$1: all checks passed"
  exit "$failures"
}
# The last value of a key in a one-line JSON object in a file.
json_field() { sed -n "s/.*\"$1\":\\([^,}]*\\).*/\\1/p" "$2" | tail -n 1; }
# A fresh folder as the current directory, removed with everything in it when the script ends.
work_in_temp() {
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work" || exit 1
}
