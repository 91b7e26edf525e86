#!/usr/bin/env bash
# Builds what no test program runs, while the tests run (they wait on Wine much
# of the time): the 32-bit product and its package, then the rest of the 64-bit
# tree (its packages, which take the 32-bit files, and the benchmarks). The
# package tests and the import check wait for it (tests/CMakeLists.txt); run
# alone it is the same as building both presets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/configure.sh x86
for preset in x86 x64; do nice -n 10 cmake --build --preset "$preset" -j"$(nproc)"; done
