#!/usr/bin/env bash
# The packages as an administrator meets them, each scenario in a Wine prefix
# of its own (a fresh copy of the booted template under WORK), with no regsvr32 anywhere.
#
#   PackageTests.sh lifecycle WORK PACKAGE VERSION CERT   install with settings (one not valid), use,
#                                                         repair, uninstall; then one install and uninstall
#                                                         per row of the properties' table
#   PackageTests.sh upgrade WORK OLDER PACKAGE VERSION    an older package, then the newer one without settings,
#                                                         beside an administrator's own value
#   PackageTests.sh signatures CERT FILE...               each file's Authenticode signature verifies against CERT
set -uo pipefail
scenario="$1"
shift
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
expect() { [ "$2" = "$3" ] || fail "$1: expected [$2], got [$3]"; }  # DESCRIPTION EXPECTED ACTUAL
verifies() { osslsigncode verify -CAfile "$1" -in "$2" >/dev/null 2>&1 && echo yes || echo no; }

if [ "$scenario" = signatures ]; then
  cert="$1"
  shift
  for file in "$@"; do expect "the signature of $file" yes "$(verifies "$cert" "$file")"; done
  # A file changed after signing no longer verifies.
  tampered="$(mktemp)"
  cp "$1" "$tampered" && printf 'x' | dd of="$tampered" bs=1 seek=200 conv=notrunc 2>/dev/null
  expect "a changed file's signature" no "$(verifies "$cert" "$tampered")"
  rm -f "$tampered"
  exit $((failures > 0))
fi

work="$1"
rm -rf "$work"
mkdir -p "$work"
# A copy of the booted template (made here when the run has none yet).
. "$(dirname "$0")/../tools/wine-env.sh"
wine_template "$TAMBERLUX_WINE_TEMPLATE" && wine_copy_template "$TAMBERLUX_WINE_TEMPLATE" "$work/prefix"
export WINEPREFIX="$work/prefix"
trap 'wineserver -k >/dev/null 2>&1' EXIT
drive="$WINEPREFIX/drive_c"
dir64="$drive/Program Files/Valdomeren/Tamberlux"
dir32="$drive/Program Files (x86)/Valdomeren/Tamberlux"
settings='HKLM\Software\Valdomeren\Zentrello\Installer'
clsid='HKLM\Software\Classes\CLSID\{B7C5E913-0D2A-4B68-A1F4-69E83C27D051}'

