#!/usr/bin/env bash
# Benchmark of the overlapped run (general option "o") against the plain
# quiet run, in the same prefix, interleaved, best of BENCH_OVERLAP_RUNS
# (default 3) each.
#
# Four prerequisites, each a 64 MiB download (guipackage.exe followed by
# zeros, checked by ExactSize) from a loopback HTTP server that sends at most
# 20 MB/s per connection, whose package takes about 1 s to install
# (guipackage.exe --sleep=1000). Plain: about 4 x 3.4 s + 4 x 1 s; overlapped:
# three downloads at once, each package installed once its turn comes.
# Printed: both whole-run times and their ratio (goal: at most 0.5).
# BENCH_OVERLAP_MIB (default 64) and BENCH_OVERLAP_RATE (bytes per second
# per connection, default 20000000) change the downloads.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_OVERLAP_RUNS:-3}
mib=${BENCH_OVERLAP_MIB:-64}
rate=${BENCH_OVERLAP_RATE:-20000000}
. "$repo/bench/common.sh"

for f in "$build/prereq.exe" "$build/tools/guipackage.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done
work=$(mktemp -d /tmp/prereq-overlap.XXXXXX)
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"; rm -rf "$work"' EXIT

mkdir -p "$work/www"
for i in 1 2 3 4; do
  # Each file differs (its number at the end), as four packages would.
  { cat "$build/tools/guipackage.exe"; head -c $((mib * 1048576 - $(stat -c %s "$build/tools/guipackage.exe") - 1)) /dev/zero; printf '%s' "$i"; } \
    >"$work/www/p$i.exe"
done

/usr/bin/python3 - "$wine" "$work" "$build" "$runs" "$rate" <<'PY'
import os, shutil, subprocess, sys, threading, time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from pathlib import Path

wine, work, build, runs, rate = sys.argv[1], Path(sys.argv[2]), Path(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
www = work / "www"

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def log_message(self, *a):
        pass
    def do_GET(self):
        path = www / self.path.lstrip("/").split("?")[0]
        if not path.is_file():
            self.send_response(404); self.send_header("Content-Length", "0"); self.end_headers(); return
        size = path.stat().st_size
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        start, sent, block = time.perf_counter(), 0, 262144
        try:
            with open(path, "rb") as f:
                while data := f.read(block):
                    self.wfile.write(data)
                    sent += len(data)
                    # At most `rate` bytes per second on this connection.
                    ahead = sent / rate - (time.perf_counter() - start)
                    if ahead > 0:
                        time.sleep(ahead)
        except OSError:
            pass

httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
httpd.daemon_threads = True
threading.Thread(target=httpd.serve_forever, daemon=True).start()
base = f"http://127.0.0.1:{httpd.server_address[1]}"

def winpath(p):
    return "Z:" + str(p).replace("/", "\\")

def setup(name, options):
    folder = work / name
    folder.mkdir()
    shutil.copyfile(build / "prereq.exe", folder / "overlap.exe")
    lines = ["[GeneralOptions]", f"Options={options}", "[PREREQUISITES]"]
    lines += [f"App{i}=p{i}" for i in range(1, 5)]
    lines += ["[PREREQ_CHAINER]", f"LogFile={winpath(folder / 'run.log')}"]
    for i in range(1, 5):
        size = (www / f"p{i}.exe").stat().st_size
        lines += [f"[App{i}]", f"DisplayName=Package {i}", f"Url={base}/p{i}.exe", f"ExactSize={size}",
                  "Operator=1", f"NoUiCommandLine=0 {winpath(folder / 'marker.txt')} P{i} --sleep=1000"]
    return folder, lines

def run(folder, lines, n):
    dl = folder / f"dl{n}"
    text = "\r\n".join(lines[:2] + [f"DownloadFolder={winpath(dl)}"] + lines[2:]) + "\r\n"
    (folder / "overlap.ini").write_bytes(b"\xff\xfe" + text.encode("utf-16-le"))
    marker = folder / "marker.txt"
    if marker.exists():
        marker.unlink()
    began = time.perf_counter()
    rc = subprocess.run([wine, str(folder / "overlap.exe")], stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=600).returncode
    took = time.perf_counter() - began
    done = marker.read_text().count("\n") if marker.exists() else 0
    if rc != 0 or done != 4:
        log = (folder / "run.log").read_bytes()[2:].decode("utf-16-le", "replace").splitlines()
        print("\n".join(log[-60:]), file=sys.stderr)
        sys.exit(f"bench: the run in {folder} failed (exit code {rc}, {done} of 4 packages installed)")
    shutil.rmtree(dl, ignore_errors=True)
    return took

plain, overlapped = setup("plain", "q"), setup("overlapped", "qo")
times = {"plain": [], "overlapped": []}
for n in range(runs):
    times["plain"].append(run(*plain, n))
    times["overlapped"].append(run(*overlapped, n))
    print(f"run {n + 1}: plain {times['plain'][-1]:.2f} s, overlapped {times['overlapped'][-1]:.2f} s", flush=True)
best_plain, best_overlapped = min(times["plain"]), min(times["overlapped"])
print(f"plain run (q):       {best_plain:.2f} s (best of {runs})")
print(f"overlapped run (qo): {best_overlapped:.2f} s (best of {runs})")
print(f"ratio overlapped/plain: {best_overlapped / best_plain:.2f} (goal: <= 0.5)")
httpd.shutdown()
PY
