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
. "$(dirname "$0")/wine-env.sh"
if [ "$(basename "$(dirname "$prefix")")" = prefixes ]; then
  if [ "${2:-}" = --gtest_list_tests ] && [ -n "${WINEPREFIX:-}" ] && [ -f "$WINEPREFIX/system.reg" ]; then
    prefix="$WINEPREFIX"
  else
    wine_program_start "$prefix"
    export DISPLAY=":$(head -n1 "$prefix.display")"
  fi
fi
export WINEPREFIX="$prefix"
exec wine "$@"
