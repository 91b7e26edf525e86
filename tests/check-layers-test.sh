#!/usr/bin/env bash
# The layer check on a copy of the tree: clean as it is, and refusing an
# upward include in each form a file could spell it. Given the compiler and the
# build's layer include roots, also that the compiler itself finds nothing of
# the component from the lowest layer's root, and finds that layer's own.
set -uo pipefail
here="$(cd "$(dirname "$0")/.." && pwd)"
copy="$(mktemp -d)"
trap 'rm -rf "$copy"' EXIT
cp -r "$here/src" "$here/tools" "$copy/"
bash "$here/tools/check-layers.sh" "$copy" || { echo "FAIL: the tree as it is was refused"; exit 1; }
echo '#include "../component/Main2.h"' >>"$copy/src/base/Text.cpp"
echo '#include <component/Main2.h>' >>"$copy/src/base/LateBound.cpp"
echo '#include "Tamberlux.h"' >>"$copy/src/base/VbError.cpp"
out="$(bash "$here/tools/check-layers.sh" "$copy" 2>&1)" && { echo "FAIL: upward includes passed"; exit 1; }
status=0
for f in src/base/Text.cpp src/base/LateBound.cpp src/base/VbError.cpp; do
  grep -q "^check-layers: $f: base includes .*(component), a layer above it$" <<<"$out" || { echo "FAIL: $f not refused"; status=1; }
done
echo "$out"
if [ $# -eq 2 ]; then
  printf '#include <base/Text.h>\n' >"$copy/own.cpp"
  "$1" -std=c++20 -fsyntax-only -I "$2/base" "$copy/own.cpp" || { echo "FAIL: base's own header not found"; status=1; }
  for spelling in '<component/Main2.h>' '"component/Main2.h"' '<installer/HTTP.h>' '"Tamberlux.h"'; do
    printf '#include %s\n' "$spelling" >"$copy/up.cpp"
    "$1" -std=c++20 -fsyntax-only -I "$2/base" "$copy/up.cpp" 2>/dev/null &&
      { echo "FAIL: $spelling compiled from base's include root"; status=1; }
  done
fi
exit "$status"
