#!/usr/bin/env bash
# Fails when a built DLL or program imports anything but Windows' own DLLs,
# and when the hook library (which Word loads into its own thread) imports
# anything but kernel32, user32 and comctl32: no C runtime, not even msvcrt.
set -euo pipefail
allowed='^(kernel32|user32|advapi32|ole32|oleaut32|shell32|shlwapi|shfolder|urlmon|wininet|comctl32|gdi32|rpcrt4|msvcrt|ucrtbase|version|ws2_32|api-ms-win-[a-z0-9-]+)\.dll$'
hook_allowed='^(kernel32|user32|comctl32)\.dll$'
status=0
for dir in "$@"; do
  for f in "$dir"/*.dll "$dir"/*.exe; do
    [ -e "$f" ] || continue
    pattern=$allowed
    [ "$(basename "$f")" = TamberluxHook.dll ] && pattern=$hook_allowed
    while read -r dll; do
      if ! echo "${dll,,}" | grep -Eq "$pattern"; then
        echo "check-imports: $f imports $dll" >&2
        status=1
      fi
    done < <(x86_64-w64-mingw32-objdump -p "$f" | sed -n 's/^\s*DLL Name: //p')
  done
done
exit $status
