#!/usr/bin/env bash
# Benchmark: the install loop over a chain of 20 shipped packages, each a
# GUI-subsystem test program (guipackage.exe; installation packages are GUI
# programs, and a console program would get a console host of its own) that
# appends a line to a marker file and exits 0.
#
# Reference, in the same prefix: a batch script run by cmd.exe that starts the
# same 20 programs one after the other with the same arguments. Both are also
# run with no packages at all, and the difference gives the time per package:
#
#   per package = (time with 20 - time with 0) / 20
#
# Printed: both per-package times and their ratio (goal: at most 1.2).
# BENCH_CHAIN_RUNS (default 5) sets the number of interleaved runs.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_CHAIN_RUNS:-5}
count=20
. "$repo/bench/common.sh"

for f in "$build/prereq.exe" "$build/tools/guipackage.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done
work=$(mktemp -d /tmp/prereq-chain.XXXXXX)

"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"; rm -rf "$work"' EXIT

# Two setups (20 packages, none) and two scripts (20 programs, none).
for n in 0 $count; do
  dir=$work/chain$n
  mkdir -p "$dir"
  cp "$build/prereq.exe" "$dir/chain.exe"
  cp "$build/tools/guipackage.exe" "$dir/guipackage.exe"
  marker=$(winpath "$dir/marker.txt")
  {
    echo "[GeneralOptions]"
    echo "Options=q"
    echo "ExtractionFolder=$(winpath "$dir")"
    echo "[PREREQUISITES]"
    for i in $(seq 1 "$n"); do echo "App$i=package$i"; done
    echo "[PREREQ_CHAINER]"
    echo "LogFile=$(winpath "$dir/chain.log")"
    for i in $(seq 1 "$n"); do
      printf '[App%s]\nDisplayName=Package %s\nSetupFile=guipackage.exe\nOperator=1\n' "$i" "$i"
      printf 'NoUiCommandLine=0 %s /q\n' "$marker"
    done
  } | write_utf16 "$dir/chain.ini.src"
  {
    echo "@echo off"
    for i in $(seq 1 "$n"); do echo "\"$(winpath "$dir")\\guipackage.exe\" 0 $marker /q"; done
  } | sed 's/$/\r/' >"$dir/script.cmd"
done

/usr/bin/python3 - "$wine" "$work" "$count" "$runs" <<'PY'
import shutil, statistics, subprocess, sys, time
from pathlib import Path
wine, work, count, runs = sys.argv[1], Path(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])

def winpath(p):
    return "Z:" + str(p).replace("/", "\\")

def once(kind, n):
    d = work / f"chain{n}"
    (d / "marker.txt").unlink(missing_ok=True)
    # The program deletes its configuration file at exit: a fresh one each run.
    shutil.copyfile(d / "chain.ini.src", d / "chain.ini")
    args = [wine, str(d / "chain.exe")] if kind == "chain" else \
           [wine, "cmd", "/c", winpath(d / "script.cmd")]
    t = time.perf_counter()
    subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    elapsed = time.perf_counter() - t
    lines = (d / "marker.txt").read_text().count("\n") if (d / "marker.txt").exists() else 0
    assert lines == n, f"{kind} with {n}: {lines} programs ran"
    return elapsed

for kind in ("chain", "script"):   # warm-up
    once(kind, 0); once(kind, count)
times = {(k, n): [] for k in ("chain", "script") for n in (0, count)}
for _ in range(runs):
    for key in times:
        times[key].append(once(*key))
med = {key: statistics.median(v) for key, v in times.items()}
per = {k: (med[(k, count)] - med[(k, 0)]) / count for k in ("chain", "script")}
print(f"install loop: {med[('chain', count)]:6.2f} s for {count}, {med[('chain', 0)]:5.2f} s for 0"
      f" -> {per['chain'] * 1000:6.1f} ms per package")
print(f"batch script: {med[('script', count)]:6.2f} s for {count}, {med[('script', 0)]:5.2f} s for 0"
      f" -> {per['script'] * 1000:6.1f} ms per package")
print(f"ratio install loop/script per package {per['chain'] / per['script']:.2f} (goal <= 1.2)")
PY
