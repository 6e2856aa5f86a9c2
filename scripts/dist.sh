#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
#
# Writes the source tarball OUTPUT (top folder PREFIX): every file git tracks,
# as it is in the work tree, and source-date-epoch holding SOURCE_DATE_EPOCH,
# which a build from the tarball, with no git history, takes its time stamp
# from. Names sorted, owner root, every time SOURCE_DATE_EPOCH, gzip without a
# name or time: the same tree always gives the same bytes.
# The dist target of CMake runs it:  cmake --build <dir> --target dist
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: SOURCE_DATE_EPOCH=N scripts/dist.sh OUTPUT PREFIX" >&2; exit 2; }
output=$1 prefix=$2
: "${SOURCE_DATE_EPOCH:?dist.sh needs SOURCE_DATE_EPOCH}"
cd "$(dirname "$0")/.."

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
echo "$SOURCE_DATE_EPOCH" >"$stage/source-date-epoch"
# Tracked files deleted in the work tree are left out, as a build would miss them.
git ls-files -z --cached | while IFS= read -r -d '' f; do
  if [ -e "$f" ] || [ -L "$f" ]; then printf '%s\0' "$f"; fi
done >"$stage/files"

# One archive: the tracked files, then source-date-epoch. The options that
# shape the members come before the list of names they apply to.
opts=(--format=gnu --owner=0 --group=0 --numeric-owner --mtime="@$SOURCE_DATE_EPOCH"
      --transform="flags=r;s,^,$prefix/,")
tar --create -f "$stage/src.tar" "${opts[@]}" --sort=name --no-recursion \
    --mode='u+rw,go-w,go+rX' --null --files-from="$stage/files"
tar --append -f "$stage/src.tar" "${opts[@]}" --mode=0644 -C "$stage" source-date-epoch
gzip -9n <"$stage/src.tar" >"$output.tmp"
mv "$output.tmp" "$output"
echo "dist: $output ($(tr -cd '\0' <"$stage/files" | wc -c) files)"
