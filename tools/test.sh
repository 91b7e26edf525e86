#!/usr/bin/env bash
# Builds both architectures and runs every test under Wine (x64).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/check-layers.sh
python3 tools/number-steps.py --check
for preset in x64 x86; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$(nproc)"
done
bash tools/check-imports.sh build/x64/bin build/x86/bin

# Test programs run side by side, each in a Wine prefix of its own copied from
# one booted template (tools/wine-env.sh); the cases of one program in turn.
. tools/wine-env.sh
trap wine_env_stop EXIT
wine_env_start "$PWD/build/x64/wineprefix"
ctest --test-dir build/x64 --output-on-failure --timeout 300 -j"$(nproc)"
