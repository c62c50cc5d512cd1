#!/usr/bin/env bash
# Transfer benchmarks. Prints times and ratios; never fails because of a time.
#
#  (a) 256 MiB from a loopback HTTP server: tools/fetch.exe (the transfer
#      engine under Wine) against curl; goal: throughput ratio >= 0.5. For
#      reference, tools/inetread.exe: WinINet's own read loop in the same
#      51200-byte blocks, nothing written, and the same reads written to a
#      file (whole process): the floor of any WinINet download here.
#  (b) peak resident memory of that download against tools/trivial.exe (a GUI
#      program that returns at once), both under /usr/bin/time -v;
#      goal: at most 8 MiB more
#  (c) MD5 of the same file: bench/md5_bench (native) against md5sum;
#      goal: throughput ratio >= 0.85
#
# TRANSFER_RUNS (default 3) sets the number of runs of (a) and (c); the best
# run counts. TRANSFER_MIB (default 256) sets the size.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${TRANSFER_RUNS:-3}
mib=${TRANSFER_MIB:-256}
python=/usr/bin/python3
. "$repo/bench/common.sh"

for f in "$build/tools/fetch.exe" "$build/tools/inetread.exe" "$build/tools/trivial.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done
command -v curl >/dev/null || { echo "bench: curl is not installed" >&2; exit 1; }

work=$(mktemp -d /tmp/prereq-transfer-bench.XXXXXX)
server_pid=
cleanup() {
  [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
  "$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch" || true
  rm -rf "$work"
}
trap cleanup EXIT
best() { sort -g | head -1; }

echo "== Wine prefix $prefix"
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"

mkdir -p "$work/www"
head -c $((mib * 1048576)) /dev/urandom >"$work/www/big.bin"
size=$(stat -c %s "$work/www/big.bin")

# A threaded HTTP/1.0 file server on a free loopback port, with ranges as
# download servers have them (bench/httpserver.py).
port=$("$python" -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$python" "$repo/bench/httpserver.py" "$work/www" "$port" >/dev/null 2>&1 &
server_pid=$!
url=http://127.0.0.1:$port/big.bin
for _ in $(seq 50); do curl -sfI "$url" >/dev/null 2>&1 && break; sleep 0.1; done

# ---------------------------------------------------------------- (a)
echo
echo "== (a) $mib MiB over loopback HTTP, best of $runs"
target=$work/fetch.bin
"$wine" "$build/tools/fetch.exe" --quiet "$url" "$(winpath "$target")" </dev/null >/dev/null 2>&1  # warm-up
curl_times=() fetch_times=()
for _ in $(seq "$runs"); do
  rm -f "$work/curl.bin" "$target"
  t0=$(date +%s.%N)
  curl -s -o "$work/curl.bin" "$url"
  t1=$(date +%s.%N)
  curl_times+=("$(echo "$t1 - $t0" | bc -l)")
  t0=$(date +%s.%N)
  out=$("$wine" "$build/tools/fetch.exe" --quiet "$url" "$(winpath "$target")" </dev/null 2>/dev/null | tr -d '\r')
  t1=$(date +%s.%N)
  fetch_times+=("$(echo "$t1 - $t0" | bc -l)")
  case "$out" in *result=0x00000000*) ;; *) echo "fetch.exe failed: $out" >&2; exit 1 ;; esac
  cmp -s "$target" "$work/www/big.bin" || { echo "fetch.exe: the downloaded file differs" >&2; exit 1; }
done
read_times=() write_times=()
for _ in $(seq "$runs"); do
  out=$("$wine" "$build/tools/inetread.exe" "$url" </dev/null 2>/dev/null | tr -d '\r')
  read_times+=("$(echo "$out" | awk '/bytes in/ {print $4}')")
  rm -f "$work/inetread.bin"
  t0=$(date +%s.%N)
  "$wine" "$build/tools/inetread.exe" "$url" "$(winpath "$work/inetread.bin")" </dev/null >/dev/null 2>&1
  t1=$(date +%s.%N)
  write_times+=("$(echo "$t1 - $t0" | bc -l)")
