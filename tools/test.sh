#!/usr/bin/env bash
# Builds both architectures and runs every test under Wine (x64).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/check-layers.sh
python3 tools/number-steps.py --check
for preset in x64 x86; do bash tools/configure.sh "$preset"; done
# The tests' Wine template boots while the build runs (wine_env_start below
# waits for it under the template's lock).
. tools/wine-env.sh
(wine_template "$PWD/build/x64/wine-template" >/dev/null 2>&1 &)
# x86 first: the x64 package takes the 32-bit component from it.
for preset in x86 x64; do cmake --build --preset "$preset" -j"$(nproc)"; done
bash tools/check-imports.sh build/x64/bin build/x86/bin

# Test programs run side by side, each in a Wine prefix of its own copied from
# one booted template (tools/wine-env.sh); the cases of one program in turn.
trap wine_env_stop EXIT
wine_env_start "$PWD/build/x64/wineprefix"
ctest --test-dir build/x64 --output-on-failure --timeout 300 -j"$(nproc)"
