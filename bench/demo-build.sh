#!/usr/bin/env bash
# What `make demo` builds on a fresh machine, against `make build`: the
# compile steps of each, counted in a freshly configured build folder (a dry
# run). Goal: make demo builds only what the demo runs (prereq.exe and
# runwait.exe), none of the unit tests and test tools.
#
# BENCH_DEMO_BUILD=1 also builds both from scratch (-j2) and prints the times.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
targets=$(sed -n 's/^DEMO_TARGETS *:= *//p' "$repo/Makefile")
toolchain=$repo/cmake/toolchain-mingw-i686.cmake
"$repo/scripts/runs-x86.sh" --wine || toolchain=$repo/cmake/toolchain-mingw-x86_64.cmake
work=$(mktemp -d /tmp/prereq-demo-build.XXXXXX)
trap 'rm -rf "$work"' EXIT

cmake -S "$repo" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" >/dev/null
# The steps of a set of targets: their objects and links, with every target
# they depend on (CMakeFiles/Makefile2 holds the dependencies, each
# target's build.make its objects).
/usr/bin/python3 - "$work/build" $targets <<'PY'
import re, sys
from pathlib import Path
build, targets = Path(sys.argv[1]), sys.argv[2:]
deps = {}
for line in (build / "CMakeFiles" / "Makefile2").read_text().splitlines():
    m = re.match(r"^(\S+)/all: (\S+)/all$", line)
    if m:
        deps.setdefault(m.group(1), set()).add(m.group(2))
    m = re.match(r"^all: (\S+)/all$", line)
    if m:
        deps.setdefault("all", set()).add(m.group(1))
def closure(roots):
    seen, todo = set(), list(roots)
    while todo:
        t = todo.pop()
        if t not in seen:
            seen.add(t)
            todo += deps.get(t, ())
    return seen - {"all"}
def steps(dirs):
    count = 0
    for d in dirs:
        make = build / d / "build.make"
        if make.exists():
            objects = set(re.findall(r"^(\S+\.(?:obj|res|o)):", make.read_text(), re.M))
            count += len(objects) + 1  # its objects and its link (or archive)
    return count
demo = closure([f"CMakeFiles/{t}.dir" for t in targets])
everything = closure(["all"])
a, b = steps(demo), steps(everything)
print(f"make demo builds: {' '.join(targets)} ({len(demo)} targets, {a} compile and link steps)")
print(f"make build:       {len(everything)} targets, {b} compile and link steps (the program, test tools,"
      " unit tests)")
print(f"make demo does {a * 100 // b}% of the steps of make build (goal: only what the demo runs)")
PY

if [ "${BENCH_DEMO_BUILD:-}" = 1 ]; then
  t0=$(date +%s.%N)
  cmake --build "$work/build" -j2 --target $targets >/dev/null
  t1=$(date +%s.%N)
  cmake --build "$work/build" -j2 >/dev/null
  t2=$(date +%s.%N)
  echo "from scratch, -j2: make demo's targets $(echo "$t1 - $t0" | bc -l | cut -c1-6) s;" \
       "the rest of make build another $(echo "$t2 - $t1" | bc -l | cut -c1-6) s"
fi
