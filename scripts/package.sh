#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Builds the Debian package build/zelk_<version>_<arch>.deb: a Release build
# of the three programs and their manual pages in build/package, then CPack.
# Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build/package
# Only what the package holds is built; installing does not build the tests.
# The prefix is the package's (/usr): zelk-upload looks for its translations
# in the locale directory compiled in.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$build" -j "$(nproc)" --target zelk zelk-upload zelk-emu zelk_man_pages
rm -f "$build"/zelk_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
debs=("$build"/zelk_*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "package: CPack made no single zelk_*.deb in $build" >&2
  exit 1
fi
rm -f build/zelk_*.deb
mv "${debs[0]}" build/
echo "build/$(basename "${debs[0]}")"
