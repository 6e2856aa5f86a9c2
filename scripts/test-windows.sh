#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The Windows stage: cross-builds zelk-upload.exe and the Windows tests into
# build/mingw, and runs them under Wine against the Linux zelk-emu, which
# stands behind COM1 on a pseudo-terminal (Wine's registry maps COM1 to it).
# Needs no display. Ends with "windows: N passed, M failed[, K skipped]".
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

root=$PWD
build=$root/build/mingw
work=$build/wine-run
jobs=${ZELK_JOBS:-2}

# The Linux emulator: the one given, or a small build of its own.
if [ -z "${ZELK_EMU:-}" ]; then
  echo "=== zelk-emu (Linux) build"
  cmake -S . -B build/emu -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_UI=OFF -DBUILD_TESTING=OFF >/dev/null
  cmake --build build/emu -j "$jobs" --target zelk-emu
  ZELK_EMU=$root/build/emu/tools/zelk-emu
fi

echo "=== mingw build"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" -DZELK_BUILD_UI=OFF \
  -DZELK_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$jobs" --target zelk-upload zelk_windows_tests
upload_exe=$build/app/zelk-upload.exe
tests_exe=$build/tests/windows/zelk_windows_tests.exe

# A private Wine prefix; console programs need no display.
export WINEPREFIX=$build/wine-prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
rm -rf "$work"
mkdir -p "$work"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "=== wine prefix"
  wineboot -i </dev/null >"$work/wineboot.log" 2>&1
  wineserver -w
fi

passed=0 failed=0 skipped=0
pass() { passed=$((passed + 1)); echo "PASS $1"; }
fail() { failed=$((failed + 1)); echo "FAIL $1${2:+: $2}"; }

emu_pid=
stop_emu() {
  if [ -n "$emu_pid" ]; then
    kill -CONT "$emu_pid" 2>/dev/null || true
    kill "$emu_pid" 2>/dev/null || true
    wait "$emu_pid" 2>/dev/null || true
    emu_pid=
  fi
}
cleanup() {
  stop_emu
  wineserver -k 2>/dev/null || true
}
trap cleanup EXIT

# Starts zelk-emu with the options given, maps COM1 to its terminal and
# restarts the Wine server so that the mapping takes effect.
start_emu() {  # name emu-args...
  local name=$1; shift
  stop_emu
  coproc EMU { exec "$ZELK_EMU" --loop "$@" 2>"$work/$name.emu.err"; }
  emu_pid=$EMU_PID
  local pty=
  read -r -t 20 pty <&"${EMU[0]}" || true  # its first line, flushed at once
  [ -n "$pty" ] || { echo "zelk-emu printed no terminal"; return 1; }
  wine reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$pty" /f </dev/null >/dev/null 2>&1
  wineserver -k || true
  wineserver -w
  wineserver -p 30 >>"$work/wineserver.log" 2>&1
}

# A program file of random bytes, and what the emulator must rebuild from
# it: the file with zeros up to whole 256-byte pages.
make_file() {  # size path
  head -c "$1" /dev/urandom >"$2"
  cp "$2" "$2.expected"
  truncate -s $(( ($1 + 255) / 256 * 256 )) "$2.expected"
}

# Waits (inotify, through tail -F) until a file holds a text, at most a bound.
wait_for_text() {  # file text bound-seconds
  timeout "$3" grep -q -m 1 -- "$2" < <(exec tail -n +1 -F --pid=$$ "$1" 2>/dev/null)
}

# zelk-upload.exe in the background: up_pid; finish_upload waits for it with
# a bound and sets up_rc (143 when it had to be killed).
start_upload() {  # name args...
  local name=$1; shift
  wine "$upload_exe" "$@" >"$work/$name.out" 2>"$work/$name.err" </dev/null &
  up_pid=$!
}
finish_upload() {  # bound-seconds
  (exec sleep "$1"; ) & local watchdog=$!
  { wait "$watchdog"; kill "$up_pid"; } 2>/dev/null &
  local killer=$!
  up_rc=0
  wait "$up_pid" || up_rc=$?
  kill "$watchdog" 2>/dev/null || true
  wait "$killer" 2>/dev/null || true
}

# --- the Windows tests (GoogleTest) --------------------------------------
echo "=== zelk_windows_tests.exe"
start_emu gtest
rc=0
timeout 300 wine "$tests_exe" --gtest_filter='-*StalledDevice*' </dev/null >"$work/gtest.log" 2>&1 || rc=$?
# The same program again with the emulator stopped: nothing takes the bytes.
start_emu stalled
kill -STOP "$emu_pid"
timeout 120 wine "$tests_exe" --gtest_filter='*StalledDevice*' </dev/null >>"$work/gtest.log" 2>&1 || rc=$?
kill -CONT "$emu_pid"
grep -E '^\[ *(RUN|OK|FAILED|SKIPPED) *\]' "$work/gtest.log" || true
g_passed=$(grep -cE '^\[ +OK \]' "$work/gtest.log" || true)
g_failed=$(grep -cE '^\[  FAILED  \] [A-Za-z].*\(' "$work/gtest.log" || true)
g_skipped=$(grep -cE '^\[  SKIPPED \] [A-Za-z].*\(' "$work/gtest.log" || true)
passed=$((passed + g_passed)); failed=$((failed + g_failed)); skipped=$((skipped + g_skipped))
if [ "$rc" -ne 0 ] && [ "$g_failed" -eq 0 ]; then
  fail "zelk_windows_tests.exe exited $rc"; tail -20 "$work/gtest.log"
