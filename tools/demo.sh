#!/usr/bin/env bash
# The main job: builds Tamberlux, and in a fresh demo Wine prefix registers it
# beside the stand-in Word, installs a product template where the product's
# installer puts it, and launches Zentrello as its desktop icon does, showing
# the state that decides whether the add-in loads before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/configure.sh x64
cmake --build --preset x64 -j"$(nproc)"

. tools/wine-env.sh
trap wine_env_stop EXIT
rm -rf build/x64/demoprefix
wine_env_start "$PWD/build/x64/demoprefix"
bin="$PWD/build/x64/bin"
# Output goes through a file: Word, started by the launch, inherits the
# launcher's output and would hold a pipe open for as long as it runs.
run() {
  wine "$@" >build/x64/demo-output.txt 2>&1 || true
  tr -d '\r' <build/x64/demo-output.txt
}

wine regsvr32 /s "$(winepath -w "$bin/Tamberlux.dll")"
wine "$(winepath -w "$bin/WordStandIn.exe")" /regserver
# The stand-in Word writes each call it receives to this file.
wine reg add 'HKLM\Software\TamberluxTests\WordStandIn' /v CallLog /d 'C:\word-calls.txt' /f >/dev/null 2>&1
echo "Registered Tamberlux.dll, and the stand-in Word as Word.Application"

templates="$WINEPREFIX/drive_c/Program Files/Valdomeren/Zentrello"
mkdir -p "$templates"
echo "Zentrello template (Word 97-2003)" >"$templates/Zentrello.dot"
echo "Zentrello template (Word 2007 and later)" >"$templates/Zentrello.dotm"
echo "Installed the product template in C:\\Program Files\\Valdomeren\\Zentrello\\"

echo
echo "== tamberlux status Zentrello (before)"
run "$bin/tamberlux.exe" status Zentrello | tee build/x64/demo-before.txt
echo
echo "== tamberlux launch Zentrello"
run "$bin/tamberlux.exe" launch Zentrello
echo
echo "== tamberlux status Zentrello (after)"
run "$bin/tamberlux.exe" status Zentrello | tee build/x64/demo-after.txt
echo
echo "== What the launch changed"
diff build/x64/demo-before.txt build/x64/demo-after.txt || true
echo
echo "== What Word was asked (process id, call)"
tr -d '\r' <"$WINEPREFIX/drive_c/word-calls.txt"
