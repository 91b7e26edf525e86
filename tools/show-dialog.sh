#!/usr/bin/env bash
# Shows the re-enable dialog in the demo Wine prefix: records a Word version
# and a DisabledItems entry for Zentrello there, starts the stand-in Word and
# calls CreateAddInMonitor as the monitor add-in does when Word starts.
# On a desktop (DISPLAY set) the dialog appears on it and waits for an answer;
# without one it is drawn on a private X server, pictured to
# build/x64/artifacts/show-dialog.bmp and answered "Disable just this time".
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
bash tools/configure.sh x64
cmake --build --preset x64 -j"$(nproc)" --target Tamberlux WordStandIn DialogReader tamberlux

. tools/wine-env.sh
trap wine_env_stop EXIT
user_display="${DISPLAY:-}"
wine_env_start "$PWD/build/x64/demoprefix"
if [ -n "$user_display" ]; then
  wine_env_stop
  export DISPLAY="$user_display"
fi
bin="$PWD/build/x64/bin"
wine regsvr32 /s "$(winepath -w "$bin/Tamberlux.dll")"
wine "$(winepath -w "$bin/WordStandIn.exe")" /regserver
wine reg add 'HKLM\Software\TamberluxTests\WordStandIn' /v StartVisible /t REG_DWORD /d 1 /f >/dev/null 2>&1

# A DisabledItems entry as Word writes it after a crash: type 1, the byte
# lengths of the UTF-16 path and friendly name, then both.
utf16() { local s="$1" i; for ((i = 0; i < ${#s}; i++)); do printf '%02x00' "'${s:i:1}"; done; printf '0000'; }
le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24)); }
path='c:\program files\valdomeren\zentrello\zentrello.dll'
name='Zentrello'
entry="$(le32 1)$(le32 $(((${#path} + 1) * 2)))$(le32 $(((${#name} + 1) * 2)))$(utf16 "$path")$(utf16 "$name")"
wine reg add 'HKCU\Software\Zentrello' /v WordVersion /d 12.0 /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Microsoft\Office\12.0\Word\Resiliency\DisabledItems' /v 3F2A /t REG_BINARY /d "$entry" /f >/dev/null 2>&1
echo "Word 12.0 lists Zentrello as disabled in the demo prefix ($WINEPREFIX)"

script="$WINEPREFIX/drive_c/show-dialog.vbs"
printf '%s\r\n' 'Set word = CreateObject("Word.Application")' \
  'Set monitor = CreateObject("Tamberlux.Main2")' \
  'monitor.CreateAddInMonitor "Zentrello", word' >"$script"
if [ -n "$user_display" ]; then
  echo "The dialog is on your display; answer it there."
  wine cscript //nologo 'C:\show-dialog.vbs' >/dev/null 2>&1 || true
else
  mkdir -p build/x64/artifacts
  picture="$(winepath -w "$PWD/build/x64/artifacts")\\show-dialog.bmp"
  wine "$(winepath -w "$bin/DialogReader.exe")" --form --picture "$picture" --keys escape >/dev/null 2>&1 &
  reader=$!
  wine cscript //nologo 'C:\show-dialog.vbs' >/dev/null 2>&1 || true
  wait "$reader" || true
  echo "No display: the dialog was pictured to build/x64/artifacts/show-dialog.bmp and answered \"Disable just this time\"."
fi
echo
wine "$bin/tamberlux.exe" status Zentrello >build/x64/show-dialog-status.txt 2>&1 || true
tr -d '\r' <build/x64/show-dialog-status.txt
echo
echo "To take the add-in off Word's lists again: wine build/x64/bin/tamberlux.exe enable Zentrello (WINEPREFIX=$WINEPREFIX)"
