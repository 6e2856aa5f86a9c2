#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Checks the Debian package scripts/package.sh built (or the one given): its
# fields and contents, the desktop entry, the bash completion, and the
# packaged programs run from an extracted copy: the --version of all three
# and one upload by zelk-upload to zelk-emu. Needs no display.
set -euo pipefail
cd "$(dirname "$0")/.."

fail() { echo "check-package: $*" >&2; exit 1; }

version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=${1:-build/zelk_${version}_$(dpkg --print-architecture).deb}
[ -f "$deb" ] || fail "no package $deb (scripts/package.sh builds it)"

[ "$(dpkg-deb -f "$deb" Package)" = zelk ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6widgets6 libnettle8 libc6; do
  [[ $depends == *"$lib"* ]] || fail "Depends lacks $lib: $depends"
done

contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in usr/bin/zelk usr/bin/zelk-upload usr/bin/zelk-emu \
         usr/share/applications/zelk.desktop usr/share/icons/hicolor/scalable/apps/zelk.svg \
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

desktop-file-validate "$root/usr/share/applications/zelk.desktop" || fail "desktop entry"

for program in zelk zelk-upload zelk-emu; do
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM= "$bin/$program" --version) || fail "$program --version failed"
  [ "$out" = "$program $version" ] || fail "$program --version printed '$out'"
  zcat "$root/usr/share/man/man1/$program.1.gz" | grep -q "^\.SH \"SEE ALSO\"" || fail "$program(1) lacks SEE ALSO"
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
  || fail "the packaged zelk-upload failed with status $?"
status=0
wait "$emu_pid" || status=$?
emu_pid=""
[ "$status" -eq 0 ] || fail "zelk-emu ended with status $status: $(cat "$root/emu.txt")"
grep -q "^upload: completed" "$root/emu.txt" || fail "zelk-emu: $(cat "$root/emu.txt")"

echo "check-package: $deb is fine ($(stat -c %s "$deb") bytes)"
