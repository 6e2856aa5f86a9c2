#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Builds the Debian package build/zelk_<version>_<arch>.deb: the package
# preset (CMakePresets.json: a Release build with Debian's hardening flags and
# no build folder in the binaries, prefix /usr) of the three programs, their
# manual pages and the changelog in build/package, then CPack, with every
# time stamp SOURCE_DATE_EPOCH's (from the environment, else the last commit,
# else the source tarball's source-date-epoch), so that the same sources give
# the same bytes. Prints the package's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

build=build/package
# Only what the package holds is built (the build preset's targets);
# installing does not build the tests. The prefix is the package's (/usr):
# zelk-upload looks for its translations in the locale directory compiled in.
# Configured on every run, so that the time stamp follows the last commit.
cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
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
