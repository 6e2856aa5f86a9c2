#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# The Windows stage: cross-builds zelk.exe, zelk-upload.exe and the Windows
# tests into build/mingw, and runs them under Wine against the Linux
# zelk-emu, which stands behind COM1 on a pseudo-terminal (Wine's registry
# maps COM1 to it). The window's tests run on a virtual display (Xvfb) and
# leave screenshots in build/mingw/screenshots/. Builds the distribution zip.
# Ends with "windows: N passed, M failed[, K skipped]" and the stage's time.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
stage_start=$SECONDS

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
# The preset scripts/windows-zip.sh builds the release zip with: the
# programs tested here are the ones the zip holds.
cmake --preset mingw >/dev/null
targets=(zelk zelk-upload zelk_windows_tests zelk_window_face_tests zelk_error_box_tests)
# The window logic's own tests, where the tree has them.
if compgen -G "tests/window/*.cpp" >/dev/null; then targets+=(zelk_window_tests); fi
cmake --build "$build" -j "$jobs" --target "${targets[@]}"
zelk_exe=$build/app/zelk.exe
upload_exe=$build/app/zelk-upload.exe
tests_exe=$build/tests/windows/zelk_windows_tests.exe
face_exe=$build/tests/windows/zelk_window_face_tests.exe
error_box_exe=$build/tests/windows/zelk_error_box_tests.exe
logic_exe=$build/tests/window/zelk_window_tests.exe
shots=$build/screenshots

rm -rf "$work" "$shots"
mkdir -p "$work" "$shots"

