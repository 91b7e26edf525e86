#!/usr/bin/env bash
# The fault suite, full form: every fault in a process of its own, one table at
# the end (faults tried, crashes, hangs past the bound, half-written state).
# The test command runs the short form (FaultSuite.ShortForm.*, its groups in
# four parts side by side).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/configure.sh x64
cmake --build --preset x64 -j"$(nproc)" --target FaultSuite
. tools/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$PWD/build/x64/wineprefix"
# Through a file: the Words a launch starts inherit the output.
wine build/x64/bin/FaultSuite.exe --full >build/x64/faults.txt 2>&1 || status=$?
tr -d '\r' <build/x64/faults.txt
exit "${status:-0}"
