#!/usr/bin/env bash
# Benchmark of the basic-UI run: one prerequisite of 256 MiB downloaded by
# prereq.exe from a loopback HTTP server, in quiet mode and behind the
# progress window. Prints times and ratios; never fails because of a time.
#
#  (a) throughput of the download in basic-UI mode against quiet mode, in the
#      same run, interleaved, best of BENCH_UI_RUNS (default 5) each; goal:
#      ratio >= 0.95. The server times each download from its first byte to
#      the moment the client has closed the connection.
#  (b) responsiveness of the progress window during the download: another
#      process (tools/wintool.exe ping) sends the window WM_NULL every 20 ms
#      with SendMessageTimeout and times each answer; the longest answer of
#      each run; goal: < 100 ms.
#
# BENCH_UI_MIB (default 256) sets the size. Needs an X display: without one
# the script runs itself under xvfb-run.
set -euo pipefail

if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_UI_RUNS:-5}
mib=${BENCH_UI_MIB:-256}
python=/usr/bin/python3
. "$repo/bench/common.sh"

for f in "$build/prereq.exe" "$build/tools/wintool.exe" "$build/tools/runwait.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done

work=$(mktemp -d /tmp/prereq-basicui-bench.XXXXXX)
cleanup() {
  "$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch" || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== Wine prefix $prefix"
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
head -c $((mib * 1048576)) /dev/urandom >"$work/big.bin"

echo
echo "== basic-UI run: $mib MiB download, quiet against basic UI, best of $runs"
"$python" - "$work" "$build" "$wine" "$runs" <<'PY'
import os, shutil, socket, statistics, subprocess, sys, threading, time, json
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

work, build, wine, runs = sys.argv[1], sys.argv[2], sys.argv[3], int(sys.argv[4])
big = os.path.join(work, "big.bin")
size = os.path.getsize(big)
times = []   # server-side duration of each download, in order

class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    def log_message(self, *a):
        pass
    def do_GET(self):
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        self.wfile.flush()
        start = time.perf_counter()
        with open(big, "rb") as f:
            self.request.sendfile(f)
        # The download is over when the client has read everything and
        # closed its end (measured: a few ms after the last byte left, long
        # before the program ends).
        self.request.shutdown(socket.SHUT_WR)
        try:
            while self.request.recv(65536):
                pass
        except OSError:
            pass
        times.append(time.perf_counter() - start)

httpd = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
httpd.daemon_threads = True
threading.Thread(target=httpd.serve_forever, daemon=True).start()
url = f"http://127.0.0.1:{httpd.server_address[1]}/big.bin"

def win(path):
    return "Z:" + path.replace("/", "\\")

def setup(mode):
    folder = os.path.join(work, mode)
    os.makedirs(folder, exist_ok=True)
    exe = os.path.join(folder, f"{mode}.exe")
    with open(os.path.join(build, "prereq.exe"), "rb") as src, open(exe, "wb") as dst:
        dst.write(src.read())
    ini = "\r\n".join([
        "[GeneralOptions]", f"Options={'q' if mode == 'quiet' else 'b'}",
        f"DownloadFolder={win(os.path.join(folder, 'dl'))}",
        "[PREREQUISITES]", "App1=big",
        "[App1]", "DisplayName=Big Runtime", f"Url={url}", f"ExactSize={size}", "Operator=1",
    ]) + "\r\n"
    with open(os.path.join(folder, f"{mode}.ini.src"), "wb") as f:
        f.write(b"\xff\xfe" + ini.encode("utf-16-le"))
    return exe

def run(exe):
    """One run of prereq.exe through runwait.exe; the server's time of its
    download."""
    before = len(times)
    # The program deletes its configuration file at exit: a fresh one each run.
    shutil.copyfile(exe[:-len(".exe")] + ".ini.src", exe[:-len(".exe")] + ".ini")
    out = subprocess.run([wine, os.path.join(build, "tools", "runwait.exe"), win(exe)],
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=600).stdout
    for _ in range(100):  # the server's thread notes the time when it sees the close
        if len(times) > before:
            break
        time.sleep(0.05)
    if b"exit=0" not in out or len(times) != before + 1:
        raise SystemExit(f"bench: run of {exe} failed: {out!r}")
    return times[-1]

exes = {mode: setup(mode) for mode in ("quiet", "basic")}
run(exes["quiet"])  # warm-up: page cache, prefix
results = {"quiet": [], "basic": []}
for _ in range(runs):
    for mode in ("quiet", "basic"):
        results[mode].append(run(exes[mode]))
quiet, basic = min(results["quiet"]), min(results["basic"])
mb = size / 1e6
print(f"quiet     best {quiet:7.3f} s  {mb / quiet:8.1f} MB/s  (runs: "
      + ", ".join(f"{t:.3f}" for t in results["quiet"]) + ")")
print(f"basic UI  best {basic:7.3f} s  {mb / basic:8.1f} MB/s  (runs: "
      + ", ".join(f"{t:.3f}" for t in results["basic"]) + ")")
print(f"throughput ratio basic UI/quiet {quiet / basic:.3f} (goal >= 0.95); of the medians "
      f"{statistics.median(results['quiet']) / statistics.median(results['basic']):.3f}")

# Responsiveness: wintool pings the progress window from another process for
# as long as it exists.
title = win(exes["basic"]) + " Setup"
worst = []
for _ in range(runs):
    out_path = os.path.join(work, "ping.out")
    with open(out_path, "wb") as sink:
        ping = subprocess.Popen([wine, os.path.join(build, "tools", "wintool.exe"), "ping",
                                 "--title", title, "--child", "1035", "--interval", "20",
                                 "--appear", "120000"],
                                stdin=subprocess.DEVNULL, stdout=sink, stderr=subprocess.STDOUT)
        time.sleep(0.5)  # the pinger is waiting for the window
        took = run(exes["basic"])
        ping.wait(60)
    text = open(out_path, "rb").read().decode("utf-8", "replace")
    line = next((l for l in text.splitlines() if l.startswith("{")), None)
    if line is None:
        raise SystemExit(f"bench: no answer from wintool ping: {text!r}")
    stats = json.loads(line)
    worst.append(stats["max_ms"])
    print(f"responsiveness: {stats['samples']:4d} samples over the window's life "
          f"(download {took:.3f} s): longest answer {stats['max_ms']:7.2f} ms "
          f"(at {stats['max_at_ms'] / 1000:.2f} s of {stats['life_ms'] / 1000:.2f} s), "
          f"mean {stats['mean_ms']:.2f} ms, 99th percentile {stats['p99_ms']:.2f} ms, "
          f">= 100 ms: {stats['slow']}")
print(f"longest answer of the progress window over {runs} runs: {max(worst):.2f} ms (goal < 100 ms)")
httpd.shutdown()
PY
