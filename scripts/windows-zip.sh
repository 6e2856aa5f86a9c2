#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Builds build/zelk-<version>-windows-x86_64.zip from a MinGW build folder
# (default build/mingw): zelk.exe and zelk-upload.exe without their debug
# information, the Windows read-me and the licence when the tree has one.
# Prints the zip's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/mingw}
version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "windows-zip: no version in CMakeLists.txt" >&2; exit 1; }
name=zelk-$version-windows-x86_64
zip=$PWD/build/$name.zip
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
for exe in app/zelk.exe app/zelk-upload.exe; do
  [ -f "$build/$exe" ] || { echo "windows-zip: $build/$exe is not built" >&2; exit 1; }
  x86_64-w64-mingw32-strip -o "$stage/$name/$(basename "$exe")" "$build/$exe"
done
# Windows line ends for Notepad's older versions.
sed 's/$/\r/' packaging/windows/README-Windows.txt >"$stage/$name/README-Windows.txt"
if [ -f LICENSE ]; then
  sed 's/$/\r/' LICENSE >"$stage/$name/LICENSE"
else
  echo "windows-zip: no LICENSE in the tree; the zip goes without one" >&2
fi
rm -f "$zip"
(cd "$stage" && python3 -m zipfile -c "$zip" "$name")
for f in "$stage/$name"/*; do echo "$(basename "$f"): $(stat -c %s "$f") bytes" >&2; done
echo "$zip"
