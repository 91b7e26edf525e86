#!/usr/bin/env bash
# The main job: builds Tamberlux, registers it in a fresh demo Wine prefix and
# drives it through COM.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake --preset x64 >/dev/null
cmake --build --preset x64 -j"$(nproc)"

. tools/wine-env.sh
trap wine_env_stop EXIT
rm -rf build/x64/demoprefix
wine_env_start "$PWD/build/x64/demoprefix"
wine regsvr32 /s "$(winepath -w build/x64/bin/Tamberlux.dll)"
echo "Registered Tamberlux.dll"
wine cscript //nologo "$(winepath -w tools/demo.vbs)" | tr -d '\r'
