#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Installs, with apt-get, only the Debian packages this project needs that are missing.
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  libudev-dev
  nettle-dev
  qt6-base-dev libgl-dev
  libgtest-dev googletest
  fonts-dejavu-core fonts-liberation fontconfig
  xvfb xauth
  help2man dpkg-dev file desktop-file-utils bash-completion
  gettext locales
)
# The Windows cross build and Wine to run it: without their recommends, which
# would bring a desktop's worth of media libraries.
lean_packages=(
  g++-mingw-w64-x86-64-posix
  wine64 wine fonts-wine
  # The real-driver stage: a QEMU guest with a busybox initramfs.
  qemu-system-x86 busybox-static cpio
  # Coverage-guided fuzzing (clang 14's libFuzzer).
  clang libfuzzer-14-dev
  # The release checks: Debian policy and AppStream metadata.
  lintian appstream
  # Screenshots and the Windows icon, made from the SVG at build time.
  imagemagick
)

missing_of() {  # prints the packages given that are not installed
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
      echo "$p"
    fi
  done
}
mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing_lean < <(missing_of "${lean_packages[@]}")

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# zelk-upload speaks Russian only where the ru_RU.UTF-8 locale exists (gettext
# ignores a catalog under a locale setlocale cannot load): the tests need it.
ensure_russian_locale() {
  if locale -a 2>/dev/null | grep -qix 'ru_RU\.utf-\?8'; then return; fi
  echo "setup: generating the ru_RU.UTF-8 locale"
  "${sudo_cmd[@]}" sed -i 's/^# *\(ru_RU\.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU\.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen
}

if [ ${#missing[@]} -eq 0 ] && [ ${#missing_lean[@]} -eq 0 ]; then
  ensure_russian_locale
  exit 0
fi

echo "setup: installing ${missing[*]} ${missing_lean[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -q
if [ ${#missing[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
if [ ${#missing_lean[@]} -gt 0 ]; then
  "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing_lean[@]}"
fi
ensure_russian_locale
