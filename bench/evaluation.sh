#!/usr/bin/env bash
# Benchmark: what the log costs a large evaluation.
#
# prereq.exe (quiet) with 500 prerequisites of 4 registry searches each, all
# found (Operator 0: every entry runs), so that nothing is to be installed:
# the run with a log file against the same run without one, whole process,
# interleaved, median of BENCH_EVAL_RUNS (default 9) runs each.
# Goal: ratio with log / without <= 1.2. PREREQ_BENCH_BUILD=<folder> measures
# another build (for a comparison).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_EVAL_RUNS:-9}
count=500
. "$repo/bench/common.sh"
[ -f "$build/prereq.exe" ] || { echo "bench: $build/prereq.exe does not exist (make build)" >&2; exit 1; }

work=$(mktemp -d /tmp/prereq-eval.XXXXXX)
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$wine" reg delete "HKCU\\Software\\PrereqBench" /f </dev/null >/dev/null 2>&1 || true;
      "$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"; rm -rf "$work"' EXIT

/usr/bin/python3 - "$wine" "$build/prereq.exe" "$work" "$count" "$runs" <<'PY'
import shutil, statistics, subprocess, sys, time
from pathlib import Path

wine, exe, work, count, runs = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])

def winpath(p):
    return "Z:" + str(p).replace("/", "\\")

# The registry the searches find: one key per prerequisite with a version
# value and a subkey.
reg = ["Windows Registry Editor Version 5.00", ""]
for i in range(1, count + 1):
    reg += [f"[HKEY_CURRENT_USER\\Software\\PrereqBench\\C{i}]", '"Version"="2.5.0.0"', "",
            f"[HKEY_CURRENT_USER\\Software\\PrereqBench\\C{i}\\3.1]", ""]
(work / "bench.reg").write_text("\r\n".join(reg) + "\r\n", encoding="utf-16")
subprocess.run([wine, "regedit", "/s", winpath(work / "bench.reg")], check=True,
               stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

def setup(name, log):
    d = work / name
    d.mkdir()
    shutil.copyfile(exe, d / "setup.exe")
    lines = ["[GeneralOptions]", "Options=q", "[PREREQUISITES]"]
    lines += [f"App{i}=pkg{i}" for i in range(1, count + 1)]
    if log:
        lines += ["[PREREQ_CHAINER]", f"LogFile={winpath(d / 'run.log')}"]
    for i in range(1, count + 1):
        key = f"HKCU\\Software\\PrereqBench\\C{i}"
        lines += [f"[App{i}]", f"DisplayName=Component {i}", f"Url=http://127.0.0.1:9/c{i}.exe", "Operator=0",
                  "SearchType1=5", f"SearchString1={key}",
                  "SearchType2=7", f"SearchString2={key}\\Version",
                  "SearchType3=2", f"SearchString3={key}\\Version", "VerMin3=2.0", "VerMax3=3.0",
                  "SearchType4=1", f"SearchString4={key}", "VerMin4=3.0", "VerMax4=3.9"]
    text = "\r\n".join(lines) + "\r\n"
    (d / "setup.ini.src").write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    return d

def once(d):
    (d / "run.log").unlink(missing_ok=True)
    shutil.copyfile(d / "setup.ini.src", d / "setup.ini")  # a run deletes its configuration
    t = time.perf_counter()
    subprocess.run([wine, str(d / "setup.exe")], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - t

with_log, without = setup("log", True), setup("nolog", False)
once(with_log); once(without)
log = (with_log / "run.log").read_bytes()[2:].decode("utf-16-le")
assert "No prerequisite must be installed." in log, log[-2000:]
assert log.count("Searching for:") == count, log[-2000:]
lines = log.count("\r\n")
times = {"log": [], "nolog": []}
for _ in range(runs):
    times["log"].append(once(with_log))
    times["nolog"].append(once(without))
a, b = statistics.median(times["log"]), statistics.median(times["nolog"])
print(f"{count} prerequisites x 4 registry searches, all found; the log has {lines} lines")
print(f"with a log     median {a:6.3f} s  (min {min(times['log']):6.3f})")
print(f"without a log  median {b:6.3f} s  (min {min(times['nolog']):6.3f})")
print(f"ratio with log / without {a / b:.2f} (goal <= 1.2); the log costs {(a - b) * 1000:.0f} ms")
PY
