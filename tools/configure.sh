#!/usr/bin/env bash
# Configures the build tree of a preset (x64 or x86). A tree that an earlier
# checkout configured with another generator is started over.
set -euo pipefail
cd "$(dirname "$0")/.."
cache="build/$1/CMakeCache.txt"
if [ -f "$cache" ] && ! grep -qx 'CMAKE_GENERATOR:INTERNAL=Ninja' "$cache"; then
  rm -rf "$cache" "build/$1/CMakeFiles"
fi
cmake --preset "$1" >/dev/null
