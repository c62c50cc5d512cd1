#!/bin/sh
# Runs its arguments as a command where this machine executes 32-bit x86 code
# and Wine's i386 loader starts (scripts/runs-x86.sh --wine); elsewhere, or
# with PREREQ_NO_X86=1, reports a skip to CTest (exit 77) instead.
if ! "$(dirname "$0")/runs-x86.sh" --wine; then
  echo "skipped: this machine cannot execute 32-bit x86 code (or PREREQ_NO_X86 is set)"
  exit 77
fi
exec "$@"
