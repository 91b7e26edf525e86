#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix: wine-run.sh PREFIX PROGRAM [ARGS…]
# A test prefix (<build>/prefixes/NAME) is made on its first case in a run, from the
# booted template, with its own display and wineserver (tools/wine-env.sh). Listing a program's
# cases changes nothing, so it runs in the run's warm prefix (wine_env_start's) when there is one.
# Any other prefix is used as it is, with the caller's display. TAMBERLUX_PREFIX, when set (by
# ctest for the cases of one concern of the test program), is the prefix in place of PREFIX.
set -e
prefix="${TAMBERLUX_PREFIX:-$1}"
shift
listing=false
[ "${2:-}" = --gtest_list_tests ] && listing=true
. "$(dirname "$0")/wine-env.sh"
if [ "$(basename "$(dirname "$prefix")")" = prefixes ]; then
  if $listing && [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
    prefix="$WINEPREFIX"
  else
    wine_program_start "$prefix"
    export DISPLAY=":$(head -n1 "$prefix.display")"
  fi
fi
export WINEPREFIX="$prefix"
$listing || exec wine "$@"
# A listing changes nothing, and ctest gives up on every case of the program when it fails: one that Wine ended
# before the program said anything (it happens, rarely, on a busy machine) is tried again.
for try in 1 2 3; do
  code=0
  said="$(wine "$@")" || code=$?
  if [ "$code" = 0 ] || [ -n "$said" ]; then
    printf '%s\n' "$said"
    exit "$code"
  fi
  echo "wine-run.sh: Wine ended the listing with $code before it said anything (try $try of 3)" >&2
done
exit "$code"
