#!/usr/bin/env bash
# The packages as an administrator meets them, each scenario in a Wine prefix
# of its own (created afresh under WORK), with no regsvr32 anywhere.
#
#   PackageTests.sh lifecycle WORK PACKAGE VERSION CERT
#       install with settings (one not valid), use, repair, uninstall
#   PackageTests.sh upgrade WORK OLDER PACKAGE VERSION
#       an older package, then the newer one without settings
#   PackageTests.sh signatures CERT FILE...
#       each file's Authenticode signature verifies against CERT
set -uo pipefail
scenario="$1"
shift
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# expect DESCRIPTION EXPECTED ACTUAL
expect() { [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"; }

if [ "$scenario" = signatures ]; then
  cert="$1"
  shift
  for file in "$@"; do
    osslsigncode verify -CAfile "$cert" -in "$file" >/dev/null 2>&1 || fail "the signature of $file does not verify"
  done
  # A file changed after signing no longer verifies.
  tampered="$(mktemp)"
  cp "$1" "$tampered" && printf 'x' | dd of="$tampered" bs=1 seek=200 conv=notrunc 2>/dev/null
  osslsigncode verify -CAfile "$cert" -in "$tampered" >/dev/null 2>&1 && fail "a changed file still verifies"
  rm -f "$tampered"
  exit $((failures > 0))
fi

work="$1"
rm -rf "$work"
mkdir -p "$work"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
wineboot -i >/dev/null 2>&1
wineserver -w
trap 'wineserver -k >/dev/null 2>&1' EXIT
drive="$WINEPREFIX/drive_c"
dir64="$drive/Program Files/Valdomeren/Tamberlux"
dir32="$drive/Program Files (x86)/Valdomeren/Tamberlux"
settings='HKLM\Software\Valdomeren\Zentrello\Installer'
clsid='HKLM\Software\Classes\CLSID\{B7C5E913-0D2A-4B68-A1F4-69E83C27D051}'

msi() { wine msiexec "$@" /qn >/dev/null 2>&1; echo $?; }
# The data of a registry value in the given view ("REG_DWORD 0x1"), empty when absent.
value() { wine reg query "$1" /v "$2" "/reg:$3" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { print $2, $3 }'; }
key_exists() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1 && echo yes || echo no; }
# Runs a VBScript in the prefix; prints what it echoed.
vbscript() { printf '%s\r\n' "$@" >"$drive/case.vbs"; wine cscript //nologo 'C:\case.vbs' 2>/dev/null | tr -d '\r'; }
file_version() { vbscript "WScript.Echo CreateObject(\"Scripting.FileSystemObject\").GetFileVersion(\"$1\")"; }
# The versions of the installed products named "Tamberlux (64-bit)".
products() {
  wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '$1 == "DisplayName" { name = substr($0, index($0, "REG_SZ") + 10) } $1 == "DisplayVersion" { version = $3 }
         /^HKEY/ { if (name == "Tamberlux (64-bit)") print version; name = ""; version = "" }
         END { if (name == "Tamberlux (64-bit)") print version }' | sort | tr '\n' ' '
}

if [ "$scenario" = lifecycle ]; then
  package="$2" version="$3" cert="$4"
  expect "install" 0 "$(msi /i "$package" DOWNLOADSERVER=https://downloads.example.com REQUIREPINS=1 INSTALLERWAITSECONDS=soon)"

  # The 64-bit component is created and called from a script; the command
  # runs from the install folder.
  expect "a script creates and calls Tamberlux.Main2" "created 0" \
    "$(vbscript 'On Error Resume Next' 'Set o = CreateObject("Tamberlux.Main2")' 'o.Quit' 'WScript.Echo "created " & Err.Number')"
  wine 'C:\Program Files\Valdomeren\Tamberlux\tamberlux.exe' status Zentrello >"$work/status.txt" 2>&1
  expect "tamberlux status exits" 0 "$?"
  grep -q '^Zentrello ' "$work/status.txt" || fail "tamberlux status printed: $(head -3 "$work/status.txt")"
  expect "tamberlux --version" "tamberlux $version" \
    "$(wine 'C:\Program Files\Valdomeren\Tamberlux\tamberlux.exe' --version | tr -d '\r')"

  # Each bitness's class points at its own DLL in its own view.
  [ "$(wine reg query "$clsid\\InprocServer32" /ve /reg:64 | tr -d '\r' | grep -c 'Program Files\\Valdomeren\\Tamberlux\\Tamberlux.dll')" = 1 ] ||
    fail "the 64-bit class does not name the 64-bit DLL"
  [ "$(wine reg query "$clsid\\InprocServer32" /ve /reg:32 | tr -d '\r' | grep -c 'Program Files (x86)\\Valdomeren\\Tamberlux\\Tamberlux.dll')" = 1 ] ||
    fail "the 32-bit class does not name the 32-bit DLL"
  for f in "$dir64/Tamberlux.dll" "$dir64/TamberluxHook.dll" "$dir64/tamberlux.exe" "$dir32/Tamberlux.dll" "$dir32/TamberluxHook.dll"; do
    [ -f "$f" ] || fail "not installed: $f"
  done

  # The settings as given, in both views; the one that is not a number as text.
  for bits in 64 32; do
    expect "DownloadServer ($bits)" "REG_SZ https://downloads.example.com" "$(value "$settings" DownloadServer $bits)"
    expect "RequirePins ($bits)" "REG_DWORD 0x1" "$(value "$settings" RequirePins $bits)"
    expect "InstallerWaitSeconds ($bits)" "REG_SZ soon" "$(value "$settings" InstallerWaitSeconds $bits)"
  done

  # What GetFileVersionInfo reads, and the signatures of what was installed.
  for f in 'C:\Program Files\Valdomeren\Tamberlux\tamberlux.exe' 'C:\Program Files (x86)\Valdomeren\Tamberlux\Tamberlux.dll'; do
    expect "file version of $f" "$version.0" "$(file_version "$f")"
  done
  for f in "$dir64/Tamberlux.dll" "$dir64/tamberlux.exe" "$dir32/TamberluxHook.dll"; do
    osslsigncode verify -CAfile "$cert" -in "$f" >/dev/null 2>&1 || fail "the installed $f does not verify"
  done

  # Repair (Wine's msiexec /f answers 69 here: the documented equivalent).
  rm -f "$dir64/Tamberlux.dll" "$dir32/TamberluxHook.dll"
  expect "repair" 0 "$(msi /i "$package" REINSTALL=ALL REINSTALLMODE=omus)"
  [ -f "$dir64/Tamberlux.dll" ] && [ -f "$dir32/TamberluxHook.dll" ] || fail "the repair did not restore the deleted DLLs"

  # Uninstall: nothing of the package's is left; an administrator's value is.
  wine reg add "$settings" /v AdminNote /d kept /f /reg:64 >/dev/null 2>&1
  expect "uninstall" 0 "$(msi /x "$package")"
  [ -e "$dir64" ] || [ -e "$dir32" ] && fail "install folders left: $(ls "$dir64" "$dir32" 2>&1 | tr '\n' ' ')"
  for bits in 64 32; do
    for key in "$clsid" 'HKLM\Software\Classes\Tamberlux.Main2' \
               'HKLM\Software\Classes\TypeLib\{3E1B7A52-94C6-4F0D-8B7E-2C5A1D9F6E30}' \
               'HKLM\Software\Classes\Interface\{8D4F2C17-5A3B-4E69-9C81-0F7E6B2A4D95}'; do
      expect "$key ($bits) after uninstall" no "$(key_exists "$key" $bits)"
    done
    for name in DownloadServer RequirePins InstallerWaitSeconds; do
      expect "$name ($bits) after uninstall" "" "$(value "$settings" $name $bits)"
    done
  done
  expect "the administrator's value" "REG_SZ kept" "$(value "$settings" AdminNote 64)"
elif [ "$scenario" = upgrade ]; then
  older="$2" package="$3" version="$4"
  expect "install the older package" 0 \
    "$(msi /i "$older" DOWNLOADSERVER=https://old.example.com REQUIREPINS=1 INSTALLERWAITSECONDS=120)"
  expect "upgrade" 0 "$(msi /i "$package")"
  expect "products installed" "$version " "$(products)"
  expect "the version installed" "$version.0" \
    "$(file_version 'C:\Program Files\Valdomeren\Tamberlux\Tamberlux.dll')"
  for bits in 64 32; do
    expect "DownloadServer kept ($bits)" "REG_SZ https://old.example.com" "$(value "$settings" DownloadServer $bits)"
    expect "RequirePins kept ($bits)" "REG_DWORD 0x1" "$(value "$settings" RequirePins $bits)"
    expect "InstallerWaitSeconds kept ($bits)" "REG_DWORD 0x78" "$(value "$settings" InstallerWaitSeconds $bits)"
  done
  expect "the upgraded component is created" "created 0" \
    "$(vbscript 'On Error Resume Next' 'Set o = CreateObject("Tamberlux.Main2")' 'o.Quit' 'WScript.Echo "created " & Err.Number')"
  [ "$(msi /i "$older")" != 0 ] || fail "the older package installed over the newer"
  expect "products after a downgrade attempt" "$version " "$(products)"
else
  echo "usage: PackageTests.sh lifecycle|upgrade|signatures ..." >&2
  exit 2
fi
exit $((failures > 0))
