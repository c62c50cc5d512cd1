#!/usr/bin/env bash
# Benchmarks. Prints times and ratios; never fails because of a time.
#
#  (a) start-to-exit of prereq.exe (configuration with a log file, no
#      prerequisites) against a GUI program that returns at once, in the same
#      Wine prefix with its server running; goal: ratio <= 1.3
#  (b) parse + load of a configuration with 2,000 prerequisites x 5 search
#      entries, natively and under Wine (bench/native/config_load.cpp)
#  (c) the size of build/prereq.exe
#  (d) downloads and MD5: bench/transfer.sh
#  (e) the install loop over 20 packages against a batch script: bench/chain.sh
#  (f) the basic-UI run: download throughput against quiet mode and the
#      responsiveness of the progress window: bench/basicui.sh
#
# BENCH_RUNS (default 20) sets the number of runs of (a).
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${BENCH_RUNS:-20}
python=/usr/bin/python3
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  build=$repo/build arch=win32 prefix=$repo/build/wine/bench wine=wine
else
  # Wine's i386 loader needs a machine that executes 32-bit x86 code.
  echo "note: this machine cannot execute 32-bit x86 code; (a) and (b) under Wine use the"
  echo "      64-bit test build (build/x64) in a 64-bit prefix"
  build=$repo/build/x64 arch=win64 prefix=$repo/build/wine/bench-win64 wine=/usr/lib/wine/wine64
fi
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export BENCH_WINE=$wine

work=$(mktemp -d /tmp/prereq-bench.XXXXXX)
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
# UTF-8 text on stdin -> UTF-16 LE with byte-order mark and CR LF in $1.
write_utf16() { { printf '\xff\xfe'; sed 's/\r$//; s/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$1"; }

for f in "$build/prereq.exe" "$build/tools/trivial.exe"; do
  [ -f "$f" ] || { echo "bench: $f does not exist (make build)" >&2; exit 1; }
done

echo "== Wine prefix $prefix"
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"' EXIT

# ---------------------------------------------------------------- (a)
cp "$build/prereq.exe" "$work/bench.exe"
cp "$build/tools/trivial.exe" "$work/trivial.exe"
cp "$build/tools/trivialcom.exe" "$work/trivialcom.exe"
printf '[GeneralOptions]\nOptions=q\n[PREREQUISITES]\n[PREREQ_CHAINER]\nLogFile=%s\n' \
  "$(winpath "$work/bench.log")" | write_utf16 "$work/bench.ini.src"
# The program deletes its configuration file at exit ([PREREQ_CHAINER] is
# there): every run starts with a fresh copy, made outside the timed part.
cp "$work/bench.ini.src" "$work/bench.ini"

echo
echo "== (a) start to exit, $runs runs each"
if command -v hyperfine >/dev/null; then
  hyperfine -N --warmup 2 --runs "$runs" --export-json "$work/startup.json" \
    --prepare "cp $work/bench.ini.src $work/bench.ini" \
    "$wine $work/trivial.exe" "$wine $work/bench.exe" >/dev/null
  "$python" - "$work/startup.json" <<'PY'
import json, statistics, sys
r = json.load(open(sys.argv[1]))["results"]
base, prog = (statistics.median(x["times"]) for x in r)
print(f"trivial.exe   median {base * 1000:8.1f} ms")
print(f"prereq.exe    median {prog * 1000:8.1f} ms")
print(f"ratio prereq/trivial {prog / base:.2f} (goal <= 1.3)")
PY
else
  "$python" - "$runs" "$work/trivial.exe" "$work/bench.exe" "$work/trivialcom.exe" <<'PY'
import os, shutil, statistics, subprocess, sys, time
wine = os.environ["BENCH_WINE"]
runs, programs = int(sys.argv[1]), sys.argv[2:]
def once(exe):
    shutil.copyfile(programs[1][:-4] + ".ini.src", programs[1][:-4] + ".ini")
    t = time.perf_counter()
    subprocess.run([wine, exe], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - t
for exe in programs:          # warm-up: page cache, wineserver state
    once(exe); once(exe)
times = {exe: [] for exe in programs}
for _ in range(runs):         # interleaved, so drifts hit both alike
    for exe in programs:
        times[exe].append(once(exe))
base, prog, com = (statistics.median(times[e]) for e in programs)
print(f"trivial.exe   median {base * 1000:8.1f} ms  (min {min(times[programs[0]]) * 1000:.1f})")
print(f"prereq.exe    median {prog * 1000:8.1f} ms  (min {min(times[programs[1]]) * 1000:.1f})")
print(f"trivialcom.exe median {com * 1000:7.1f} ms  (trivial + CoInitialize, which every start does)")
print(f"ratio prereq/trivial {prog / base:.2f} (goal <= 1.3)")
print(f"ratio prereq/trivialcom {prog / com:.2f}")
PY
fi

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
echo "== (f) basic-UI run: progress window and download"
"$repo/bench/basicui.sh"
