# Sourced by the benchmark scripts: which build runs in which Wine prefix,
# and two small helpers. Sets build, arch, prefix and wine and exports the
# Wine environment: the shipped 32-bit build (build/) in a 32-bit prefix, or,
# where this machine cannot execute 32-bit x86 code (Wine's i386 loader
# fails), the 64-bit test build (build/x64) in a 64-bit prefix.
# PREREQ_BENCH_BUILD=<folder> measures another build in the same prefix.
# Needs `repo` set to the checkout.
if "$repo/scripts/runs-x86.sh" --wine; then
  build=$repo/build arch=win32 prefix=$repo/build/wine/bench wine=wine
else
  echo "note: this machine cannot execute 32-bit x86 code; the 64-bit test build"
  echo "      (build/x64) runs in a 64-bit prefix"
  build=$repo/build/x64 arch=win64 prefix=$repo/build/wine/bench-win64 wine=/usr/lib/wine/wine64
fi
build=${PREREQ_BENCH_BUILD:-$build}
export WINEPREFIX=$prefix WINEARCH=$arch WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

# A Linux path as Wine's Z: drive shows it.
winpath() { local p=${1//\//\\}; printf 'Z:%s' "$p"; }
# Standard input as a configuration file: UTF-16 LE with a byte-order mark,
# CR LF line ends.
write_utf16() { { printf '\xff\xfe'; sed 's/\r$//; s/$/\r/' | iconv -f UTF-8 -t UTF-16LE; } >"$1"; }