done
curl_best=$(printf '%s\n' "${curl_times[@]}" | best)
fetch_best=$(printf '%s\n' "${fetch_times[@]}" | best)
read_best=$(printf '%s\n' "${read_times[@]}" | best)
write_best=$(printf '%s\n' "${write_times[@]}" | best)
"$python" - "$size" "$curl_best" "$fetch_best" "$read_best" "$write_best" <<'PY'
import sys
size, curl, fetch, reads, writes = (int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3]),
                                    float(sys.argv[4]), float(sys.argv[5]))
mb = size / 1e6
print(f"curl          {curl:7.3f} s  {mb / curl:8.1f} MB/s")
print(f"fetch.exe     {fetch:7.3f} s  {mb / fetch:8.1f} MB/s  (whole process under Wine)")
print(f"inetread.exe  {reads:7.3f} s  {mb / reads:8.1f} MB/s  (WinINet reads alone, 51200-byte blocks)")
print(f"inetread.exe  {writes:7.3f} s  {mb / writes:8.1f} MB/s  (the same reads written to a file,"
      " whole process)")
print(f"throughput ratio fetch/curl {curl / fetch:.2f} (goal >= 0.5)")
print(f"throughput ratio (WinINet reads + file writes)/curl {curl / writes:.2f}")
print(f"throughput ratio fetch/inetread {reads / fetch:.2f}")
PY

# ---------------------------------------------------------------- (b)
echo
echo "== (b) peak resident memory (/usr/bin/time -v)"
rss() { /usr/bin/time -v "$@" </dev/null 2>&1 >/dev/null | awk -F': ' '/Maximum resident set size/ {print $2}'; }
trivial_kb=$(rss "$wine" "$build/tools/trivial.exe")
rm -f "$target"
fetch_kb=$(rss "$wine" "$build/tools/fetch.exe" --quiet "$url" "$(winpath "$target")")
cmp -s "$target" "$work/www/big.bin" || { echo "fetch.exe: the downloaded file differs" >&2; exit 1; }
"$python" - "$trivial_kb" "$fetch_kb" <<'PY'
import sys
trivial, fetch = int(sys.argv[1]), int(sys.argv[2])
print(f"trivial.exe  {trivial / 1024:7.1f} MiB")
print(f"fetch.exe    {fetch / 1024:7.1f} MiB")
print(f"difference   {(fetch - trivial) / 1024:7.1f} MiB (goal <= 8)")
PY
echo "inetread.exe $(rss "$wine" "$build/tools/inetread.exe" "$url" | awk '{printf "%7.1f", $1 / 1024}') MiB (WinINet alone)"

# ---------------------------------------------------------------- (c)
echo
echo "== (c) MD5 of the $mib MiB file, best of $runs"
native=$repo/build/native/md5_bench
if [ ! -f "$repo/build/native/CMakeCache.txt" ]; then
  cmake -S "$repo" -B "$repo/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
fi
cmake --build "$repo/build/native" --target md5_bench -j2 >/dev/null || true
if [ -x "$native" ]; then
  md5sum_times=()
  for _ in $(seq "$runs"); do
    t0=$(date +%s.%N)
    sum=$(md5sum "$work/www/big.bin" | cut -c1-32)
    t1=$(date +%s.%N)
    md5sum_times+=("$(echo "$t1 - $t0" | bc -l)")
  done
  ours=$("$native" "$work/www/big.bin" "$runs")
  echo "$ours" | sed -n '2,3p'
  [ "$(echo "$ours" | head -1 | cut -c1-32)" = "$sum" ] || { echo "md5_bench: digest differs from md5sum" >&2; exit 1; }
  "$python" - "$size" "$(printf '%s\n' "${md5sum_times[@]}" | best)" "$(echo "$ours" | awk '/^file:/ {print $(NF-1)}')" <<'PY'
import sys
size, md5sum, ours = int(sys.argv[1]), float(sys.argv[2]), float(sys.argv[3])
theirs = size / 1e6 / md5sum
print(f"md5sum: {theirs:.0f} MB/s")
print(f"throughput ratio md5_bench(file)/md5sum {ours / theirs:.2f} (goal >= 0.85)")
PY
else
  echo "native: skipped ($native not built)"
fi
