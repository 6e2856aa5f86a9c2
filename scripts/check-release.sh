#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
#
# The source tarball and the reproducible package, after scripts/package.sh:
#
#  1. makes the source tarball build/zelk-<version>.tar.gz (the dist target:
#     exactly the files git tracks, and the commit's SOURCE_DATE_EPOCH);
#  2. unpacks it into a scratch folder outside any git repository and, with
#     no network (where unshare allows) and git unable to see a repository,
#     builds the Debian package there with the tarball's own
#     scripts/package.sh: a second build, in another folder, minutes later,
#     from nothing that the first build made;
#  3. builds and runs there the tests that need no window system (transfer,
#     serial, tools, cli, ports);
#  4. compares that package with build/zelk_<version>_<arch>.deb byte for
#     byte, and shows what differs when they do not match.
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

# 3. The toolkit-free tests, from the tarball, offline.
echo "=== toolkit-free tests from the tarball"
tests=(zelk_transfer_tests zelk_window_tests serial_tests zelk_tools_tests cli_tests cli_upload_tests ports_tests)
"${offline[@]}" cmake --build "$src/build/package" -j "$(nproc)" --target "${tests[@]}"
"${offline[@]}" ctest --test-dir "$src/build/package" --output-on-failure -j "$(nproc)" \
  -E '_NOT_BUILT$' --no-tests=error

# 4. Byte for byte.
if cmp -s "$deb" "$second"; then
  echo "check-release: reproducible: $deb and the package built from $tarball are identical ($(sha256sum <"$deb" | cut -c1-16)…)"
  exit 0
fi
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
fail "the package is not reproducible"
