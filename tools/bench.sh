#!/usr/bin/env bash
# Builds the x64 benchmarks and runs them under Wine, side by side in one run,
# then prints the sizes of the shipped files against their ceilings (the x86
# ones too when build/x86 has them).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/configure.sh x64
cmake --build --preset x64 -j"$(nproc)" --target TraceBench DisabledItemsBench LaunchBench DependencyCheckBench Tamberlux TamberluxHook tamberlux WordStandIn
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
echo "== the shipped files, stripped and signed (debug information in <file>.debug beside each)"
ceiling() {  # FILE PRESET: the file's ceiling in KiB
  case "$1" in
    Tamberlux.dll) [ "$2" = x64 ] && echo 400 || echo 460 ;;
    TamberluxHook.dll) echo 24 ;;
    tamberlux.exe) echo 1024 ;;
  esac
}
for preset in x64 x86; do
  for file in Tamberlux.dll TamberluxHook.dll tamberlux.exe; do
    path=build/$preset/bin/$file
    if [ ! -e "$path" ]; then echo "$preset $file: not built"; continue; fi
    size=$(stat -c %s "$path") limit=$(ceiling "$file" "$preset")
    verdict=within; [ "$size" -le $((limit * 1024)) ] || verdict=OVER
    debug=""; [ -e "$path.debug" ] && debug="; $file.debug $(( $(stat -c %s "$path.debug") / 1024 )) KiB"
    printf '%s %s: %d KiB (%d bytes), ceiling %d KiB: %s%s\n' "$preset" "$file" $((size / 1024)) "$size" "$limit" "$verdict" "$debug"
  done
done
