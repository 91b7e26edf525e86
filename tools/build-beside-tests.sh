#!/usr/bin/env bash
# Builds, while the tests run (they wait on Wine much of the time), what the
# first tests do not run:
#   build-beside-tests.sh TARGET   that target of the 64-bit tree (the test
#                                  program, whose cases wait for it)
#   build-beside-tests.sh          the 32-bit product and its package, then the
#                                  rest of the 64-bit tree (its packages, which
#                                  take the 32-bit files, and the benchmarks),
#                                  at a lower priority; the package tests and
#                                  the import check wait for it
# Builds of the 64-bit tree take turns: two at once in one tree would write the
# same files. Run alone, the second form is the same as building both presets.
set -euo pipefail
cd "$(dirname "$0")/.."
lock=build/x64/.building
if [ $# -gt 0 ]; then
  exec flock "$lock" cmake --build --preset x64 -j"$(nproc)" --target "$1"
fi
bash tools/configure.sh x86
nice -n 10 cmake --build --preset x86 -j"$(nproc)"
nice -n 10 flock "$lock" cmake --build --preset x64 -j"$(nproc)"
