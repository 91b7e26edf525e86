#!/usr/bin/env bash
# Builds both architectures and runs every test under Wine (x64).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/check-layers.sh
python3 tools/number-steps.py --check
bash tools/configure.sh x64
# The tests' Wine template boots while the build runs (wine_env_start below
# waits for it under the template's lock).
. tools/wine-env.sh
(wine_template "$PWD/build/x64/wine-template" >/dev/null 2>&1 &)
# What the fault suite runs. The rest (the test program, the 32-bit product,
# the packages, the benchmarks) is built by the first tests, beside the fault
# suite, which waits on Wine much of the time (tools/build-beside-tests.sh);
# the tests that need it wait for it.
cmake --build --preset x64 --target test_programs -j"$(nproc)"

# The fault suite's parts and the test program's groups of cases run side by
# side, each in a Wine prefix of its own copied from one booted template
# (tools/wine-env.sh); the cases of one group one after another.
trap wine_env_stop EXIT
wine_env_start "$PWD/build/x64/wineprefix"
ctest --test-dir build/x64 --output-on-failure --timeout 300 -j"$(nproc)"
