#!/usr/bin/env bash
# Every option --help lists is in dosemap-convert(1), and every option the man page names is one
# the program accepts (whatever it then says of the missing arguments, never "unknown option").
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1
man_page=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

"$convert" --help >help.txt
help_options=$(grep -E '^  -' help.txt | grep -oE -- '(^|[ ,])--?[a-z][a-z-]*' | tr -d ' ,' | sort -u)
# An option stands after a blank or a quote, not inside a word ("radiacode\-kml" is a format).
man_options=$(grep -oE -- '(^|[ "])\\-(\\-)?[a-z][a-z\\-]*' "$man_page" | sed 's/\\//g; s/^[ "]//' |
  grep -E '^--?[a-z]' | sort -u)
check "--help lists options" 1 "$(( $(echo "$help_options" | wc -l) >= 15 ))"
for option in $help_options; do
  echo "$man_options" | grep -qx -- "$option"; check "$option is in dosemap-convert(1)" 0 $?
done
for option in $man_options; do
  "$convert" "$option" </dev/null >/dev/null 2>err
  grep -q 'unknown option' err; check "$option (from the man page) is accepted" 1 $?
done
checks_done man_options_test
