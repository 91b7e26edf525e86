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
# Now and then (about once in a few thousand starts on a busy machine) Wine ends a program with an error before the
# program has said anything; with WINEDEBUG=-all, silently. Such a run did nothing, so it is run again, three times
# at most. A run that said anything is never repeated. What the program says goes on to the caller as it comes.
said="$(mktemp)"
trap 'rm -f "$said"' EXIT
for try in 1 2 3; do
  wine "$@" 2>&1 | tee "$said"
  code=${PIPESTATUS[0]}
  if [ "$code" = 0 ] || [ -s "$said" ]; then
    exit "$code"
  fi
  echo "wine-run.sh: Wine ended the program with $code before it said anything (try $try of 3)" >&2
done
exit "$code"
