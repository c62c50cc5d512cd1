#!/usr/bin/env bash
# Runs the libFuzzer targets built in build/fuzz (see fuzz/CMakeLists.txt).
#
#   scripts/fuzz.sh run SECONDS      fuzz each target for SECONDS, keeping what
#                                    it learns in build/fuzz/work/<name>
#   scripts/fuzz.sh regress SECONDS  every seed of fuzz/corpus/<name> once,
#                                    then SECONDS of fuzzing from a fresh copy
#
# FUZZ_TARGETS="a b" limits the run to those targets. Crashes, leaks,
# sanitizer reports, time-outs (one input over 10 s) and broken properties
# fail the run; the input is kept as build/fuzz/artifacts/<name>-*. Add it to
# fuzz/corpus/<name>/ once the fault is mended.
set -uo pipefail

mode=${1:-}
seconds=${2:-60}
case "$mode" in
  run|regress) ;;
  *) echo "usage: $0 run|regress SECONDS" >&2; exit 2 ;;
esac

root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/fuzz
[ -f "$build/targets.txt" ] || { echo "fuzz: build/fuzz is not built (make fuzz-build)" >&2; exit 2; }
targets=${FUZZ_TARGETS:-$(cat "$build/targets.txt")}
# The program's threads have 1 MiB stacks on Windows; the targets get the
# same (sanitizer frames are larger, so this errs on the safe side).
STACK_KB=${FUZZ_STACK_KB:-1024}

mkdir -p "$build/artifacts" "$build/logs"
failed=()
summary=()
for name in $targets; do
  exe=$build/$name
  seeds=$root/fuzz/corpus/$name
  [ -x "$exe" ] || { echo "fuzz: $name is not built" >&2; failed+=("$name"); continue; }
  [ -d "$seeds" ] || { echo "fuzz: no seeds in fuzz/corpus/$name" >&2; failed+=("$name"); continue; }
  if [ "$mode" = run ]; then
    work=$build/work/$name
    mkdir -p "$work"
  else
    work=$(mktemp -d)
  fi
  log=$build/logs/$name.$mode.log
  echo "== fuzz $name ($mode, ${seconds}s)"
  (
    ulimit -s "$STACK_KB"
    exec "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2560 -max_len=8192 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$work" "$seeds"
  ) >"$log" 2>&1 </dev/null
  rc=$?
  [ "$mode" = regress ] && rm -rf "$work"
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  corpus=$(grep -o 'corp: [0-9]*/[0-9a-zA-Z]*' "$log" | tail -1)
  if [ $rc -ne 0 ]; then
    failed+=("$name")
    echo "fuzz: $name FAILED (exit $rc), log $log:"
    grep -E '^(==[0-9]+==ERROR|SUMMARY|property violated|.*runtime error|artifact_prefix|Test unit written)' "$log" | head -20
  fi
  summary+=("$(printf '%-16s %12s executions  %s  %s' "$name" "${execs:-?}" "${corpus:-}" \
    "$([ $rc -eq 0 ] && echo ok || echo FAILED)")")
done

echo "== fuzz summary ($mode, ${seconds}s per target)"
printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failed: ${failed[*]}"
  exit 1
fi
echo "fuzz: ${#summary[@]} passed, 0 failed"
