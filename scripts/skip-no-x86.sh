#!/bin/sh
# Stands in for the tests of the 32-bit build on a machine whose kernel cannot
# execute 32-bit x86 code: Wine's i386 loader does not start there.
echo "skipped: this machine cannot execute 32-bit x86 code (the i386 Wine loader fails)"
exit 77
