#!/usr/bin/env bash
# Builds a Tamberlux package with wixl, then adds with msibuild (both from
# msitools) what wixl 0.101 cannot express: component conditions, the
# settings' custom actions in the execute sequence, file versions, the vendor
# folder's removal, and the older product's removal before the new one is
# installed.
#
#   build-msi.sh ARCH VERSION BIN32 BIN64 OUT [FILE_VERSION]
#     ARCH     x86 or x64
#     VERSION  the product version (major.minor.patch)
#     BIN32    the 32-bit build's bin folder (Tamberlux.dll, TamberluxHook.dll, tamberlux.exe)
#     BIN64    the 64-bit build's bin folder (x64 only; "-" for x86)
#     OUT      the package to write
#     FILE_VERSION  the version in the files' version resources, when it is not VERSION
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
src="$here/../src"
arch="$1" version="$2" bin32="$3" bin64="$4" out="$5" file_version="${6:-$2}"

# The identifiers come from where the code takes them: the class, interface
# and library from the IDL, the settings' key and names from WordKeys.h.
uuids=($(sed -n 's/.*uuid(\([0-9A-Fa-f-]*\)).*/{\1}/p' "$src/component/Tamberlux.idl"))
constant() { sed -n "s/.*wchar_t $1\[\] = L\"\(.*\)\";/\1/p" "$src/registry/WordKeys.h" | sed 's/\\\\/\\/g'; }
typelib_version="${version%.*}"

args=(-a "$arch" -D "Arch=$arch" -D "Version=$version"
      -D "LibId=${uuids[0]}" -D "Iid=${uuids[1]}" -D "Clsid=${uuids[2]}" -D "TypeLibVersion=$typelib_version"
      -D "InstallerKey=$(constant kInstallerKey)" -D "DownloadServerName=$(constant kDownloadServer)"
      -D "RequirePinsName=$(constant kRequirePins)" -D "InstallerWaitSecondsName=$(constant kInstallerWaitSeconds)")
# The files, staged by bitness (the package names them 32/... and 64/...).
stage="$out.stage" tmp="$out.tmp"
rm -rf "$stage" "$tmp"
mkdir -p "$stage/32"
cp "$bin32/Tamberlux.dll" "$bin32/TamberluxHook.dll" "$bin32/tamberlux.exe" "$stage/32/"
if [ "$arch" = x64 ]; then
  mkdir -p "$stage/64"
  cp "$bin64/Tamberlux.dll" "$bin64/TamberluxHook.dll" "$bin64/tamberlux.exe" "$stage/64/"
fi
(cd "$stage" && wixl "${args[@]}" -I "$here" -o "$tmp" "$here/Tamberlux.wxs")
rm -rf "$stage"

queries=()
sequence=60
action() {  # NAME PROPERTY VALUE CONDITION: sets PROPERTY to VALUE after AppSearch
  queries+=(-q "INSERT INTO CustomAction (Action, Type, Source, Target) VALUES ('$1', 51, '$2', '$3')"
            -q "INSERT INTO InstallExecuteSequence (Action, Condition, Sequence) VALUES ('$1', '$4', $sequence)"
            -q "INSERT INTO InstallUISequence (Action, Condition, Sequence) VALUES ('$1', '$4', $sequence)")
  sequence=$((sequence + 1))
}
# Each setting's value as the Registry table takes it: a number as "#n"
# (REG_DWORD) only where the condition NUMBER tells it exactly (a wider test
# would wrap 4294967297 into 1), anything else as the text given (REG_SZ;
# text starting with "#" escaped as "##"), which the component refuses when
# it reads it if it is no value it takes. A value given on the command line
# wins over one an earlier install of this product wrote (found by AppSearch
# in the Registry table's own form, with the product's mark beside it); a
# value without that mark is an administrator's, and stays theirs: not
# written again, not copied into the other registry view, not removed.
setting() {  # PROPERTY NUMBER
  local p="$1" number="$2"
  action "Set${p}Number" "${p}VALUE" "#[$p]" "$p AND (($number) OR $p << \"#\")"
  action "Set${p}Text" "${p}VALUE" "[$p]" "$p AND NOT ($number) AND NOT $p << \"#\""
  action "Set${p}Kept" "${p}VALUE" "[SAVED$p]" "NOT $p AND SAVED$p AND OWNED$p"
  local names=(DownloadServer RequirePins InstallerWaitSeconds) name
  for name in "${names[@]}"; do
    [ "${name^^}" = "$p" ] || continue
    for bits in 32 64; do
      queries+=(-q "UPDATE Component SET Condition = '${p}VALUE' WHERE Component = '$name$bits'")
    done
  done
}
setting DOWNLOADSERVER '0 = 1'
setting REQUIREPINS 'REQUIREPINS = "0" OR REQUIREPINS = "1"'
setting INSTALLERWAITSECONDS '0 = 1'  # any number of seconds as its digits
queries+=(
  # Every file is versioned (wixl leaves the column empty and hashes them as
  # unversioned files), so that a repair or a later package compares
  # versions as Windows Installer expects.
  -q "UPDATE File SET Version = '$file_version.0', Language = '1033'"
  # The vendor's folder belongs to the component too, so that it goes when
  # the component's own folder has gone and nothing else is in it.
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveFolders', 3600)"
  -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('CreateFolders', 3700)"
  -q "INSERT INTO CreateFolder (Directory_, Component_) VALUES ('Vendor32', 'Core32')"
  # The older product goes first, so this one writes its files, keys and
  # kept settings afresh.
  -q "UPDATE InstallExecuteSequence SET Sequence = 1501 WHERE Action = 'RemoveExistingProducts'"
  -q "UPDATE Property SET Value = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;DOWNLOADSERVER;REQUIREPINS;INSTALLERWAITSECONDS' WHERE Property = 'SecureCustomProperties'")
[ "$arch" = x64 ] && queries+=(-q "INSERT INTO CreateFolder (Directory_, Component_) VALUES ('Vendor64', 'Core64')")
# (msibuild's DELETE of several rows leaves some: one file at a time.)
for file in $(msiinfo export "$tmp" File | tail -n +4 | cut -f1); do
  queries+=(-q "DELETE FROM MsiFileHash WHERE File_ = '$file'")
done
msibuild "$tmp" "${queries[@]}"
mv "$tmp" "$out"
