#!/usr/bin/env bash
# Starts or stops a Wine prefix used by the tests.
#
#   scripts/wine-prefix.sh start <dir> <win32|win64>
#   scripts/wine-prefix.sh stop  <dir> [win32|win64]
#
# start creates the prefix when it does not exist yet (first boot: ~7 s for
# win32, ~15 s for win64) and makes sure its wineserver and the services that
# wineboot starts are running. Every Wine process started here gets /dev/null
# as stdin/stdout/stderr: wineserver and winedevice.exe outlive this script,
# and a runner that waits for EOF on our stdout (CTest, pytest) would hang if
# they kept it.
set -euo pipefail

usage() { echo "usage: $0 start|stop <dir> <win32|win64>" >&2; exit 2; }

[ $# -ge 2 ] || usage
action=$1
dir=$(realpath -m -- "$2")
arch=${3:-}

export WINEPREFIX="$dir"
export WINEDEBUG=-all
# No prompts for installing Mono or Gecko.
export WINEDLLOVERRIDES="mscoree,mshtml="

# Wine's i386 loader needs a kernel that executes 32-bit x86 code; where it
# cannot, a 64-bit prefix is booted with the 64-bit loader alone.
wine_for() {
  if [ "$1" = win64 ] && ! "$(dirname "$0")/runs-x86.sh" --wine; then
    echo /usr/lib/wine/wine64
  else
    echo wine
  fi
}

# Boots the prefix (wineboot -i), up to 3 times: a boot now and then fails
# although nothing is wrong with the prefix (the host loader's assertion in
# dl-fini.c, exit code 127, has been seen to end Wine processes here as they
# exit). Booting again completes whatever the failed boot left undone.
boot() {
  local wine attempt rc out
  wine=$(wine_for "$1")
  # A file, not a pipe: the services wineboot starts keep it open.
  out=$(mktemp)
  for attempt in 1 2 3; do
    rc=0
    "$wine" wineboot -i </dev/null >"$out" 2>&1 || rc=$?
    if [ "$rc" -eq 0 ]; then rm -f "$out"; return 0; fi
    echo "wine-prefix: wineboot attempt $attempt failed in $dir ($1), exit code $rc:" >&2
    tail -n 5 "$out" >&2 || true
    wineserver -k </dev/null >/dev/null 2>&1 || true
    timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
    wineserver -p </dev/null >/dev/null 2>&1 || true
  done
  rm -f "$out"
  return 1
}

# Windows of the prefix appear on a virtual desktop of its own (1024x768).
# Without one, under Xvfb with no window manager, every hide or close of a
# top-level window blocks about 2 s in Wine's X11 driver, and windows have no
# title bars in screenshots. Set once per prefix; the server is restarted so
# that the desktop process starts with the setting.
use_virtual_desktop() {
  [ -f "$dir/.virtual-desktop" ] && return 0
  local wine
  wine=$(wine_for "$1")
  "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
    </dev/null >/dev/null 2>&1 &&
  "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
    </dev/null >/dev/null 2>&1 || {
    echo "wine-prefix: cannot set the virtual desktop of $dir" >&2
    exit 1
  }
  wineserver -k </dev/null >/dev/null 2>&1 || true
  timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
  wineserver -p </dev/null >/dev/null 2>&1 || true
  boot "$1" || {
    echo "wine-prefix: wineboot failed in $dir ($1) after setting the desktop" >&2
    exit 1
  }
  touch "$dir/.virtual-desktop"
}

case "$action" in
  start)
    case "$arch" in win32|win64) ;; *) usage ;; esac
    export WINEARCH="$arch"
    if [ -f "$dir/system.reg" ] && [ -f "$dir/.prefix-arch" ] &&
       [ "$(cat "$dir/.prefix-arch")" != "$arch" ]; then
      echo "wine-prefix: $dir is a $(cat "$dir/.prefix-arch") prefix, not $arch" >&2
      exit 1
    fi
    if [ "$arch" = win32 ] && ! "$(dirname "$0")/runs-x86.sh" --wine; then
      echo "wine-prefix: no win32 prefix here: this machine cannot execute 32-bit x86 code" \
           "(the i386 Wine loader fails)" >&2
      exit 1
    fi
    mkdir -p "$dir"
    # Persistent server: it stays up between the test programs until "stop".
    wineserver -p </dev/null >/dev/null 2>&1 || true
    if ! boot "$arch"; then
      echo "wine-prefix: wineboot failed in $dir ($arch)" >&2
      exit 1
    fi
    if [ ! -d "$dir/drive_c/windows" ]; then
      echo "wine-prefix: $dir was not created" >&2
      exit 1
    fi
    use_virtual_desktop "$arch"
    echo "$arch" >"$dir/.prefix-arch"
    ;;
  stop)
    [ -n "$arch" ] && export WINEARCH="$arch"
    if [ -d "$dir" ]; then
      wineserver -k </dev/null >/dev/null 2>&1 || true
      # Wait until the server is gone so that the prefix can be reused or
      # removed right away.
      timeout 30 wineserver -w </dev/null >/dev/null 2>&1 || true
    fi
    ;;
  *) usage ;;
esac
