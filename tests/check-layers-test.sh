#!/usr/bin/env bash
# The layer check on a copy of the tree: clean as it is, and refusing an
# upward include in each form a file could spell it.
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
exit "$status"
