#!/bin/sh
# Exits 0 when this machine executes 32-bit x86 code, 1 when it does not.
#
# Some of our machines boot a kernel without IA-32 emulation: Wine's i386
# loader, and with it every 32-bit Windows program (also under WOW64), fails
# there with "Exec format error". The probe needs nothing installed: it writes
# a 32-bit ELF program of 96 bytes (one ELF header, one program header, and
# "mov eax,1; mov ebx,0; int 0x80", i.e. exit(0)) and runs it.
#
#   scripts/runs-x86.sh          the machine runs 32-bit x86 code
#   scripts/runs-x86.sh --wine   ... and Wine's i386 loader runs too, i.e.
#                                32-bit Windows programs can be tested here
#
# PREREQ_NO_X86=1 answers "no" without probing, so that a machine that can run
# 32-bit code takes exactly the path of one that cannot (builds, prefixes,
# unit tests, end-to-end tests, benchmarks, the demo).
case "${PREREQ_NO_X86:-}" in
  ""|0) ;;
  *) exit 1 ;;
esac
probe=$(mktemp "${TMPDIR:-/tmp}/runs-x86.XXXXXX") || exit 1
trap 'rm -f "$probe"' EXIT
# ELF header: 32-bit, little-endian, executable, i386, entry 0x08048054,
# program headers at 0x34.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$probe"
printf '\002\000\003\000\001\000\000\000\124\200\004\010\064\000\000\000' >>"$probe"
printf '\000\000\000\000\000\000\000\000\064\000\040\000\001\000\000\000' >>"$probe"
printf '\000\000\000\000' >>"$probe"
# One loadable segment: the whole file at 0x08048000, read and execute.
printf '\001\000\000\000\000\000\000\000\000\200\004\010\000\200\004\010' >>"$probe"
printf '\140\000\000\000\140\000\000\000\005\000\000\000\000\020\000\000' >>"$probe"
# mov eax,1; mov ebx,0; int 0x80
printf '\270\001\000\000\000\273\000\000\000\000\315\200' >>"$probe"
chmod 700 "$probe"
"$probe" >/dev/null 2>&1 || exit 1
if [ "${1:-}" = --wine ]; then
  /usr/lib/wine/wine --version >/dev/null 2>&1 || exit 1
fi
exit 0