# msiexec's exit code; when it is not 0, also what Wine and msiexec wrote, on standard error (the caller's
# $(...) takes standard output only).
msi() {
  local code
  wine msiexec "$@" /qn >"$work/msiexec.out" 2>&1
  code=$?
  [ "$code" = 0 ] || { echo "msiexec $*: $code" >&2; cat "$work/msiexec.out" >&2; }
  echo "$code"
}
# A value as reg's listing on standard input shows it ("REG_DWORD 0x1"), empty when absent.
shown() { sed -n "s/^    $1    \(REG_[A-Z_]*\)    \(.*\)$/\1 \2/p"; }  # NAME
# A registry value in a view (NAME empty: the default value).
value() {  # KEY NAME BITS
  local which=(/ve)
  [ -n "$2" ] && which=(/v "$2")
  wine reg query "$1" "${which[@]}" "/reg:$3" 2>/dev/null | tr -d '\r' | shown "${2:-(Default)}"
}
# The installer's settings as "server|pins|wait": in a view (one listing of the key), and as expected in both. What
# reg or Wine said, other than that the key is missing, goes to standard error.
# A listing that Wine ended before reg said anything (neither values nor that the key is missing) is asked again.
installer_settings() {  # BITS
  local listing said try
  for try in 1 2 3; do
    listing="$(wine reg query "$settings" "/reg:$1" 2>"$work/reg.err" | tr -d '\r')"
    said="$(tr -d '\r' <"$work/reg.err")"
    [ -n "$listing$said" ] && break
    echo "reg query /reg:$1 said nothing (try $try of 3)" >&2
  done
  [ -z "$said" ] || [ "$said" = "reg: Unable to find the specified registry key" ] || echo "reg query /reg:$1: $said" >&2
  echo "$(shown DownloadServer <<<"$listing")|$(shown RequirePins <<<"$listing")|$(shown InstallerWaitSeconds <<<"$listing")"
}
settings_are() { for bits in 64 32; do expect "$1 ($bits)" "$2" "$(installer_settings $bits)"; done; }
key_exists() { wine reg query "$1" "/reg:$2" >/dev/null 2>&1 && echo yes || echo no; }
# An administrator's own value written with reg before the package runs, or the settings key deleted: done again
# when Wine ended reg before it had done it (once the administrator's server was never written, and a row found it
# missing), three times at most; then the case fails, since what follows would test another machine.
reg_add() {  # KEY BITS reg add's other arguments
  local key="$1" bits="$2" try
  shift 2
  for try in 1 2 3; do
    wine reg add "$key" "$@" /f "/reg:$bits" >/dev/null 2>&1 && return
  done
  fail "reg add $key $* /reg:$bits did not succeed in three tries"
}
reg_delete() {  # KEY BITS
  local try
  for try in 1 2 3; do
    wine reg delete "$1" /f "/reg:$2" >/dev/null 2>&1 && return
    [ "$(key_exists "$1" "$2")" = no ] && return
  done
  fail "reg delete $1 /reg:$2 left the key in three tries"
}
vbscript() { printf '%s\r\n' "$@" >"$drive/case.vbs"; wine cscript //nologo 'C:\case.vbs' 2>/dev/null | tr -d '\r'; }
created() { vbscript 'On Error Resume Next' 'Set o = CreateObject("Tamberlux.Main2")' 'o.Quit' 'WScript.Echo Err.Number'; }
file_version() { vbscript "WScript.Echo CreateObject(\"Scripting.FileSystemObject\").GetFileVersion(\"$1\")"; }
products() { wine reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s | grep -c 'REG_SZ    Tamberlux (64-bit)'; }
command='C:\Program Files\Valdomeren\Tamberlux\tamberlux.exe'

if [ "$scenario" = lifecycle ]; then
  package="$2" version="$3" cert="$4"
  expect "install" 0 "$(msi /i "$package" DOWNLOADSERVER=https://downloads.example.com REQUIREPINS=1 INSTALLERWAITSECONDS=soon)"
  # A script creates and calls the class; the command runs from the install folder.
  expect "Tamberlux.Main2 created and called" 0 "$(created)"
  status="$(wine "$command" status Zentrello 2>&1)"
  expect "tamberlux status" "0 Zentrello" "$? $(echo "$status" | head -1 | cut -d' ' -f1)"
  expect "tamberlux --version" "tamberlux $version" "$(wine "$command" --version | tr -d '\r')"
  # Each bitness's class names its own DLL in its own view.
  expect "64-bit class" 'REG_SZ C:\Program Files\Valdomeren\Tamberlux\Tamberlux.dll' "$(value "$clsid\\InprocServer32" '' 64)"
  expect "32-bit class" 'REG_SZ C:\Program Files (x86)\Valdomeren\Tamberlux\Tamberlux.dll' \
    "$(value "$clsid\\InprocServer32" '' 32)"
  # The settings as given, in both views; the one that is not a number as text.
  settings_are settings "REG_SZ https://downloads.example.com|REG_DWORD 0x1|REG_SZ soon"
  # What GetFileVersionInfo reads, and the signatures of what was installed.
  for f in "$command" 'C:\Program Files (x86)\Valdomeren\Tamberlux\Tamberlux.dll'; do
    expect "file version of $f" "$version.0" "$(file_version "$f")"
  done
  for f in "$dir64/Tamberlux.dll" "$dir64/tamberlux.exe" "$dir32/TamberluxHook.dll"; do
    expect "signature of the installed $f" yes "$(verifies "$cert" "$f")"
  done

  # Repair (Wine's msiexec /f answers 69 here: the documented equivalent).
  rm -f "$dir64/Tamberlux.dll" "$dir32/TamberluxHook.dll"
  expect "repair" 0 "$(msi /i "$package" REINSTALL=ALL REINSTALLMODE=omus)"
  [ -f "$dir64/Tamberlux.dll" ] && [ -f "$dir32/TamberluxHook.dll" ] || fail "the repair did not restore the deleted DLLs"

  # Uninstall: nothing of the package's is left; an administrator's value is.
  reg_add "$settings" 64 /v AdminNote /d kept
  expect "uninstall" 0 "$(msi /x "$package")"
  [ -e "${dir64%/*}" ] || [ -e "${dir32%/*}" ] && fail "folders left: $(ls -R "${dir64%/*}" "${dir32%/*}" 2>&1 | tr '\n' ' ')"
  for bits in 64 32; do
    for key in "$clsid" 'HKLM\Software\Classes\Tamberlux.Main2' \
               'HKLM\Software\Classes\TypeLib\{3E1B7A52-94C6-4F0D-8B7E-2C5A1D9F6E30}' \
               'HKLM\Software\Classes\Interface\{8D4F2C17-5A3B-4E69-9C81-0F7E6B2A4D95}'; do
      expect "$key ($bits) after uninstall" no "$(key_exists "$key" $bits)"
    done
  done
  settings_are "settings after uninstall" "||"
  expect "the administrator's value" "REG_SZ kept" "$(value "$settings" AdminNote 64)"

  # The properties, one install and uninstall per row: the settings each install leaves in the 64-bit and the
  # 32-bit view, then after its uninstall, and the verdict of `tamberlux check` on them. A value an administrator
  # wrote before (64-bit view: the server and a wait of 45) is neither taken over, nor copied into the 32-bit view,
  # nor removed; a number the component does not take is written as the text given, never wrapped into another.
  admin='REG_SZ https://admin.example.com||REG_DWORD 0x2d'
  while IFS='|' read -r -u 3 properties installed64 installed32 verdicts; do
    [ -n "$properties" ] || continue
    reg_delete "$settings" 64
    reg_delete "$settings" 32
    if [[ "$properties" == *administrator* ]]; then
      reg_add "$settings" 64 /v DownloadServer /d https://admin.example.com
      reg_add "$settings" 64 /v InstallerWaitSeconds /t REG_DWORD /d 45
    fi
    expect "install with $properties" 0 "$(msi /i "$package" ${properties%% (*})"
    installed64="${installed64//;/|}" installed32="${installed32//;/|}"
    expect "$properties: 64-bit settings" "$installed64" "$(installer_settings 64)"
    expect "$properties: 32-bit settings" "$installed32" "$(installer_settings 32)"
    check="$(wine "$command" check Zentrello 2>&1 | tr -d '\r')"
    IFS=';' read -ra said <<<"$verdicts"
    for verdict in "${said[@]}"; do
      [[ "$check" == *"$verdict"* ]] || fail "$properties: check did not say [$verdict]: $check"
    done
    expect "uninstall after $properties" 0 "$(msi /x "$package")"
    left="||"
    [[ "$properties" == *administrator* ]] && left="$admin"
    expect "$properties: 64-bit settings after uninstall" "$left" "$(installer_settings 64)"
    expect "$properties: 32-bit settings after uninstall" "||" "$(installer_settings 32)"
    expect "$properties: the package's marks after uninstall (64, 32)" nono \
      "$(key_exists 'HKLM\Software\Valdomeren\Tamberlux\Package' 64)$(key_exists 'HKLM\Software\Valdomeren\Tamberlux\Package' 32)"
  done 3<<'TABLE'
REQUIREPINS=0 (beside the administrator's)|REG_SZ https://admin.example.com;REG_DWORD 0x0;REG_DWORD 0x2d|;REG_DWORD 0x0;|
REQUIREPINS=4294967296 INSTALLERWAITSECONDS=4294967297|;REG_SZ 4294967296;REG_SZ 4294967297|;REG_SZ 4294967296;REG_SZ 4294967297|refused: it is neither 0 nor 1;refused: it is not a number of seconds from 1 to 86400
REQUIREPINS=-1 INSTALLERWAITSECONDS=600|;REG_SZ -1;REG_SZ 600|;REG_SZ -1;REG_SZ 600|refused: it is neither 0 nor 1;600 (machine, accepted)
TABLE
else  # upgrade
  older="$2" package="$3" version="$4"
  # The administrator's own wait, written before any package: neither the older package nor the upgrade takes it.
  reg_add "$settings" 64 /v InstallerWaitSeconds /t REG_DWORD /d 120
  expect "install the older package" 0 "$(msi /i "$older" DOWNLOADSERVER=https://old.example.com REQUIREPINS=1)"
  expect "upgrade" 0 "$(msi /i "$package")"
  expect "products installed" 1 "$(products)"
  expect "the version installed" "$version.0" "$(file_version "$command")"
  expect "settings kept (64)" "REG_SZ https://old.example.com|REG_DWORD 0x1|REG_DWORD 0x78" "$(installer_settings 64)"
  expect "settings kept (32)" "REG_SZ https://old.example.com|REG_DWORD 0x1|" "$(installer_settings 32)"
  expect "the upgraded class created and called" 0 "$(created)"
  [ "$(msi /i "$older")" != 0 ] || fail "the older package installed over the newer"
  expect "products after a downgrade attempt" 1 "$(products)"
fi
exit $((failures > 0))
