#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
#
# Prints NEWS.md as a Debian changelog, for the package's changelog.gz:
#
#   news-to-changelog.sh NEWS.md VERSION "NAME <EMAIL>" SOURCE_DATE_EPOCH OUTPUT
#
# Every "## X.Y.Z (YYYY-MM-DD)" section is one entry, each "- " item (with
# its indented continuation lines) one "*" line, wrapped at 78 columns. The
# newest entry must be VERSION and carries SOURCE_DATE_EPOCH as its date, so
# the package's changelog changes with the commit, not with the build (with
# no SOURCE_DATE_EPOCH, the time it runs); older entries carry their day at
# midnight UTC.
set -euo pipefail
[ $# -eq 5 ] || { echo "usage: news-to-changelog.sh NEWS.md VERSION MAINTAINER EPOCH OUTPUT" >&2; exit 2; }
news=$1 version=$2 maintainer=$3 epoch=${4:-$(date +%s)} output=$5
exec >"$output"

newest=$(sed -n 's/^## \([0-9][0-9.]*\) (.*/\1/p' "$news" | head -n 1)
if [ "$newest" != "$version" ]; then
  echo "news-to-changelog: the newest entry of $news is '$newest', not the version $version" >&2
  exit 1
fi

# One "version<TAB>day<TAB>item" line per item, markdown marks removed.
items=$(awk '
  function flush() { if (item != "") { print version "\t" day "\t" item; item = "" } }
  /^## [0-9]/ {
    flush()
    version = $2; day = $3; gsub(/[()]/, "", day); next
  }
  /^- / { flush(); item = substr($0, 3); next }
  /^  +[^ ]/ && item != "" { line = $0; sub(/^ +/, "", line); item = item " " line; next }
  { flush() }
  END { flush() }' "$news" | sed 's/`//g; s/\*\*//g')

previous_date=""
first=true
while IFS= read -r entry; do
  [ -n "$entry" ] || continue
  if $first; then
    date=$(LC_ALL=C date -u -R -d "@$epoch")
    first=false
  else
    day=$(awk -F '\t' -v v="$entry" '$1 == v { print $2; exit }' <<<"$items")
    date=$(LC_ALL=C date -u -R -d "$day 00:00:00 UTC")
  fi
  [ -z "$previous_date" ] || echo
  echo "zelk ($entry) unstable; urgency=medium"
  echo
  awk -F '\t' -v v="$entry" '$1 == v { print $3 }' <<<"$items" | while IFS= read -r text; do
    # "  * " then the text, continued on lines indented by four spaces.
    fold -s -w 74 <<<"$text" | sed 's/ *$//' | sed '1s/^/  * /; 2,$s/^/    /'
  done
  echo
  echo " -- $maintainer  $date"
  previous_date=$date
done < <(cut -f 1 <<<"$items" | uniq)
