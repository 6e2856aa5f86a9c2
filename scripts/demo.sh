#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The window against an emulated ZELK controller: no hardware needed.
# zelk-emu serves one upload after another on a pseudo-terminal that COM1
# points at (ZELK_COM1); load samples/hello.rom and press "РС -> ЗЕЛК".
# Closing the window stops the emulator. Needs a display; without one it
# says so and exits with status 3.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "demo: no display (DISPLAY and WAYLAND_DISPLAY are empty), so the window cannot open." >&2
  exit 3
fi

build=build/release
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target zelk zelk-emu >/dev/null

# As a coprocess the emulator's standard input is a pipe this script holds:
# with --watch-stdin it ends with the script even if the script is killed.
coproc EMU { exec "$build/tools/zelk-emu" --loop --watch-stdin; }
emu_pid=$EMU_PID
window_pid=""
cleanup() {
  if [ -n "$window_pid" ]; then kill "$window_pid" 2>/dev/null || true; fi
  kill "$emu_pid" 2>/dev/null || true
  wait "$emu_pid" 2>/dev/null || true
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if ! read -r device <&"${EMU[0]}"; then
  echo "demo: the emulator did not start" >&2
  exit 1
fi
echo "demo: emulated ZELK controller on $device, as COM1."
echo "demo: press \"Открыть\", then \"Открыть файл\" and pick samples/hello.rom, then \"РС -> ЗЕЛК\"."
echo "demo: the emulator sums up each upload here; closing the window stops it."

# In the background, so that a signal to this script is handled at once.
ZELK_COM1="$device" "$build/app/zelk" &
window_pid=$!
status=0
wait "$window_pid" || status=$?
window_pid=""
exit "$status"
