#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Builds the Windows distribution build/zelk-<version>-windows-x86_64.zip:
# configures build/mingw with the mingw preset (the MinGW-w64 cross build,
# ZELK_REPRODUCIBLE: no build folder in the programs; no link time stamp),
# builds zelk.exe and zelk-upload.exe there (nothing to do when the windows
# stage has built them) and packs them without their debug information, with
# the Windows read-me and the licence, in Windows line ends.
#
# The same sources give the same bytes: every entry is dated by the build's
# SOURCE_DATE_EPOCH (cmake/ZelkRelease.cmake, as the .deb), the entries go
# in a fixed order with fixed permissions, and no entry carries an extra
# field (owner, Unix times). Prints the zip's path as its last line.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/mingw

# Configured on every run, so that the time stamp follows the last commit.
cmake --preset mingw >/dev/null
cmake --build "$build" -j "${ZELK_JOBS:-$(nproc)}" --target zelk zelk-upload
version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || { echo "windows-zip: no version in CMakeLists.txt" >&2; exit 1; }
epoch=$(cat "$build/source-date-epoch")
[ -n "$epoch" ] || { echo "windows-zip: $build has no SOURCE_DATE_EPOCH (no git history, no source-date-epoch)" >&2; exit 1; }
[ -f LICENSE ] || { echo "windows-zip: no LICENSE in the tree" >&2; exit 1; }

name=zelk-$version-windows-x86_64
zip=$PWD/build/$name.zip
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
# strip writes a new PE header, dated by SOURCE_DATE_EPOCH when it is set
# (else by the clock): the release's time stamp.
for exe in zelk.exe zelk-upload.exe; do
  SOURCE_DATE_EPOCH=$epoch x86_64-w64-mingw32-strip -o "$stage/$name/$exe" "$build/app/$exe"
done
# Windows line ends for Notepad's older versions.
sed 's/$/\r/' packaging/windows/README-Windows.txt >"$stage/$name/README-Windows.txt"
sed 's/$/\r/' LICENSE >"$stage/$name/LICENSE"

rm -f "$zip"
python3 - "$stage" "$name" "$epoch" "$zip.tmp" <<'EOF'
import os, sys, time, zipfile
stage, name, epoch, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
# DOS times hold local time with no zone: the epoch's UTC, from 1980 on.
when = time.gmtime(max(epoch, 315532800))[:6]
def entry(arcname, mode, dos=0):
    info = zipfile.ZipInfo(arcname, date_time=when)
    info.create_system = 3  # Unix, so that the permissions below mean what they say
    info.external_attr = mode << 16 | dos
    return info
with zipfile.ZipFile(out, "w") as z:
    z.writestr(entry(name + "/", 0o40755, 0x10), b"")  # 0x10: MS-DOS directory
    for f in sorted(os.listdir(os.path.join(stage, name))):
        with open(os.path.join(stage, name, f), "rb") as data:
            info = entry(name + "/" + f, 0o100755 if f.endswith(".exe") else 0o100644)
            info.compress_type = zipfile.ZIP_DEFLATED
            z.writestr(info, data.read(), compresslevel=9)
EOF
mv "$zip.tmp" "$zip"
for f in "$stage/$name"/*; do echo "$(basename "$f"): $(stat -c %s "$f") bytes" >&2; done
echo "$zip"
