#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Sets up, builds and starts the tool on a demo: an emulated ZELK controller
# stands behind COM1, so a whole upload can be seen without hardware.
# With no display, the same demo upload runs through zelk-upload instead.
# For a real device run build/release/app/zelk (or zelk-upload) directly.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target zelk zelk-upload zelk-emu

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec scripts/demo.sh "$@"
fi

echo "run: no display found; uploading samples/hello.rom with zelk-upload to the emulated controller instead."
coproc EMU { exec build/release/tools/zelk-emu; }
emu_pid=$EMU_PID  # bash unsets EMU_PID once the coprocess has ended
trap 'kill "$emu_pid" 2>/dev/null || true' EXIT
read -r device <&"${EMU[0]}"
status=0
ZELK_COM1="$device" build/release/app/zelk-upload --port 1 --start 0100h samples/hello.rom || status=$?
# After a whole upload the emulator prints its summary and ends by itself.
if [ "$status" -eq 0 ]; then wait "$emu_pid" || true; fi
exit "$status"
