#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
#
# Gives every tracked source, script and build file the licence header: an
# SPDX-License-Identifier line and a copyright line, in the file's own comment
# syntax, at the top (after a "#!" line or an "<?xml ...?>" declaration).
# Running it again changes nothing.
#
#   scripts/spdx.sh           adds the header where it is missing
#   scripts/spdx.sh --check   lists the files without it; exits 1 if any
#
# Documents (*.md), data (samples, translations, JSON, fuzz corpora, images)
# and the licence text itself take no header. A text file of a kind this
# script does not know is listed too: add its comment syntax below.
set -euo pipefail
cd "$(dirname "$0")/.."

spdx='SPDX-License-Identifier: GPL-3.0-or-later'
copyright='Copyright (C) 2026 The ZELK developers'

check=false
case "${1:-}" in
  --check) check=true ;;
  '') ;;
  *) echo "usage: scripts/spdx.sh [--check]" >&2; exit 2 ;;
esac

# Sets style to the comment style of a file: c (//), hash (#), xml
# (<!-- -->), roff (.\"), none (takes no header) or unknown.
style_of() {
  local path=$1 name=${1##*/}
  case "$name" in *.in) name=${name%.in} ;; esac
  case "$path" in
    */corpus/*|*/corpora/*|*/testdata/*|samples/*|po/*) style=none; return ;;
  esac
  case "$name" in
    LICENSE|COPYING|copyright|*.md|README*.txt|*.json|*.po|*.pot|*.rom|*.bin|*.png|*.ico|*.jpg|*.gz|*.zip) style=none ;;
    *.c|*.cc|*.cpp|*.cxx|*.h|*.hh|*.hpp|*.rc) style=c ;;
    *.sh|*.bash|*.bash-completion|*.py|*.cmake|CMakeLists.txt|*.supp|*.desktop|*.dict|*.options \
      |*.h2m|*.yml|*.yaml|*.toml|*.conf|Makefile|*.mk|.gitignore|.gitattributes|*.lintian-overrides) style=hash ;;
    *.xml|*.svg|*.manifest) style=xml ;;
    *.[1-9]|*.roff) style=roff ;;
    *) style=unknown ;;
  esac
  # A script without an extension, by its "#!" line.
  if [ "$style" = unknown ] && [ "$(head -c 2 "$path")" = '#!' ]; then style=hash; fi
}

# Writes the header into the file: after the first line when that is a "#!"
# line or an XML declaration, else at the top. A file that has the SPDX line
# but not the copyright line gets the copyright line below it.
add_header() {  # path style
  local path=$1 style=$2 open close tmp
  case "$style" in
    c) open='// ' close='' ;;
    hash) open='# ' close='' ;;
    xml) open='<!-- ' close=' -->' ;;
    roff) open='.\" ' close='' ;;
  esac
  tmp=$(mktemp "$path.spdx.XXXXXX")
  awk -v spdx="$open$spdx$close" -v copy="$open$copyright$close" -v has_spdx_text="$spdx" -v style="$style" '
    function header() {
      if (index(top, has_spdx_text) == 0) print spdx
      print copy
      if (style == "c" || style == "xml") blank = 1
      done = 1
    }
    NR == 1 { top = "" }
    { lines[NR] = $0; if (NR <= 12) top = top "\n" $0 }
    END {
      first = 1
      if (NR >= 1 && (lines[1] ~ /^#!/ || lines[1] ~ /^<\?xml/)) { print lines[1]; first = 2 }
      if (index(top, has_spdx_text) > 0) {
        # Only the copyright line is missing: it goes right below the SPDX line.
        for (i = first; i <= NR; i++) {
          print lines[i]
          if (!done && index(lines[i], has_spdx_text) > 0) { print copy; done = 1 }
        }
        exit
      }
      header()
      if (blank && NR >= first && lines[first] != "") print ""
      for (i = first; i <= NR; i++) print lines[i]
    }' "$path" >"$tmp"
  chmod --reference="$path" "$tmp"
  mv "$tmp" "$path"
}

# Tracked text files (git's own test for binary: "-text"), then those whose
# first 12 lines lack either header line, in one pass of awk.
mapfile -t files < <(git ls-files -z --eol | tr '\0' '\n' \
  | awk -F '\t' '$1 !~ /^i\/-text/ && $1 !~ /^i\/none/ { print $2 }')
existing=()
for path in "${files[@]}"; do
  if [ -f "$path" ] && [ ! -L "$path" ] && [ -s "$path" ]; then existing+=("$path"); fi
done
mapfile -t lacking < <([ ${#existing[@]} -eq 0 ] || awk -v s="$spdx" -v c="$copyright" '
  FNR == 1 { has_s = 0; has_c = 0; if (NR > 1) judge(previous); previous = FILENAME }
  FNR <= 12 { if (index($0, s)) has_s = 1; if (index($0, c)) has_c = 1 }
  function judge(name) { if (!(last_s && last_c)) print name }
  { last_s = has_s; last_c = has_c }
  END { if (NR > 0) judge(previous) }' "${existing[@]}")

missing=0
for path in "${lacking[@]}"; do
  style_of "$path"
  [ "$style" != none ] || continue
  if [ "$style" = unknown ]; then
    echo "$path: no known comment syntax (add its kind to scripts/spdx.sh)"
    missing=$((missing + 1))
    continue
  fi
  if $check; then
    echo "$path"
    missing=$((missing + 1))
  else
    add_header "$path" "$style"
    echo "spdx: added the header to $path"
  fi
done

if [ "$missing" -gt 0 ]; then
  if $check; then
    echo "spdx: $missing file(s) above lack the licence header; scripts/spdx.sh adds it" >&2
  else
    echo "spdx: $missing file(s) above need their comment syntax added to scripts/spdx.sh" >&2
  fi
  exit 1
fi
if $check; then echo "spdx: every source, script and build file has the licence header"; fi
