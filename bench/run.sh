#!/usr/bin/env bash
# Benchmarks. Prints times and ratios, each with its goal; never fails
# because of a time.
#
#  (a) start-to-exit of prereq.exe (configuration with a log file, no
#      prerequisites), quiet and with its status window, in a prefix with a
#      virtual desktop (without one, closing a window under Xvfb waits 2 s),
#      against trivialcom.exe (a GUI program that initialises COM, as every
#      start does); goal: ratio <= 1.1 for both. For reference also
#      trivialdialog.exe: trivialcom plus a dialog like the status window
#      (common controls 6), the floor of any program that shows one.
#  (b) parse + load of a configuration with 2,000 prerequisites x 5 search
#      entries, natively and under Wine (bench/native/config_load.cpp)
#  (c) the size of build/prereq.exe
#  (d) the transfer engine alone: downloads and MD5 against curl and md5sum
#      (bench/transfer.sh)
#  (e) the install loop over 20 packages against a batch script: bench/chain.sh
#  (f) a 256 MiB download by the real program in a quiet run against curl,
#      and the same run with MD5 against without: bench/download.sh
#  (g) 500 prerequisites x 4 registry searches: the run with a log against
#      without: bench/evaluation.sh
#  (h) what make demo builds
#  (i) the basic-UI run: download throughput against quiet mode and the
#      responsiveness of the progress window: bench/basicui.sh
#  (j) the overlapped run (option "o") against the plain quiet run: four
#      64 MiB downloads at 20 MB/s per connection, packages of about 1 s:
#      bench/overlap.sh
#
# BENCH_RUNS (default 20) sets the number of runs of (a).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
# The status window needs an X display.
if [ -z "${DISPLAY:-}" ] && [ -z "${PREREQ_BENCH_IN_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
  PREREQ_BENCH_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi
runs=${BENCH_RUNS:-20}
python=/usr/bin/python3
. "$repo/bench/common.sh"
echo "measuring $build/prereq.exe in a $arch prefix"
export BENCH_WINE=$wine

work=$(mktemp -d /tmp/prereq-bench.XXXXXX)

for f in "$build/prereq.exe" "$build/tools/trivial.exe" "$build/tools/trivialcom.exe" \
         "$build/tools/trivialdialog.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done

echo "== Wine prefix $prefix"
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"' EXIT

# ---------------------------------------------------------------- (a)
cp "$build/prereq.exe" "$work/quiet.exe"
cp "$build/prereq.exe" "$work/window.exe"
cp "$build/tools/trivialcom.exe" "$work/trivialcom.exe"
cp "$build/tools/trivialdialog.exe" "$work/trivialdialog.exe"
cp "$repo/src/resources/prereq.manifest" "$work/prereq.manifest"
for kind in quiet window; do
  options=q
  [ "$kind" = window ] && options=
  printf '[GeneralOptions]\nOptions=%s\n[PREREQUISITES]\n[PREREQ_CHAINER]\nLogFile=%s\n' \
    "$options" "$(winpath "$work/$kind.log")" | write_utf16 "$work/$kind.ini.src"
done

# The test prefixes show their windows on a virtual desktop (without one,
# closing a window under Xvfb waits 2 s): scripts/wine-prefix.sh sets it up.
echo
echo "== (a) start to exit, $runs runs each"
"$python" - "$runs" "$work" <<'PY'
import os, shutil, statistics, subprocess, sys, time
from pathlib import Path
wine = os.environ["BENCH_WINE"]
runs, work = int(sys.argv[1]), Path(sys.argv[2])
programs = {
    "trivialcom.exe": [str(work / "trivialcom.exe")],
    "trivialdialog.exe": [str(work / "trivialdialog.exe"), "Z:" + str(work / "prereq.manifest").replace("/", "\\")],
    "prereq.exe quiet": [str(work / "quiet.exe")],
    "prereq.exe window": [str(work / "window.exe")],
}
def once(args):
    # The program deletes its configuration at exit ([PREREQ_CHAINER] is
    # there): every run gets a fresh copy, made outside the timed part.
    for kind in ("quiet", "window"):
        shutil.copyfile(work / f"{kind}.ini.src", work / f"{kind}.ini")
    t = time.perf_counter()
    subprocess.run([wine, *args], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - t
for args in programs.values():   # warm-up: page cache, wineserver state, the desktop
    once(args); once(args)
times = {name: [] for name in programs}
for _ in range(runs):            # interleaved, so drifts hit all alike
    for name, args in programs.items():
        times[name].append(once(args))
med = {name: statistics.median(t) for name, t in times.items()}
for name in programs:
    print(f"{name:18s} median {med[name] * 1000:7.1f} ms  (min {min(times[name]) * 1000:.1f})")
base = med["trivialcom.exe"]
print(f"ratio prereq quiet/trivialcom  {med['prereq.exe quiet'] / base:.2f} (goal <= 1.1)")
print(f"ratio prereq window/trivialcom {med['prereq.exe window'] / base:.2f} (goal <= 1.1)")
print(f"ratio prereq window/trivialdialog {med['prereq.exe window'] / med['trivialdialog.exe']:.2f}"
      " (the same window shown by a program that does nothing else)")
PY

# ---------------------------------------------------------------- (b)
echo
echo "== (b) configuration parse + load: 2,000 prerequisites x 5 search entries"
"$python" - <<'PY' | write_utf16 "$work/big.ini"
n, searches = 2000, 5
out = ["[GeneralOptions]", "Options=q", "ProductVersion=1.0.0",
       "DefaultProdCode={6F1D2C3B-5A4E-4B7C-9D8E-0F1A2B3C4D5E}", "", "[PREREQUISITES]"]
out += [f"App{i}=Prereq{i}" for i in range(1, n + 1)]
for i in range(1, n + 1):
    out += ["", f"[App{i}]",
            f"DisplayName=Runtime component {i}",
            f"SetupFile=[SETUPEXEDIR]\\redist\\component{i}.exe",
            "VerMin=1.0", "VerMax=99.0",
            "CommandLine=/install", "BasicUiCommandLine=/passive", "NoUiCommandLine=/quiet /norestart",
            "Options=m", f"RetValPropName=COMPONENT{i}_RET", "LanguageList=1033",
            "WinNTVersions=Windows 7 RTM x86", "Operator=1"]
    for k in range(1, searches + 1):
        out += [f"SearchType{k}={k % 4}",
                f"SearchString{k}=HKEY_LOCAL_MACHINE\\SOFTWARE\\Vendor\\Component{i}\\Sub{k}@Version",
                f"VerMin{k}=1.{k}.0.0", f"VerMax{k}=9.{k}.0.0",
                f"RefContent{k}=", f"SearchCmdLine{k}="]
out += ["", "[PREREQ_CHAINER]", "CleanupFiles=", "CleanupFolders="]
print("\n".join(out))
PY
echo "config: $(stat -c %s "$work/big.ini") bytes"

native=$repo/build/native/config_load
if [ -f "$repo/bench/native/config_load.cpp" ]; then
  if [ ! -f "$repo/build/native/CMakeCache.txt" ]; then
    cmake -S "$repo" -B "$repo/build/native" -DCMAKE_BUILD_TYPE=Debug >/dev/null
  fi
  cmake --build "$repo/build/native" --target config_load -j2 >/dev/null || true
fi
if [ -x "$native" ]; then
  echo "native:      $("$native" "$work/big.ini" </dev/null 2>&1 | tail -1)"
else
  echo "native:      skipped ($native not built)"
fi
if [ -f "$build/bench/config_load.exe" ]; then
  echo "under Wine:  $("$wine" "$build/bench/config_load.exe" "$(winpath "$work/big.ini")" </dev/null 2>&1 | tr -d '\r' | tail -1)"
else
  echo "under Wine:  skipped ($build/bench/config_load.exe not built)"
fi

# ---------------------------------------------------------------- (c)
echo
echo "== (c) size"
for exe in "$repo/build/prereq.exe" "$repo/build/x64/prereq.exe"; do
  [ -f "$exe" ] || continue
  size=$(stat -c %s "$exe")
  echo "${exe#"$repo"/}: $size bytes ($(( (size + 1023) / 1024 )) KiB)"
done

rm -rf "$work"

# ---------------------------------------------------------------- (d)
echo
"$repo/bench/transfer.sh"

# ---------------------------------------------------------------- (e)
echo
echo "== (e) install loop: 20 shipped packages against a batch script"
"$repo/bench/chain.sh"

# ---------------------------------------------------------------- (f)
echo
echo "== (f) a 256 MiB download by prereq.exe in a quiet run, against curl"
"$repo/bench/download.sh"

# ---------------------------------------------------------------- (g)
echo
echo "== (g) the log's cost in a large evaluation"
"$repo/bench/evaluation.sh"

# ---------------------------------------------------------------- (h)
echo
echo "== (h) what make demo builds"
"$repo/bench/demo-build.sh"

# ---------------------------------------------------------------- (i)
echo
echo "== (i) basic-UI run: progress window and download"
"$repo/bench/basicui.sh"

# ---------------------------------------------------------------- (j)
echo
echo "== (j) overlapped run: four downloads ahead of the install loop"
"$repo/bench/overlap.sh"
