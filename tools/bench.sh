#!/usr/bin/env bash
# Builds the x64 benchmarks and runs them under Wine, side by side in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset x64 >/dev/null
cmake --build --preset x64 -j"$(nproc)" --target TraceBench DisabledItemsBench LaunchBench DependencyCheckBench Tamberlux WordStandIn
. tools/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$PWD/build/x64/wineprefix"
echo "== traced procedure vs plain call"; wine build/x64/bin/TraceBench.exe | tr -d '\r'
echo "== disabled-items detection vs bare walk"; wine build/x64/bin/DisabledItemsBench.exe | tr -d '\r'
echo "== the dependency check of the four groups, all present, vs a bare loop of the same calls"
wine build/x64/bin/DependencyCheckBench.exe | tr -d '\r'
echo "== a launch against a running Word: StartRunTime, a minimal client, a script"
wine regsvr32 /s "$(winepath -w build/x64/bin/Tamberlux.dll)"
wine "$(winepath -w build/x64/bin/WordStandIn.exe)" /regserver
# Through a file: the Words the script starts inherit the output.
wine build/x64/bin/LaunchBench.exe >build/x64/launch-bench.txt 2>&1 || true
tr -d '\r' <build/x64/launch-bench.txt
dll=build/x64/bin/Tamberlux.dll
echo "== the shipped DLL, stripped (debug information in $dll.debug)"
echo "Tamberlux.dll: $(( $(stat -c %s "$dll") / 1024 )) KiB (target 512 KiB or less); Tamberlux.dll.debug: $(( $(stat -c %s "$dll.debug") / 1024 )) KiB"
