#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
#
# The source tarball and the reproducible package and zip, after
# scripts/package.sh and scripts/windows-zip.sh:
#
#  1. makes the source tarball build/zelk-<version>.tar.gz (the dist target:
#     exactly the files git tracks, and the commit's SOURCE_DATE_EPOCH), and
#     build/SHA256SUMS: the sums of the .deb, the zip and the tarball, in
#     sha256sum -c format;
#  2. unpacks it into a scratch folder outside any git repository and, with
#     no network (where unshare allows) and git unable to see a repository,
#     builds the Debian package and the Windows zip there with the tarball's
#     own scripts/package.sh and scripts/windows-zip.sh: a second build, in
#     another folder, minutes later, from nothing that the first build made;
#  3. builds and runs there the tests that need no window system (transfer,
#     serial, tools, cli, ports);
#  4. checks that package and that zip, with the tarball, against
#     build/SHA256SUMS (sha256sum -c), as a user rebuilding the release
#     would, and shows what differs when they do not match.
#
# Nothing of the first build is reused: compiler output shared between the
# two builds would carry the first build's paths and times into the second
# and hide exactly what this check looks for.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

fail() { echo "check-release: $*" >&2; exit 1; }

version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=build/zelk_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no package $deb (scripts/package.sh builds it)"
[ -f build/package/CMakeCache.txt ] || fail "no build/package (scripts/package.sh configures it)"
zip=build/zelk-$version-windows-x86_64.zip
[ -f "$zip" ] || fail "no zip $zip (scripts/windows-zip.sh builds it)"

# 1. The tarball, and the time stamp the first build used.
cmake --build build/package --target dist
tarball=build/package/zelk-$version.tar.gz
[ -f "$tarball" ] || fail "the dist target made no $tarball"
mv "$tarball" build/
tarball=build/zelk-$version.tar.gz
epoch=$(cat build/package/source-date-epoch)
[ -n "$epoch" ] || fail "build/package has no SOURCE_DATE_EPOCH"
listed=$(tar -tzf "$tarball" | sed "s,^zelk-$version/,," | grep -v '/$' | grep -vx source-date-epoch | sort)
tracked=$(git ls-files | sort)
[ "$listed" = "$tracked" ] || fail "the tarball does not hold exactly the tracked files:
$(diff <(echo "$tracked") <(echo "$listed") | head -20)"
[ "$(cat build/mingw/source-date-epoch)" = "$epoch" ] \
  || fail "$zip was made with SOURCE_DATE_EPOCH $(cat build/mingw/source-date-epoch), the package with $epoch"
# The sums published beside the three files.
(cd build && sha256sum "$(basename "$deb")" "$(basename "$zip")" "$(basename "$tarball")" >SHA256SUMS)
(cd build && sha256sum -c --quiet SHA256SUMS) || fail "build/SHA256SUMS does not check"

# 2. The second build, from the tarball alone.
scratch=$(mktemp -d /tmp/zelk-release.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
tar -xzf "$tarball" -C "$scratch"
src=$scratch/zelk-$version
[ "$(cat "$src/source-date-epoch")" = "$epoch" ] \
  || fail "the tarball's source-date-epoch ($(cat "$src/source-date-epoch")) is not the build's ($epoch)"
offline=()
if unshare -n true 2>/dev/null; then
  offline=(unshare -n)
else
  echo "check-release: unshare -n is not allowed here; building from the tarball with the network up"
fi
# No repository above the scratch folder is looked for, none is inside.
export GIT_CEILING_DIRECTORIES=$scratch
unset SOURCE_DATE_EPOCH
echo "=== package from $tarball in $src"
"${offline[@]}" "$src/scripts/package.sh" >"$scratch/package.log" 2>&1 \
  || { tail -40 "$scratch/package.log"; fail "building the package from the tarball failed"; }
[ "$(cat "$src/build/package/source-date-epoch")" = "$epoch" ] \
  || fail "the build from the tarball took SOURCE_DATE_EPOCH '$(cat "$src/build/package/source-date-epoch")', not $epoch"
second=$src/$deb
echo "=== Windows zip from $tarball"
zip_start=$SECONDS
"${offline[@]}" "$src/scripts/windows-zip.sh" >"$scratch/windows-zip.log" 2>&1 \
  || { tail -40 "$scratch/windows-zip.log"; fail "building the zip from the tarball failed"; }
echo "check-release: the zip from the tarball took $((SECONDS - zip_start)) s"
second_zip=$src/$zip

# 3. The toolkit-free tests, from the tarball, offline (the soak, which is
# not built here, ran in the ci stage).
echo "=== toolkit-free tests from the tarball"
tests=(zelk_transfer_tests zelk_window_tests serial_tests zelk_tools_tests cli_tests cli_upload_tests ports_tests)
"${offline[@]}" cmake --build "$src/build/package" -j "$(nproc)" --target "${tests[@]}"
"${offline[@]}" ctest --test-dir "$src/build/package" --output-on-failure -j "$(nproc)" \
  -E '_NOT_BUILT$' -LE soak --no-tests=error

# 4. Byte for byte: the second build against the published sums.
verify=$scratch/verify
mkdir "$verify"
cp build/SHA256SUMS "$verify/"
ln -s "$second" "$verify/$(basename "$deb")"
ln -s "$second_zip" "$verify/$(basename "$zip")"
ln -s "$root/$tarball" "$verify/$(basename "$tarball")"
if (cd "$verify" && sha256sum -c SHA256SUMS); then
  echo "check-release: reproducible: the package and the zip built from $tarball match build/SHA256SUMS:"
  cat build/SHA256SUMS
  exit 0
fi
if ! cmp -s "$deb" "$second"; then
  echo "check-release: $deb and $second differ" >&2
  if command -v diffoscope >/dev/null; then
    diffoscope "$deb" "$second" | head -80 >&2 || true
  else
    a=$scratch/a b=$scratch/b
    mkdir -p "$a" "$b"
    dpkg-deb -R "$deb" "$a"; dpkg-deb -R "$second" "$b"
    diff <(dpkg-deb -c "$deb") <(dpkg-deb -c "$second") >&2 || true
    diff -r "$a" "$b" >&2 || true
  fi
fi
if ! cmp -s "$zip" "$second_zip"; then
  echo "check-release: $zip and $second_zip differ" >&2
  if command -v diffoscope >/dev/null; then
    diffoscope "$zip" "$second_zip" | head -80 >&2 || true
  else
    diff <(unzip -Zv "$zip" 2>/dev/null || python3 -m zipfile -l "$zip") \
         <(unzip -Zv "$second_zip" 2>/dev/null || python3 -m zipfile -l "$second_zip") >&2 || true
    a=$scratch/za b=$scratch/zb
    python3 -m zipfile -e "$zip" "$a"; python3 -m zipfile -e "$second_zip" "$b"
    for f in "$a"/*/*; do
      cmp "$f" "$b/${f#"$a"/}" >&2 || true
    done
  fi
fi
fail "the release is not reproducible"
