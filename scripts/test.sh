#!/usr/bin/env bash
# Sets up, then builds and runs every test: a plain build with warnings as
# errors, an ASan+UBSan build, and a TSan build of everything that runs threads;
# then builds the Debian package and checks it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1

run() {  # name sanitizer ctest-args...
  local name=$1 sanitize=$2; shift 2
  echo "=== $name build"
  cmake -S . -B "build/$name" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZELK_WERROR=ON -DZELK_SANITIZE="$sanitize" >/dev/null
  cmake --build "build/$name" -j "$jobs"
  ctest --test-dir "build/$name" --output-on-failure -j "$jobs" "$@"
}

run ci "" 
run asan address
run tsan thread -L threads

echo "=== package"
package_start=$SECONDS
scripts/package.sh
scripts/check-package.sh
echo "package stage: $((SECONDS - package_start)) s"

# zelk-upload.exe and the Windows tests, cross-built and run under Wine
# against the emulator of the plain build.
echo "=== windows stage"
ZELK_EMU="$PWD/build/ci/tools/zelk-emu" scripts/test-windows.sh
