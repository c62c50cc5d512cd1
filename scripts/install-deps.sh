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
set -euo pipefail

BUILD_PKGS=(cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix googletest)
# make fuzz: clang, its libFuzzer and sanitizer runtimes (libclang-rt-dev:
# libclang_rt.fuzzer and friends of Debian's default clang), and libcrypto's
# headers for the second MD5 implementation of the differential target.
FUZZ_PKGS=(cmake make clang libclang-rt-dev libssl-dev)
DEMO_PKGS=(cmake make g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix
           wine wine32:i386 wine64 xvfb xauth wixl)
ALL_PKGS=(cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64-posix googletest
          wine wine32:i386 wine64 xvfb xauth wixl msitools
          python3-pytest python3-pyftpdlib imagemagick
          clang libclang-rt-dev libssl-dev)

case "${1:-}" in
  # The x86-64 compiler builds the 64-bit test build (build/x64) for machines
  # that cannot execute 32-bit x86 code.
  --build) wanted=("${BUILD_PKGS[@]}") ;;
  --fuzz) wanted=("${FUZZ_PKGS[@]}") ;;
  --demo) wanted=("${DEMO_PKGS[@]}") ;;
  ""|--all) wanted=("${ALL_PKGS[@]}") ;;
  -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
  *) echo "usage: $0 [--build|--fuzz|--demo]" >&2; exit 2 ;;
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

"${APT[@]}" update </dev/null
"${APT[@]}" install "${missing[@]}" </dev/null

still=()
for p in "${missing[@]}"; do
  installed "$p" || still+=("$p")
done
if [ ${#still[@]} -ne 0 ]; then
  echo "install-deps: still missing after install: ${still[*]}" >&2
  exit 1
fi
echo "install-deps: installed ${missing[*]}"
