#!/usr/bin/env bash
# Builds the x64 benchmarks and runs them under Wine, side by side in one run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset x64 >/dev/null
cmake --build --preset x64 -j"$(nproc)" --target TraceBench DisabledItemsBench
. tools/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$PWD/build/x64/wineprefix"
echo "== traced procedure vs plain call"; wine build/x64/bin/TraceBench.exe | tr -d '\r'
echo "== disabled-items detection vs bare walk"; wine build/x64/bin/DisabledItemsBench.exe | tr -d '\r'
