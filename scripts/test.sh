#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copyright (C) 2026 The ZELK developers
# Sets up, then builds and runs every test, stage by stage: a plain build with
# warnings as errors, an ASan+UBSan build, a TSan build of everything that runs
# threads, the Debian package and its release checks, the release-built
# uploader on real kernel drivers in a QEMU guest, the Windows stage under
# Wine, and a short run of every fuzz target. The builds are CMake's presets of
# the same names (CMakePresets.json), so one can be rebuilt by hand: cmake
# --preset asan && cmake --build --preset asan && ctest --preset asan.
#
#   scripts/test.sh              every stage, in order
#   scripts/test.sh STAGE...     only those (ci asan tsan package drivers windows fuzz)
#
# Each stage reports its time; the run ends with one line per stage.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

build_and_test() {  # preset: configure, build and test presets of that name
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -j "$jobs"
  ctest --preset "$1" -j "$jobs"
}

stage_ci() {
  build_and_test ci
  # The soak (tests/soak) passed among them; CTest keeps a passing test's
  # output in its log only, so its figures are shown from there.
  grep '^soak:' build/ci/Testing/Temporary/LastTest.log
  # The window's logic and its tests need no toolkit: built where Qt cannot be found.
  cmake -S . -B build/noqt -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_WERROR=ON -DZELK_BUILD_UI=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_Qt6=ON >/dev/null
  cmake --build build/noqt -j "$jobs" --target zelk_window_tests
  build/noqt/tests/window/zelk_window_tests --gtest_brief=1
}
stage_asan() { build_and_test asan; }
stage_tsan() { build_and_test tsan; }  # the tests labelled threads
# The release: every file's licence header, the package (preset package),
# lintian, AppStream and the package's own checks; the Windows zip (preset
# mingw, in build/mingw, which the windows stage builds on) and its checks;
# then the source tarball built and tested offline in a scratch folder, whose
# package and zip must match the first ones' SHA256SUMS.
stage_package() {
  tests/release/spdx_test.sh
  scripts/spdx.sh --check
  scripts/package.sh
  scripts/check-package.sh
  scripts/windows-zip.sh
  scripts/check-windows-zip.sh
  scripts/check-release.sh
}
# The release-built zelk-upload on real kernel drivers (8250, ftdi_sio,
# cdc_acm, ch341) in a QEMU guest; the kernel is cached in /var/cache/zelk
# (docs/drivers.md).
stage_drivers() { ZELK_SKIP_SETUP=1 scripts/test-drivers.sh; }
# zelk-upload.exe and the Windows tests, cross-built and run under Wine
# against the emulator of the plain build (or a small build of its own).
stage_windows() {
  if [ -x build/ci/tools/zelk-emu ]; then
    ZELK_EMU="$PWD/build/ci/tools/zelk-emu" scripts/test-windows.sh
  else
    scripts/test-windows.sh
  fi
}

# Every libFuzzer target ~30 s on its corpus (scripts/fuzz.sh), two at a
# time on two cores; fails on any finding.
stage_fuzz() { scripts/fuzz.sh --check 30; }

all_stages=(ci asan tsan package drivers windows fuzz)
stages=("$@")
[ ${#stages[@]} -gt 0 ] || stages=("${all_stages[@]}")
for s in "${stages[@]}"; do
  declare -F "stage_$s" >/dev/null || { echo "test.sh: no stage '$s' (stages: ${all_stages[*]})" >&2; exit 2; }
done

times=()
for s in "${stages[@]}"; do
  echo "=== $s stage"
  start=$SECONDS
  "stage_$s"
  times+=("$s: $((SECONDS - start)) s")
  echo "$s stage: $((SECONDS - start)) s"
done
echo "=== stage times"
printf '  %s\n' "${times[@]}"
