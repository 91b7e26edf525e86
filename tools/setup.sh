#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build Tamberlux and run its tests
# under Wine. Idempotent: a second run installs nothing and returns quickly.
set -euo pipefail

packages=(wine wine64 libwine-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686
          mingw-w64-tools xvfb googletest cmake ninja-build python3 x11-utils
          msitools wixl osslsigncode openssl)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
export DEBIAN_FRONTEND=noninteractive
# The package indexes are sometimes briefly inconsistent ("Mirror sync in progress?").
for try in 1 2 3 4 5; do
  if $SUDO apt-get update -q; then break; fi
  [ "$try" = 5 ] && { echo "setup: apt-get update kept failing" >&2; exit 1; }
  sleep $((try * 5))
done
for try in 1 2 3; do
  if $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"; then exit 0; fi
  [ "$try" = 3 ] && { echo "setup: could not install: ${missing[*]}" >&2; exit 1; }
  sleep 10
  $SUDO apt-get update -q || true
done
