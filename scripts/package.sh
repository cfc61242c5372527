#!/usr/bin/env bash
# Builds the Debian package: build/package/quorin_<version>_<architecture>.deb, whose path is the
# last line printed. Preset `package`: optimised, installed under /usr, without the tests, with
# Debian's own compiler and linker flags (hardening). Install it with
#   apt-get install ./build/package/quorin_<version>_<architecture>.deb
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ensure-deps.sh deploy
# dpkg-buildflags gives the flags Debian builds its packages with; CMake reads them when the
# build folder is first configured, and has no CPPFLAGS of its own.
eval "$(dpkg-buildflags --export=sh)"
export CFLAGS="$CFLAGS $CPPFLAGS" CXXFLAGS="$CXXFLAGS $CPPFLAGS"
cmake --preset package >/dev/null
cmake --build --preset package
cpack --preset package | tee build/package/cpack.log
sed -n 's/^CPack: - package: \(.*\.deb\) generated\.$/\1/p' build/package/cpack.log
