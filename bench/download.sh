#!/usr/bin/env bash
# Benchmark: the real program downloading, as an installation runs it.
#
# prereq.exe with a configuration beside it (quiet, a log) whose one
# prerequisite is a 256 MiB package on a loopback HTTP server: the program
# downloads it, accepts it (ExactSize, and MD5 in the second variant),
# launches it with a quiet switch (a GUI test program with 256 MiB of data
# appended, which exits at once), searches again and exits. Whole process,
# start to exit.
#
# References, measured in the same run, interleaved:
#   curl        the same file from the same server into a file (whole process)
#   small       the same program run whose package is the bare test program
#               (same launch and searches, hardly any download)
# Printed:
#   throughput ratio curl/prereq          goal >= 0.6 (aim 0.8)
#   the same with the small run's time taken off both (the download alone)
#   ratio with MD5 / without MD5          goal <= 1.05
#
# BENCH_DOWNLOAD_RUNS (default 5) sets the runs of each (median counts);
# BENCH_DOWNLOAD_MIB (default 256) the size; PREREQ_BENCH_BUILD another build.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_DOWNLOAD_RUNS:-5}
mib=${BENCH_DOWNLOAD_MIB:-256}
python=/usr/bin/python3
. "$repo/bench/common.sh"
echo "measuring $build/prereq.exe in a $arch prefix"

for f in "$build/prereq.exe" "$build/tools/guipackage.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "bench: curl is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/prereq-download-bench.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  "$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch" || true
  rm -rf "$work"
}
trap cleanup EXIT

"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"

mkdir -p "$work/www"
cp "$build/tools/guipackage.exe" "$work/www/small.exe"
{ cat "$build/tools/guipackage.exe"; head -c $((mib * 1048576)) /dev/urandom; } >"$work/www/big.exe"

# A threaded HTTP/1.0 file server on a free loopback port, with ranges as
# download servers have them (bench/httpserver.py).
port=$("$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$python" "$repo/bench/httpserver.py" "$work/www" "$port" >/dev/null 2>&1 &
server_pid=$!
for _ in $(seq 50); do curl -sfI "http://127.0.0.1:$port/small.exe" >/dev/null 2>&1 && break; sleep 0.1; done

"$python" - "$wine" "$build/prereq.exe" "$work" "$port" "$runs" <<'PY'
import hashlib, os, shutil, statistics, subprocess, sys, time
from pathlib import Path

wine, exe, work, port, runs = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), sys.argv[4], int(sys.argv[5])

def winpath(p):
    return "Z:" + str(p).replace("/", "\\")

def setup(name, package, md5):
    d = work / name
    d.mkdir()
    shutil.copyfile(exe, d / "setup.exe")
    data = (work / "www" / package).read_bytes()
    lines = ["[GeneralOptions]", "Options=q", f"DownloadFolder={winpath(d / 'dl')}",
             "[PREREQUISITES]", "App1=pkg", "[PREREQ_CHAINER]", f"LogFile={winpath(d / 'run.log')}",
             "[App1]", "DisplayName=Package", f"Url=http://127.0.0.1:{port}/{package}", "Operator=1",
             f"ExactSize={len(data)}", f"NoUiCommandLine=0 {winpath(d / 'launched.txt')} /q"]
    if md5:
        lines.append(f"MD5={hashlib.md5(data).hexdigest()}")
    text = "\r\n".join(lines) + "\r\n"
    (d / "setup.ini.src").write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    return d

def prereq(d):
    for f in ("run.log", "launched.txt"):
        (d / f).unlink(missing_ok=True)
    shutil.copyfile(d / "setup.ini.src", d / "setup.ini")  # a run deletes its configuration
    t = time.perf_counter()
    subprocess.run([wine, str(d / "setup.exe")], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    elapsed = time.perf_counter() - t
    log = (d / "run.log").read_bytes()[2:].decode("utf-16-le")
    assert "Downloaded file was accepted." in log and (d / "launched.txt").exists(), log
    return elapsed

def curl(_):
    out = work / "curl.bin"
    t = time.perf_counter()
    subprocess.run(["curl", "-s", "-o", str(out), f"http://127.0.0.1:{port}/big.exe"], check=True)
    elapsed = time.perf_counter() - t
    out.unlink()
    return elapsed

cases = {
    "curl": (curl, None),
    "prereq": (prereq, setup("plain", "big.exe", False)),
    "prereq+md5": (prereq, setup("md5", "big.exe", True)),
    "small": (prereq, setup("small", "small.exe", False)),
}
for fn, arg in cases.values():  # warm-up: page cache, the server, the prefix
    fn(arg)
times = {k: [] for k in cases}
for _ in range(runs):  # interleaved, so that changes of load hit all alike
    for k, (fn, arg) in cases.items():
        times[k].append(fn(arg))
med = {k: statistics.median(v) for k, v in times.items()}
size = (work / "www" / "big.exe").stat().st_size / 1e6
for k in cases:
    print(f"{k:11s} median {med[k]:6.3f} s  (min {min(times[k]):6.3f}, max {max(times[k]):6.3f})"
          + (f"  {size / med[k]:7.1f} MB/s" if k != "small" else "  (same run, 0.7 MB package)"))
print(f"throughput ratio prereq/curl, whole process: {med['curl'] / med['prereq']:.2f} (goal >= 0.6, aim 0.8)")
alone = med["prereq"] - med["small"]
print(f"throughput ratio prereq/curl, the download alone (small run taken off): "
      f"{med['curl'] / alone:.2f}" if alone > 0 else "download alone: not measurable")
print(f"ratio with MD5 / without: {med['prereq+md5'] / med['prereq']:.2f} (goal <= 1.05)")
PY
