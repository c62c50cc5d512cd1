#!/usr/bin/env bash
# The main job, once, under Wine, the way an installation runs it: a copy of
# the program named demo.exe in a folder of its own with demo.ini beside it,
# in quiet mode. Its one mandatory prerequisite is a Windows Installer package
# (built here from examples/demo-package.wxs with wixl) served by an HTTP
# server on 127.0.0.1: the program finds it missing, downloads it, accepts it
# by size and MD5, installs it with msiexec, detects it again, and exits 0.
#
# examples/demo.ini is kept as UTF-8 text; the program reads UTF-16 LE with a
# byte-order mark and CR LF line ends, so it is converted here. @DEMO_DIR@,
# @URL@, @MD5@ and @SIZE@ in it are filled in here.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)

# Windows programs may open windows: give them a display.
if [ -z "${DISPLAY:-}" ] && [ -z "${PREREQ_DEMO_IN_XVFB:-}" ] && command -v xvfb-run >/dev/null; then
  PREREQ_DEMO_IN_XVFB=1 exec xvfb-run -a "$0" "$@"
fi

if "$repo/scripts/runs-x86.sh" --wine; then
  build=$repo/build arch=win32 prefix=$repo/build/wine/demo wine=wine
else
  # Wine's i386 loader needs a machine that executes 32-bit x86 code.
  echo "note: this machine cannot execute 32-bit x86 code; the demo runs the 64-bit"
  echo "      test build (build/x64) in a 64-bit Wine prefix"
  build=$repo/build/x64 arch=win64 prefix=$repo/build/wine/demo-win64 wine=/usr/lib/wine/wine64
fi
build=${PREREQ_DEMO_BUILD:-$build}
exe=$build/prereq.exe
runwait=$build/tools/runwait.exe

[ -f "$exe" ] || { echo "demo: $exe does not exist (make build)" >&2; exit 1; }

work=$(mktemp -d /tmp/prereq-demo.XXXXXX)
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }

echo "== Wine prefix $prefix ($arch; the first start takes a few seconds)"
"$repo/scripts/wine-prefix.sh" start "$prefix" "$arch"
trap '"$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"' EXIT

export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

product="{4D2B8A61-7C3E-4F19-A5B0-93E6D1C27F48}"

echo "== the prerequisite: $work/www/runtime.msi (wixl)"
mkdir -p "$work/www"
(cd "$repo/examples" && wixl -o "$work/www/runtime.msi" demo-package.wxs)
size=$(stat -c %s "$work/www/runtime.msi")
md5=$(md5sum "$work/www/runtime.msi" | cut -d' ' -f1)
echo "   $size bytes, MD5 $md5"

# A loopback HTTP server on a free port; it logs every request.
/usr/bin/python3 - "$work/www" >"$work/port" 2>"$work/server.log" <<'PY' &
import functools, http.server, sys
handler = functools.partial(http.server.SimpleHTTPRequestHandler, directory=sys.argv[1])
httpd = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
print(httpd.server_address[1], flush=True)
httpd.serve_forever()
PY
server=$!
trap 'kill $server 2>/dev/null; "$repo/scripts/wine-prefix.sh" stop "$prefix" "$arch"' EXIT
for _ in $(seq 50); do [ -s "$work/port" ] && break; sleep 0.1; done
url="http://127.0.0.1:$(<"$work/port")/runtime.msi"
echo "== serving $url"

# A clean start: the product of an earlier demo run is removed first.
"$wine" msiexec /x "$product" /qn </dev/null >/dev/null 2>&1 || true

cp "$exe" "$work/demo.exe"
config=$(grep -v '^;' "$repo/examples/demo.ini")
config=${config//@DEMO_DIR@/$(winpath "$work")}
config=${config//@URL@/$url}
config=${config//@MD5@/$md5}
config=${config//@SIZE@/$size}
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
echo "== requests the server answered"
sed 's/^/   /' "$work/server.log"
echo "== Windows Installer after the run"
if "$wine" reg query 'HKCU\Software\Microsoft\Installer\Products' /s </dev/null 2>/dev/null |
     grep -q "Prereq Demo Runtime"; then
  echo "   Prereq Demo Runtime is installed (product $product)"
else
  echo "   Prereq Demo Runtime is NOT installed"
fi
echo "== exit code: ${code:-$status} (Wine status $status, $(awk "BEGIN{printf \"%.2f\", $end-$start}") s)"
echo "== files left in $work"
[ "${code:-$status}" = 0 ]
