#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Checks the Debian package scripts/package.sh built (or the one given): its
# fields and contents; lintian, which fails it on any error or warning (an
# override would go in packaging/zelk.lintian-overrides with its reason beside
# it; none is needed); the AppStream metadata (appstreamcli) and the desktop entry; the
# manual pages as man reads them; the changelog against NEWS.md; the bash
# completion; and the packaged programs run from an extracted copy: the
# --version of all three with the licence and one upload by zelk-upload to
# zelk-emu. Needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-package: $*" >&2; exit 1; }

version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=${1:-build/zelk_${version}_$(dpkg --print-architecture).deb}
[ -f "$deb" ] || fail "no package $deb (scripts/package.sh builds it)"

[ "$(dpkg-deb -f "$deb" Package)" = zelk ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
[ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "section"
[ "$(dpkg-deb -f "$deb" Priority)" = optional ] || fail "priority"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libnettle8 libc6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/zelk usr/bin/zelk-upload usr/bin/zelk-emu \
         usr/share/applications/io.github.zelk.Zelk.desktop usr/share/icons/hicolor/scalable/apps/zelk.svg \
         usr/share/metainfo/io.github.zelk.Zelk.metainfo.xml \
         usr/share/doc/zelk/copyright usr/share/doc/zelk/changelog.gz usr/share/doc/zelk/NEWS.md \
         usr/share/man/man1/zelk.1.gz usr/share/man/man1/zelk-upload.1.gz usr/share/man/man1/zelk-emu.1.gz \
         usr/share/bash-completion/completions/zelk-upload \
         usr/share/doc/zelk/README.md usr/share/doc/zelk/samples/hello.rom \
         usr/share/locale/ru/LC_MESSAGES/zelk-upload.mo; do
  grep -qxF "./$f" <<<"$contents" || fail "the package lacks /$f"
done

root=$(mktemp -d)
emu_pid=""
cleanup() {
  if [ -n "$emu_pid" ]; then kill "$emu_pid" 2>/dev/null || true; fi
  rm -rf "$root"
}
trap cleanup EXIT
dpkg -x "$deb" "$root"
bin=$root/usr/bin

# lintian: any error or warning fails (the package's own overrides apply).
# Root is how CI runs; lintian only warns about it.
echo "=== lintian"
lintian_status=0
lintian_out=$(lintian --fail-on error,warning --display-info "$deb" 2>&1) || lintian_status=$?
lintian_out=$(grep -v '^running with root privileges' <<<"$lintian_out" || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
if [ "$lintian_status" -ne 0 ] || grep -q '^[EW]: ' <<<"$lintian_out"; then
  fail "lintian found errors or warnings (status $lintian_status)"
fi

desktop-file-validate "$root/usr/share/applications/io.github.zelk.Zelk.desktop" || fail "desktop entry"
echo "=== appstreamcli"
metainfo=$root/usr/share/metainfo/io.github.zelk.Zelk.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "AppStream metadata"
grep -q '<launchable type="desktop-id">io.github.zelk.Zelk.desktop</launchable>' "$metainfo" \
  || fail "the metadata does not launch the desktop entry io.github.zelk.Zelk.desktop"
release=$(sed -n 's/.*<release version="\([^"]*\)".*/\1/p' "$metainfo" | head -n 1)
[ "$release" = "$version" ] || fail "the metadata's newest release is $release, not $version"

# The changelog: Debian's format, the package's version on top, NEWS.md's items.
changelog=$(zcat "$root/usr/share/doc/zelk/changelog.gz")
[ "$(dpkg-parsechangelog -l- -S Version <<<"$changelog")" = "$version" ] || fail "changelog version"
news_items=$(grep -c '^- ' NEWS.md)
[ "$(grep -c '^  \* ' <<<"$changelog")" -eq "$news_items" ] || fail "the changelog lacks items of NEWS.md"
cmp -s packaging/copyright "$root/usr/share/doc/zelk/copyright" || fail "copyright file"

first_line() { head -n 1 <<<"$1"; }
for program in zelk zelk-upload zelk-emu; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$bin/$program" --version) || fail "$program --version failed"
  [ "$(first_line "$out")" = "$program $version" ] || fail "$program --version printed '$out'"
  page=$root/usr/share/man/man1/$program.1.gz
  zcat "$page" | grep -q "^\.SH \"SEE ALSO\"" || fail "$program(1) lacks SEE ALSO"
  # man's own warnings (groff's, with -ww), as lintian's manpage check runs it.
  warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man warns about $program(1): $warnings"
  if zcat "$page" | grep -qF "$root"; then fail "$program(1) holds a build path"; fi
done
# Every program carries the licence in --version, and so in its page.
for program in zelk zelk-upload zelk-emu; do
  out=$("$bin/$program" --version)
  [[ $out == *"License GPLv3+: GNU GPL version 3 or later"* ]] || fail "$program --version lacks the licence: $out"
  zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q '^\.SH COPYRIGHT' || fail "$program(1) lacks COPYRIGHT"
done

# The packaged catalog: zelk-upload in Russian (ZELK_LOCALEDIR stands in for
# the installed /usr/share/locale).
out=$(LANG=ru_RU.UTF-8 LC_ALL= LANGUAGE= ZELK_LOCALEDIR="$root/usr/share/locale" "$bin/zelk-upload" -b 300 x.rom 2>&1) || true
[[ $out == *"неподдерживаемая скорость 300"* ]] || fail "zelk-upload in Russian printed '$out'"

# The completion offers the baud rates.
completion=$(bash -c 'source /usr/share/bash-completion/bash_completion
  source "$1"
  COMP_WORDS=(zelk-upload --baud 96); COMP_CWORD=2; COMP_LINE="zelk-upload --baud 96"; COMP_POINT=${#COMP_LINE}
  _zelk_upload; echo "${COMPREPLY[*]}"' _ "$root/usr/share/bash-completion/completions/zelk-upload")
[ "$completion" = 9600 ] || fail "completion of --baud 96 gave '$completion'"

# One upload of the packaged sample; the emulator ends with this script.
coproc EMU { exec "$bin/zelk-emu" --watch-stdin 2>"$root/emu.txt"; }
emu_pid=$EMU_PID
read -r -t 30 device <&"${EMU[0]}" || fail "zelk-emu printed no path"
timeout 60 "$bin/zelk-upload" -d "$device" -q "$root/usr/share/doc/zelk/samples/hello.rom" \
  || fail "the packaged zelk-upload failed with status $?; zelk-emu: $(cat "$root/emu.txt")"
status=0
wait "$emu_pid" || status=$?
emu_pid=""
[ "$status" -eq 0 ] || fail "zelk-emu ended with status $status: $(cat "$root/emu.txt")"
grep -q "^upload: completed" "$root/emu.txt" || fail "zelk-emu: $(cat "$root/emu.txt")"

echo "check-package: $deb is fine ($(stat -c %s "$deb") bytes)"
