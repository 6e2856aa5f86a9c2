#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Checks the Windows zip scripts/windows-zip.sh built (or the one given):
#
#  - its entries, in this order: the folder, LICENSE, README-Windows.txt,
#    zelk-upload.exe, zelk.exe; each dated by build/mingw's SOURCE_DATE_EPOCH,
#    with fixed permissions and no extra field; the read-me and the licence
#    are the tree's, in Windows line ends;
#  - each program: its PE header dated by SOURCE_DATE_EPOCH, no build folder
#    in it, its version resource exactly the one below (read back from the
#    .exe by windres), and the window's icon, the same in both.
#
# Needs no Wine. The package stage and the windows stage run it.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-windows-zip: $*" >&2; exit 1; }

version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
name=zelk-$version-windows-x86_64
zip=${1:-build/$name.zip}
[ -f "$zip" ] || fail "no $zip (scripts/windows-zip.sh builds it)"
epoch=$(cat build/mingw/source-date-epoch 2>/dev/null || true)
[ -n "$epoch" ] || fail "build/mingw has no source-date-epoch (scripts/windows-zip.sh configures it)"

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# The entries, and the files unpacked into $out.
python3 - "$zip" "$name" "$epoch" "$out" <<'EOF' || fail "the zip's entries are not as made"
import sys, time, zipfile
path, name, epoch, out = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
t = time.gmtime(max(epoch, 315532800))
when = t[:5] + (t[5] // 2 * 2,)  # DOS times count seconds in twos
want = [(name + "/", 0o40755, 0x10), (name + "/LICENSE", 0o100644, 0),
        (name + "/README-Windows.txt", 0o100644, 0), (name + "/zelk-upload.exe", 0o100755, 0),
        (name + "/zelk.exe", 0o100755, 0)]
ok = True
with zipfile.ZipFile(path) as z:
    infos = z.infolist()
    got = [(i.filename, i.external_attr >> 16, i.external_attr & 0xFFFF) for i in infos]
    if got != want:
        print(f"entries {got}, want {want}", file=sys.stderr); ok = False
    for i in infos:
        if i.date_time != when or i.extra or i.create_system != 3:
            print(f"{i.filename}: time {i.date_time} (want {when}), extra {i.extra!r}, "
                  f"system {i.create_system}", file=sys.stderr); ok = False
    if z.testzip() is not None:
        print("a damaged entry", file=sys.stderr); ok = False
    z.extractall(out)
sys.exit(0 if ok else 1)
EOF
files=$out/$name
cmp -s <(sed 's/$/\r/' packaging/windows/README-Windows.txt) "$files/README-Windows.txt" \
  || fail "README-Windows.txt is not packaging/windows/README-Windows.txt in Windows line ends"
cmp -s <(sed 's/$/\r/' LICENSE) "$files/LICENSE" || fail "LICENSE is not the tree's in Windows line ends"

# The PE header's TimeDateStamp: the COFF header follows "PE\0\0" at e_lfanew.
pe_time() {
  python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(4096)
at = struct.unpack_from("<I", d, 0x3C)[0]
assert d[at:at + 4] == b"PE\0\0"
print(struct.unpack_from("<I", d, at + 8)[0])' "$1"
}

# Both programs' version resources, as windres reads them back.
IFS=. read -r major minor patch <<<"$version"
expected_version() {  # exe-name description
  cat <<EOF
1 VERSIONINFO
 FILEVERSION $major, $minor, $patch, 0
 PRODUCTVERSION $major, $minor, $patch, 0
 FILEFLAGSMASK 0x3f
 FILEOS 0x40004
 FILETYPE 0x1
BEGIN
  BLOCK "StringFileInfo"
  BEGIN
    BLOCK "040904B0"
    BEGIN
      VALUE "CompanyName", "The ZELK developers"
      VALUE "FileDescription", "$2"
      VALUE "FileVersion", "$version"
      VALUE "InternalName", "$1"
      VALUE "LegalCopyright", "Copyright (C) 2026 The ZELK developers. License GPLv3+: GNU GPL version 3 or later (GPL-3.0-or-later)"
      VALUE "OriginalFilename", "$1.exe"
      VALUE "ProductName", "ZELK"
      VALUE "ProductVersion", "$version"
    END
  END
  BLOCK "VarFileInfo"
  BEGIN
    VALUE "Translation", 0x409, 1200
  END
END
EOF
}
# The icon's resources (its images and their group) of a windres dump.
icons() { awk '/^\/\* Type: /{keep = /Type: (icon|group icon)/} keep' "$1"; }

check_exe() {  # exe-name description
  local exe=$files/$1.exe dump=$out/$1.rc
  [ "$(pe_time "$exe")" = "$epoch" ] || fail "$1.exe's PE header is dated $(pe_time "$exe"), not $epoch"
  if grep -qaF "$PWD" "$exe"; then fail "$1.exe holds the build folder $PWD"; fi
  x86_64-w64-mingw32-windres -i "$exe" -O rc -o "$dump" || fail "windres cannot read $1.exe's resources"
  diff -u <(expected_version "$1" "$2") <(sed -n '/^1 VERSIONINFO$/,/^END$/p' "$dump") >&2 \
    || fail "$1.exe's version resource differs from the expected one (above)"
  icons "$dump" >"$out/$1.icon"
  grep -q 'Has 6 elements' "$out/$1.icon" || fail "$1.exe has not the six-image icon"
}
check_exe zelk "ZELK: program upload to the Vector-06C's network controller"
check_exe zelk-upload "ZELK command-line uploader: a program file to the Vector-06C's network controller"
cmp -s "$out/zelk.icon" "$out/zelk-upload.icon" || fail "zelk-upload.exe's icon is not zelk.exe's"

echo "check-windows-zip: $zip is fine ($(stat -c %s "$zip") bytes, sha256 $(sha256sum <"$zip" | cut -c1-16)…)"
