#!/usr/bin/env bash
# Runs a Windows program under Wine in the given prefix: wine-run.sh PREFIX PROGRAM [ARGS…]
# A test prefix (<build>/prefixes/NAME) is made on its first case in a run, from the
# booted template, with its own display and wineserver (tools/wine-env.sh). Any other
# prefix is used as it is, with the caller's display.
set -e
prefix="$1"
shift
. "$(dirname "$0")/wine-env.sh"
if [ "$(basename "$(dirname "$prefix")")" = prefixes ]; then
  wine_program_start "$prefix"
  export DISPLAY=":$(head -n1 "$prefix.display")"
fi
export WINEPREFIX="$prefix"
exec wine "$@"
