#!/usr/bin/env bash
# Installs the Debian packages needed to build and test prereq.exe.
# Idempotent: only missing packages are installed, and the package lists are
# refreshed only when something has to be installed.
#
#   scripts/install-deps.sh           everything (build, Wine, test tools)
#   scripts/install-deps.sh --build   only what building needs
#   scripts/install-deps.sh --fuzz    only what the fuzz targets need
#   scripts/install-deps.sh --demo    only what make demo needs (the cross
#                                     compilers, Wine, an X server, wixl)
#
# wine32:i386 (and the i386 architecture) is asked for only where this machine
# executes 32-bit x86 code (scripts/runs-x86.sh; PREREQ_NO_X86=1 says it does
# not): elsewhere it is of no use, and one i386 index that fails to download
# would keep apt from resolving it at all.
#
# A package index that fails to download ("Mirror sync in progress?") makes
# apt-get update exit 100 although the other lists arrived: the update is tried
# three times, then the install goes on with the lists there are. Only a failed
# install fails this script.
set -euo pipefail

BUILD_PKGS=(cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix googletest)
# make fuzz: clang, its libFuzzer and sanitizer runtimes (libclang-rt-dev:
# libclang_rt.fuzzer and friends of Debian's default clang), and libcrypto's
# headers for the second MD5 implementation of the differential target.
FUZZ_PKGS=(cmake make clang libclang-rt-dev libssl-dev)
DEMO_PKGS=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix
           wine wine64 xvfb xauth wixl)
ALL_PKGS=(cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix googletest
          wine wine64 xvfb xauth wixl msitools
          python3-pytest python3-pyftpdlib python3-jsonschema imagemagick
          clang libclang-rt-dev libssl-dev
          osslsigncode)

case "${1:-}" in
  # The x86-64 compiler builds the 64-bit test build (build/x64) for machines
  # that cannot execute 32-bit x86 code.
  --build) wanted=("${BUILD_PKGS[@]}") ;;
  --fuzz) wanted=("${FUZZ_PKGS[@]}") ;;
  --demo) wanted=("${DEMO_PKGS[@]}") ;;
  ""|--all) wanted=("${ALL_PKGS[@]}") ;;
  -h|--help) sed -n '2,22p' "$0"; exit 0 ;;
  *) echo "usage: $0 [--build|--fuzz|--demo]" >&2; exit 2 ;;
esac

# Wine's 32-bit half, where 32-bit code runs.
case "${1:-}" in
  ""|--all|--demo)
    if "$(dirname "$0")/runs-x86.sh"; then wanted+=(wine32:i386); fi ;;
esac

installed() {
  # "dpkg -s" also knows packages that were removed but left their
  # configuration behind: only "install ok installed" counts.
  dpkg -s "$1" 2>/dev/null | grep -qx 'Status: install ok installed'
}

missing=()
for p in "${wanted[@]}"; do
  installed "$p" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: all ${#wanted[@]} packages present"
  exit 0
fi

echo "install-deps: missing: ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
# Another apt may hold the lock (unattended upgrades, a parallel install):
# wait for it instead of failing.
APT=(apt-get -y -q -o DPkg::Lock::Timeout=900)

for p in "${missing[@]}"; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    break
  fi
done

# apt-get update exits 100 when any one index fails, yet keeps the lists that
# arrived. Try a few times, then go on with what there is.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
for attempt in 1 2 3; do
  if "${APT[@]}" update </dev/null 2>&1 | tee "$log"; then
    break
  fi
  failed=$(grep -E '^(E|W): (Failed to fetch|Some index files failed)' "$log" |
           grep -oE '(https?|ftp)://[^ ]+' | sort -u || true)
  echo "install-deps: apt-get update failed (attempt $attempt of 3) for:" >&2
  if [ -n "$failed" ]; then
    printf '  %s\n' $failed >&2
  else
    echo "  (no index named; see the output above)" >&2
  fi
  if [ $attempt -lt 3 ]; then
    sleep 5
  else
    echo "install-deps: going on with the package lists that did arrive" >&2
  fi
done

install_rc=0
"${APT[@]}" install "${missing[@]}" </dev/null || install_rc=$?

still=()
for p in "${missing[@]}"; do
  installed "$p" || still+=("$p")
done
if [ ${#still[@]} -ne 0 ] || [ $install_rc -ne 0 ]; then
  echo "install-deps: apt-get install exited $install_rc; still missing: ${still[*]:-none}" >&2
  exit 1
fi
echo "install-deps: installed ${missing[*]}"
