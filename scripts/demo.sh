#!/usr/bin/env bash
# Runs build/prereq.exe once under Wine the way an installation would: a copy
# named demo.exe in a folder of its own, with demo.ini beside it.
#
# examples/demo.ini is kept as UTF-8 text; the program reads UTF-16 LE with a
# byte-order mark and CR LF line ends, so it is converted here. @DEMO_DIR@ in
# it stands for the Windows path of the demo folder.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

# Windows programs may open windows: give them a display.
if [ -z "${DISPLAY:-}" ] && [ -z "${PREREQ_DEMO_IN_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
  PREREQ_DEMO_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  build=$repo/build arch=win32 prefix=$repo/build/wine/demo wine=wine
else
  # Wine's i386 loader needs a machine that executes 32-bit x86 code.
  echo "note: this machine cannot execute 32-bit x86 code; the demo runs the 64-bit"
  echo "      test build (build/x64) in a 64-bit Wine prefix"
  build=$repo/build/x64 arch=win64 prefix=$repo/build/wine/demo-win64 wine=/usr/lib/wine/wine64
fi
exe=$build/prereq.exe
runwait=$build/tools/runwait.exe

[ -f "$exe" ] || { echo "demo: $exe does not exist (make build)" >&2; exit 1; }

work=$(mktemp -d /tmp/prereq-demo.XXXXXX)
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

echo "== Wine prefix $prefix ($arch; the first start takes a few seconds)"
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"' EXIT

export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

cp "$exe" "$work/demo.exe"
config=$(<"$repo/examples/demo.ini")
config=${config//@DEMO_DIR@/$(winpath "$work")}
{ printf '\xff\xfe'; printf '%s\n' "$config" | sed 's/\r$//; s/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } \
  >"$work/demo.ini"

echo "== $work/demo.ini"
printf '%s\n' "$config"
echo
echo "== wine $(winpath "$work")\\demo.exe"
start=$(date +%s.%N)
set +e
if [ -f "$runwait" ]; then
  # runwait prints the full 32-bit exit code (Wine passes on only 8 bits).
  (cd "$work" && "$wine" "$runwait" "$(winpath "$work/demo.exe")" </dev/null >"$work/run.out" 2>&1)
  status=$?
  code=$(sed -n 's/^exit=\(-\{0,1\}[0-9]*\).*/\1/p' "$work/run.out")
else
  (cd "$work" && "$wine" "$work/demo.exe" </dev/null >"$work/run.out" 2>&1)
  status=$?
  code=""
fi
set -e
end=$(date +%s.%N)

echo
if [ -f "$work/demo.log" ]; then
  echo "== $work/demo.log"
  # UTF-16 LE with byte-order mark -> UTF-8 for the terminal.
  iconv -f UTF-16 -t UTF-8 "$work/demo.log" | sed 's/\r$//'
else
  echo "== no log was written ($work/demo.log missing)"
fi
echo "== exit code: ${code:-$status} (Wine status $status, $(awk "BEGIN{printf \"%.2f\", $end-$start}") s)"
echo "== files left in $work"
