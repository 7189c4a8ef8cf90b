#!/usr/bin/env bash
# dosemap-convert --check LOG...: a verdict a log for a batch before it is shared, the totals, and
# the exit status that tells a script what it found.
set -u
source "$(dirname "${BASH_SOURCE[0]}")/check.sh"
convert=$1 examples=$2
work_in_temp
tab=$'\t'

# A folder of a clean log (one in a folder under it), a log with rejects and a file of no format.
mkdir -p batch/sub
cp "$examples/drive.ers" batch/a-clean.ers
cp "$examples/drive-ios.rctrk" batch/sub/clean.rctrk
cp "$examples/drive.LOG" batch/b-rejects.LOG
echo "shopping list" >batch/c-notes.txt
"$convert" --check batch >out 2>err
check "mixed batch: exit 1 (a file unreadable)" 1 $?
check "mixed batch: nothing on stderr" "" "$(cat err)"
check "mixed batch: the lines" \
  "batch/a-clean.ers${tab}ers${tab}read 120${tab}kept 120${tab}private 0${tab}rejected 0${tab}-
batch/b-rejects.LOG${tab}bgeigie${tab}read 121${tab}kept 117${tab}private 0${tab}rejected 4${tab}checksum 2, gps_void 2
batch/c-notes.txt${tab}-${tab}not a survey log of a known format (see --from)
batch/sub/clean.rctrk${tab}radiacode${tab}read 120${tab}kept 120${tab}private 0${tab}rejected 0${tab}-
4 logs: 2 clean, 1 with rejected records, 1 unreadable" "$(cat out)"
ls batch/*.kml batch/*.csv 2>/dev/null | grep -q .
check "no map written" 1 $?

rm batch/c-notes.txt
"$convert" --check batch --rejects rejects.csv >out
check "every log read, some with rejects: exit 3" 3 $?
check "the totals" "3 logs: 2 clean, 1 with rejected records, 0 unreadable" "$(tail -n 1 out)"
check "the rejects file holds every log's rejects" 4 "$(tail -n +2 rejects.csv | grep -c '^b-rejects.LOG,')"

# Private records don't make a log unclean; a missing log is unreadable, named with its cause.
"$convert" --check --privacy 37.4457,140.5035,150 batch/sub/clean.rctrk >out
check "clean with private records: exit 0" 0 $?
check "the private records counted" 1 "$(grep -c "${tab}private [1-9][0-9]*${tab}rejected 0${tab}-\$" out)"
"$convert" --check batch/a-clean.ers missing.LOG >out
check "a missing log: exit 1" 1 $?
check "a missing log: its line" 1 "$(grep -c "^missing.LOG${tab}-${tab}.*No such file" out)"

# JSON: one object a log with its file, format and cleanness, then the totals.
"$convert" --check --summary=json batch missing.LOG >out
check "JSON: a line a log and the totals" 5 "$(wc -l <out)"
check "JSON: the totals" '{"logs":4,"clean":2,"with_rejects":1,"unreadable":1}' "$(tail -n 1 out)"
check "JSON: a log's verdict" 1 "$(grep -c '^{"file":"batch/b-rejects.LOG","format":"bgeigie","clean":false,"read":121,"kept":117,' out)"
check "JSON: an unreadable log" 1 "$(grep -c '^{"file":"missing.LOG","clean":false,"error":".*No such file' out)"

# What a check can't be asked.
for wrong in "-o x.kml" "--grid 100" "--labels"; do
  "$convert" --check $wrong batch >out 2>err
  check "--check $wrong: usage error" 2 $?
  check "--check $wrong: says it writes no map" 1 "$(grep -c 'check writes no map' err)"
done

# The cleaned log of a checked batch: the bGeigie log's kept lines; a log of another format, standard
# input or the log itself as the output refused before anything is written.
"$convert" --summary --privacy 37.4457,140.5035,150 -o clean.LOG batch/b-rejects.LOG >out
check "cleaned: exit 0" 0 $?
check "cleaned: the kept sentences" 113 "$(grep -o '[$]BNRDD' clean.LOG | wc -l)"
check "cleaned: every line is the log's" "" "$(grep -vxFf batch/b-rejects.LOG clean.LOG)"
refused() {  # what, expected message, arguments...
  local what=$1 message=$2
  shift 2
  "$convert" "$@" >out 2>err <batch/b-rejects.LOG
  check "cleaned $what: usage error" 2 $?
  check "cleaned $what: says why in one line" "1 1" "$(wc -l <err) $(grep -c -- "$message" err)"
  test ! -e out.LOG
  check "cleaned $what: nothing written" 0 $?
}
refused "from a folder with an ERS log" "batch/a-clean.ers: out.LOG takes bGeigie-type and Czech logs only" -o out.LOG batch
refused "from standard input" "not standard input" -o out.LOG -
refused "over its log" "is the map" -o batch/b-rejects.LOG batch/b-rejects.LOG
cmp -s batch/b-rejects.LOG "$examples/drive.LOG"
check "cleaned over its log: the log untouched" 0 $?

checks_done check_cli_test