# The Wine prefix, made once per Wine version outside the clone (wineboot
# takes about 40 s) and hard-linked into build/mingw for each run: the
# registry files, which Wine rewrites, are copies of their own, so runs
# never share what they change.
wine_version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' '_')
cache_root=/var/cache/zelk
mkdir -p "$cache_root" 2>/dev/null && [ -w "$cache_root" ] || cache_root=${XDG_CACHE_HOME:-$HOME/.cache}/zelk
mkdir -p "$cache_root"
cached_prefix=$cache_root/wine-prefix-$wine_version
export WINEDEBUG=-all
# mscoree and mshtml off: wineboot would stop at the Mono and Gecko install prompts.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
(
  flock 9
  if [ ! -f "$cached_prefix/.complete" ]; then
    echo "=== wine prefix (once for $wine_version, in $cached_prefix)"
    rm -rf "$cached_prefix"
    export WINEPREFIX=$cached_prefix
    unset DISPLAY WAYLAND_DISPLAY
    wineboot -i </dev/null >"$work/wineboot.log" 2>&1
    # No window manager on the virtual display: Wine draws the frames
    # itself (else no captions, and each window close waits 2 s).
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f </dev/null >>"$work/wineboot.log" 2>&1
    wineserver -w
    # Debian's Wine does not look in fonts-wine's folder: without Marlett
    # the caption buttons draw as letters. The prefix's own font folder it reads.
    cp /usr/share/wine/fonts/* "$cached_prefix/drive_c/windows/Fonts/"
    touch "$cached_prefix/.complete"
  fi
) 9>"$cache_root/wine-prefix.lock"
export WINEPREFIX=$build/wine-prefix
rm -rf "$WINEPREFIX"
cp -al "$cached_prefix" "$WINEPREFIX"
for reg in "$WINEPREFIX"/*.reg; do cp --remove-destination "$cached_prefix/$(basename "$reg")" "$reg"; done

# The virtual display, on the first free display number.
xvfb_pid=
exec 8< <(exec Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp -noreset 2>"$work/xvfb.log")
xvfb_pid=$!
display_number=
read -r -t 20 display_number <&8 || true
[ -n "$display_number" ] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")"; exit 1; }
export DISPLAY=:$display_number
unset WAYLAND_DISPLAY

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
  if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT

# Starts zelk-emu with the options given, maps COM1 (or $emu_com) to its
# terminal and restarts the Wine server so that the mapping takes effect.
start_emu() {  # name emu-args...
  local name=$1; shift
  stop_emu
  coproc EMU { exec "$ZELK_EMU" --loop "$@" 2>"$work/$name.emu.err"; }
  emu_pid=$EMU_PID
  local pty=
  read -r -t 20 pty <&"${EMU[0]}" || true  # its first line, flushed at once
  [ -n "$pty" ] || { echo "zelk-emu printed no terminal"; return 1; }
  wine reg add 'HKLM\Software\Wine\Ports' /v "${emu_com:-COM1}" /t REG_SZ /d "$pty" /f </dev/null >/dev/null 2>&1
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

# --- the Windows port tests (GoogleTest) ---------------------------------
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

# Counts a GoogleTest log's results into the totals.
count_gtest() {  # log rc name
  local log=$1 rc=$2 name=$3
  grep -E '^\[ *(RUN|OK|FAILED|SKIPPED) *\]' "$log" || true
  local p f k
  p=$(grep -cE '^\[ +OK \]' "$log" || true)
  f=$(grep -cE '^\[  FAILED  \] [A-Za-z].*\(' "$log" || true)
  k=$(grep -cE '^\[  SKIPPED \] [A-Za-z].*\(' "$log" || true)
  passed=$((passed + p)); failed=$((failed + f)); skipped=$((skipped + k))
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
    fail "$name exited $rc"; tail -20 "$log"
  fi
}

# A Unix path as Wine's Z: drive shows it.
windows_path() { local p; p=$(realpath "$1"); echo "Z:${p//\//\\}"; }

# Runs the window's tests with a filter, answering what they ask: "SHOT
# name x y w h" takes a screenshot of that part of the virtual display,
# "HANGUP" makes the device go away. Sets face_rc.
run_face_tests() {  # log filter [test program]
  local log=$1 filter=$2 exe=${3:-$face_exe} line
  local ask=$work/face.ask tell=$work/face.tell
  rm -f "$ask" "$tell"
  mkfifo "$ask" "$tell"
  # Ends with its exit status on a line of its own: Wine's helper processes
  # keep the output open after the program has gone.
  # (GoogleTest's last line may lack its line end.)
  ( rc=0
    ZELK_TEST_DRIVER=1 timeout 400 wine "$exe" --gtest_filter="$filter" <"$ask" 2>&1 || rc=$?
    printf '\nFACE-EXIT %s\n' "$rc" ) >"$tell" &
  local runner=$!
  exec 7<"$tell" 6>"$ask"
  face_rc=1
  while IFS= read -r -t 450 line <&7; do
    line=${line%$'\r'}
    case $line in
      "SHOT "*)
        read -r _ name x y w h <<<"$line"
        import -window root -crop "${w}x${h}+${x}+${y}" +repage "$shots/$name.png" 2>>"$work/import.log" \
          && echo "screenshot: $shots/$name.png" >>"$log"
        echo ok >&6 ;;
      HANGUP)
        stop_emu
        echo ok >&6 ;;
      "FACE-EXIT "*)
        face_rc=${line#FACE-EXIT }
        break ;;
      *) echo "$line" >>"$log" ;;
    esac
  done
  exec 6>&- 7<&-
  wait "$runner" || true
}

# --- zelk.exe: the window's Win32 face ------------------------------------
echo "=== zelk.exe"
# Only system DLLs: everything else is linked in.
for exe in "$zelk_exe" "$upload_exe"; do
  dlls=$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  foreign=$(for d in $dlls; do case $d in
      kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|comdlg32.dll|shell32.dll|uxtheme.dll|advapi32.dll|msvcrt.dll|ws2_32.dll) ;;
      setupapi.dll) ;;  # the port list: the system's device records
      *) echo "$d" ;; esac; done)
  if [ -z "$foreign" ]; then pass "$(basename "$exe") imports only system DLLs: $dlls"; else fail "$(basename "$exe")" "imports $foreign"; fi
done
version=$(sed -n 's/^project(zelk VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
if [ "$(timeout 60 wine "$zelk_exe" --version </dev/null 2>/dev/null | head -n 1 | tr -d '\r')" = "zelk $version" ]; then
  pass "zelk.exe --version"
else
  fail "zelk.exe --version"
fi

# The window's tests: a 64 KiB upload started by a click, with three packets
# rejected, byte-exact; the screenshots.
make_file 65535 "$work/face.rom"
start_emu face --output "$work/face.rebuilt" --reject 3,500,2000
ZELK_TEST_UPLOAD_FILE=$(windows_path "$work/face.rom") ZELK_TEST_REJECTS=3 \
  run_face_tests "$work/face.log" '-*HangUp*'
count_gtest "$work/face.log" "$face_rc" zelk_window_face_tests.exe
if wait_for_text "$work/face.emu.err" "sha256" 10 && cmp -s "$work/face.rom.expected" "$work/face.rebuilt"; then
  pass "click-started upload: 65535 bytes byte-exact ($(grep -o 'upload took [0-9.]* s' "$work/face.log" || echo '?'))"
else
  fail "click-started upload" "the rebuilt bytes differ or are missing"
fi
# The device hangs up a tenth of the way through an upload.
start_emu face-hangup
ZELK_TEST_UPLOAD_FILE=$(windows_path "$work/face.rom") run_face_tests "$work/face-hangup.log" '*HangUp*'
count_gtest "$work/face-hangup.log" "$face_rc" "zelk_window_face_tests.exe (hang-up)"
for shot in idle upload about; do
  if [ -s "$shots/$shot.png" ]; then pass "screenshot $shots/$shot.png"; else fail "screenshot $shot" "missing"; fi
done

# The window's logic, toolkit-free, built by the same toolchain.
if [ -f "$logic_exe" ]; then
  echo "=== zelk_window_tests.exe"
  rc=0
  timeout 300 wine "$logic_exe" </dev/null >"$work/logic.log" 2>&1 || rc=$?
  count_gtest "$work/logic.log" "$rc" zelk_window_tests.exe
fi

# --- zelk-upload.exe ------------------------------------------------------
echo "=== zelk-upload.exe"

# A file name in Cyrillic letters reaches the program whole (wmain, UTF-16),
# whatever Wine's ANSI code page.
make_file 300 "$work/Программа.rom"
start_emu cyrillic --output "$work/cyrillic.rebuilt"
up_rc=0
LC_ALL=C.UTF-8 timeout 120 wine "$upload_exe" -p 1 "$(windows_path "$work/Программа.rom")" \
  >"$work/cyrillic.out" 2>"$work/cyrillic.err" </dev/null || up_rc=$?
if [ "$up_rc" -eq 0 ] && wait_for_text "$work/cyrillic.emu.err" "sha256" 10 &&
  cmp -s "$work/Программа.rom.expected" "$work/cyrillic.rebuilt"; then
  pass "Cyrillic file name: Программа.rom uploaded byte-exact"
else
  fail "Cyrillic file name" "exit $up_rc: $(tail -n 2 "$work/cyrillic.err" | tr '\r\n' '  ')"
fi

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

# --- Russian: Wine in the ru_RU locale (display language 0x0419, ANSI code
# page 1251, OEM code page 866) ----------------------------------------------
echo "=== ru_RU"
ru() { LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 "$@"; }
# The conversions, the system's messages as UTF-16, a file held by another program.
rc=0
ru timeout 120 wine "$tests_exe" --gtest_filter='Text.*' </dev/null >"$work/ru-text.log" 2>&1 || rc=$?
count_gtest "$work/ru-text.log" "$rc" "zelk_windows_tests.exe (ru_RU)"
# The window's error box, word for word: a missing port, and a hang-up.
start_emu ru-box
ru run_face_tests "$work/ru-box.log" '*' "$error_box_exe"
count_gtest "$work/ru-box.log" "$face_rc" "zelk_error_box_tests.exe (ru_RU)"
stop_emu
# zelk-upload.exe speaks Russian; the port's message stays English, as on
# Linux. The same bytes redirected to a file (UTF-8, CR LF) and on a console
# (a pseudo-terminal, which Wine makes the program's console: WriteConsoleW).
ru_expected=$work/ru-upload.expected
printf 'Файл прочитан. Программ.rom, 512 Байт.\r\nError opening port COM7: \\\\.\\COM7: File not found.\r\n' >"$ru_expected"
up_rc=0
ru timeout 60 wine "$upload_exe" -p 7 "$(windows_path "$work/Программа.rom")" \
  >/dev/null 2>"$work/ru-upload.err" </dev/null || up_rc=$?
if [ "$up_rc" -eq 3 ] && cmp -s "$ru_expected" "$work/ru-upload.err"; then
  pass "zelk-upload.exe in Russian, to a file: $(head -n 1 "$work/ru-upload.err" | tr -d '\r')"
else
  fail "zelk-upload.exe in Russian, to a file" "exit $up_rc: $(od -c "$work/ru-upload.err" | head -n 8)"
fi
up_rc=0
ru timeout 60 script -qfec "wine '$upload_exe' -p 7 '$(windows_path "$work/Программа.rom")'" /dev/null \
  >"$work/ru-console.out" 2>&1 </dev/null || up_rc=$?
# Wine's console draws with terminal controls of its own: a blank may come
# as "cursor forward", and the cursor is hidden and shown around each write.
perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\r//g' "$work/ru-console.out" |
  sed '/^$/d' >"$work/ru-console.text"
if [ "$up_rc" -eq 3 ] && [ "$(tr -d '\r' <"$ru_expected")" = "$(cat "$work/ru-console.text")" ]; then
  pass "zelk-upload.exe in Russian, on a console: $(tail -n 1 "$work/ru-console.text")"
else
  fail "zelk-upload.exe in Russian, on a console" "exit $up_rc: $(od -c "$work/ru-console.out" | head -n 8)"
fi
ru timeout 60 wine "$upload_exe" --help </dev/null 2>&1 | tr -d '\r' | tail -n 2 >"$work/ru-help.tail" || true
if [ "$(cat "$work/ru-help.tail")" = "$(printf '%s\n' \
    'В консоль сообщения идут текстом Юникода при любой её кодовой странице;' \
    'перенаправленные в файл или канал, они в UTF-8.')" ]; then
  pass "zelk-upload.exe --help in Russian names its output's encoding"
else
  fail "zelk-upload.exe --help in Russian" "ends: $(cat "$work/ru-help.tail")"
fi

# The device list from the system's device records. Wine's SetupAPI reads
# them from the registry as Windows does: recorded records of an FTDI
# adapter (tests/windows/testdata/ftdi.reg), at COM5, which Wine maps to the
# emulator; the emulator holds its bytes 16 ms, as the adapter's timer would.
echo "=== device records"
wine regedit /S "$(windows_path tests/windows/testdata/ftdi.reg)" </dev/null >/dev/null 2>&1
make_file 4000 "$work/picked.rom"
emu_com=COM5 start_emu picked --output "$work/picked.rebuilt" --reply-delay 16
up_rc=0
timeout 120 wine "$upload_exe" "$work/picked.rom" >/dev/null 2>"$work/picked.err" </dev/null || up_rc=$?
picked=$(tr -d '\r' <"$work/picked.err")
place='Device Manager → Ports (COM & LPT) → USB Serial Port (COM5) → Properties → Port Settings → Advanced… → Latency Timer (msec) → 1'
if [ "$up_rc" -eq 0 ] && grep -qxF 'port: COM5 \\.\COM5 (USB Serial Port (COM5))' <<<"$picked" &&
  wait_for_text "$work/picked.emu.err" "sha256" 10 && cmp -s "$work/picked.rom.expected" "$work/picked.rebuilt"; then
  pass "the one USB adapter picked: $(grep '^port: ' <<<"$picked"), 4000 bytes byte-exact"
else
  fail "the one USB adapter picked" "exit $up_rc: $(head -n 3 <<<"$picked" | tr '\n' ' ')"
fi
if grep -qF "The adapter on COM5, USB Serial Port (COM5) (0403:6001), has its latency timer at 16 ms: set it to 1 ms in $place." <<<"$picked"; then
  pass "late replies: the adapter, its timer and where to set it named"
else
  fail "late replies" "$(grep -F 'Replies come' <<<"$picked" || echo 'no notice')"
fi
stop_emu
# Then a CH340, a CP210x at COM23, a PL2303, a CDC-ACM board and a 16550.
wine regedit /S "$(windows_path tests/windows/testdata/more-adapters.reg)" </dev/null >/dev/null 2>&1
up_rc=0
timeout 60 wine "$upload_exe" --list-ports >"$work/list-ports.out" 2>&1 </dev/null || up_rc=$?
list=$(tr -d '\r' <"$work/list-ports.out")
printf '%s\n' "$list"
row() { grep -E "^$1" <<<"$list" || true; }
check_row() {  # what pattern
  if [ "$up_rc" -eq 0 ] && [ -n "$(row "$2")" ]; then pass "--list-ports: $1"; else fail "--list-ports: $1" "no line /$2/"; fi
}
check_row "the FTDI adapter's name, USB ID, serial, driver and latency timer of 16 ms" \
  'COM5 +\\\\\.\\COM5 +0403:6001 +FTDISER 2\.12\.36\.4 +rw +free +USB Serial Port \(COM5\) +A50285BI +16 ms'
check_row "a CH340 without a serial number, with its location" \
  'COM3 +\\\\\.\\COM3 +1a86:7523 +CH341SER_A64 3\.8\.2023\.2 .*USB-SERIAL CH340 \(COM3\) +- +- +Port_#0003\.Hub_#0001$'
check_row "a port above 20" 'COM23 +\\\\\.\\COM23 +10c4:ea60 .* 0001 '
check_row "the way to a port above 20" 'COM23 is above 20.*Advanced… → COM Port Number\), or give zelk-upload -d \\\\\.\\COM23$'
check_row "an on-board 16550" 'COM1 +\\\\\.\\COM1 +- +Serial 10\.0\.19041\.1 .*Communications Port \(COM1\)'

# --- the distribution zip ---------------------------------------------------
echo "=== distribution zip"
if zip_path=$(ZELK_JOBS=$jobs scripts/windows-zip.sh 2>"$work/zip.log" | tail -n 1) && [ -f "$zip_path" ] &&
  scripts/check-windows-zip.sh "$zip_path" >>"$work/zip.log" 2>&1; then
  pass "zip $zip_path: $(tail -n 1 "$work/zip.log")"
else
  fail "zip" "$(tail -n 5 "$work/zip.log" | tr '\n' ' ')"
fi
for exe in "$zelk_exe" "$upload_exe"; do
  echo "size: $(basename "$exe") $(stat -c %s "$exe") bytes as built (with debug info)"
done

summary="windows: $passed passed, $failed failed"
[ "$skipped" -gt 0 ] && summary+=", $skipped skipped"
echo "screenshots: $(ls "$shots"/*.png 2>/dev/null | tr '\n' ' ')"
echo "windows stage time: $((SECONDS - stage_start)) s"
echo "$summary"
[ "$failed" -eq 0 ]
