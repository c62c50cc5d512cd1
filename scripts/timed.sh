#!/usr/bin/env bash
# Times the parts of make test and prints them at the end.
#
#   scripts/timed.sh start            forget earlier figures
#   scripts/timed.sh NAME COMMAND...  run COMMAND, note its time under NAME,
#                                     exit with its status
#   scripts/timed.sh report           print every part's time and the sum
set -u
file=${PREREQ_TIMES_FILE:-build/.test-times}
mkdir -p "$(dirname "$file")"
case "${1:-}" in
  start) : >"$file"; exit 0 ;;
  report)
    echo "== time of each part"
    awk -F'\t' '{ printf "  %-14s %4dm%02ds  %s\n", $1, $2 / 60, $2 % 60, $3; sum += $2 }
                END { printf "  %-14s %4dm%02ds\n", "all", sum / 60, sum % 60 }' "$file"
    exit 0 ;;
  "") echo "usage: $0 start|report|NAME COMMAND..." >&2; exit 2 ;;
esac
name=$1; shift
begin=$(date +%s)
"$@"
status=$?
result=passed; [ $status -eq 0 ] || result="FAILED ($status)"
printf '%s\t%d\t%s\n' "$name" $(( $(date +%s) - begin )) "$result" >>"$file"
exit $status