fi

# --- zelk-upload.exe ------------------------------------------------------
echo "=== zelk-upload.exe"

# Whole uploads, byte-exact, with rejected packets resent.
upload_case() {  # name size start reject-list
  local name=$1 size=$2 start=$3 reject=$4
  make_file "$size" "$work/$name.rom"
  start_emu "$name" --output "$work/$name.rebuilt" --reject "$reject"
  local TIMEFORMAT='%R s wall, %U s user + %S s system CPU'
  up_rc=0
  { time timeout 300 wine "$upload_exe" -p 1 -s "$start" "$work/$name.rom" >"$work/$name.out" 2>"$work/$name.err" \
      </dev/null; } 2>"$work/$name.time" || up_rc=$?
  if [ "$up_rc" -ne 0 ]; then fail "$name" "exit $up_rc: $(tail -n 2 "$work/$name.err" | tr '\r\n' '  ')"; return; fi
  wait_for_text "$work/$name.emu.err" "sha256" 10 || true
  if ! grep -q "Upload complete." "$work/$name.err"; then fail "$name" "no completion message"; return; fi
  if ! cmp -s "$work/$name.rom.expected" "$work/$name.rebuilt"; then fail "$name" "the rebuilt bytes differ"; return; fi
  local rejected
  rejected=$(grep -o "checksum errors: [0-9]*" "$work/$name.err" | tail -n 1 || true)
  if [ "$rejected" != "checksum errors: $(echo "$reject" | tr ',' '\n' | wc -l)" ]; then
    fail "$name" "progress says '$rejected'"; return
  fi
  pass "$name ($size bytes, byte-exact; $(cat "$work/$name.time"))"
}
upload_case upload-1 1 FF00h 1
upload_case upload-300 300 0000h 1,4
upload_case upload-65535 65535 0100h 3,500,2000

# The device answers something else: the upload fails.
make_file 1000 "$work/unexpected.rom"
start_emu unexpected --unexpected-reply 5
up_rc=0
timeout 60 wine "$upload_exe" -p 1 -q "$work/unexpected.rom" >/dev/null 2>"$work/unexpected.err" </dev/null || up_rc=$?
if [ "$up_rc" -eq 1 ] && grep -q "Upload failed!" "$work/unexpected.err"; then
  pass "unexpected reply: exit 1"
else
  fail "unexpected reply" "exit $up_rc: $(tr '\r\n' '  ' <"$work/unexpected.err")"
fi

# A port with nothing behind it.
up_rc=0
timeout 60 wine "$upload_exe" -p 7 "$work/unexpected.rom" >/dev/null 2>"$work/open-error.err" </dev/null || up_rc=$?
if [ "$up_rc" -eq 3 ] && grep -qF 'Error opening port COM7: \\.\COM7: ' "$work/open-error.err"; then
  pass "open error: exit 3, $(grep -F 'Error opening port' "$work/open-error.err" | tr -d '\r')"
else
  fail "open error" "exit $up_rc: $(tr '\r\n' '  ' <"$work/open-error.err")"
fi

# Slow uploads (9600 baud, about 90 s for 64 KiB) that something ends early.
make_file 65535 "$work/slow.rom"
interrupt_case() {  # name expected-exit expected-text action
  local name=$1 want=$2 text=$3 action=$4
  start_emu "$name" --baud 9600
  # A time-out a loaded machine does not reach between two replies.
  start_upload "$name" -p 1 -t 4 "$work/slow.rom"
  if ! wait_for_text "$work/$name.err" "bytes  10%" 60; then
    kill "$up_pid" 2>/dev/null || true; finish_upload 1; fail "$name" "the upload did not get going: $(tr '\r\n' '  ' <"$work/$name.err")"; return
  fi
  local started=$SECONDS
  case $action in
    ctrl-c) kill -INT "$up_pid" || true ;;    # Wine turns SIGINT into CTRL_C_EVENT
    hang-up) stop_emu ;;                      # the terminal's other side goes away
    silence) kill -STOP "$emu_pid" || true ;; # the device stops answering
  esac
  finish_upload 20
  local took=$((SECONDS - started))
  if [ "$action" = silence ]; then kill -CONT "$emu_pid" 2>/dev/null || true; fi
  if [ "$up_rc" -eq "$want" ] && grep -q -- "$text" "$work/$name.err" && [ "$took" -le 7 ]; then
    pass "$name: exit $want within ${took} s"
  else
    fail "$name" "exit $up_rc after ${took} s: $(tail -n 1 "$work/$name.err" | tr '\r\n' '  ')"
  fi
}
interrupt_case stop 1 "Upload stopped!" ctrl-c
# Whichever sees the hang-up first, the reader or the next write, reports it.
interrupt_case hang-up 3 "Error \(reading\|writing\) port COM1" hang-up
interrupt_case time-out 4 "No reply from the device for 4 s" silence

stop_emu
summary="windows: $passed passed, $failed failed"
[ "$skipped" -gt 0 ] && summary+=", $skipped skipped"
echo "$summary"
[ "$failed" -eq 0 ]
