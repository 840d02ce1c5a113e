#!/usr/bin/env bash
# The Windows-side tests as a 64-bit build under the 64-bit Wine, for machines that cannot
# run 32-bit x86 programs (`scripts/wine-harness.sh probe` says why), where test.sh has to
# leave the Wine tests out. Setups ship the 32-bit build; this run checks the same sources
# through the same tests, except what only a 32-bit process shows (file system and registry
# redirection, 32-bit plug-ins).
#   test-win64.sh [CTEST ARGS...]
# Environment: KEM_BUILD_DIR (default ./build), KEM_JOBS (default: number of cores).
# test.sh runs it by itself on such a machine; the log is $KEM_BUILD_DIR/win64-tests.log.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=${KEM_BUILD_DIR:-$ROOT/build}
JOBS=${KEM_JOBS:-$(nproc)}
as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }

# KEM_DEPS_DONE=1: the caller (test.sh) has just run the dependency script.
if [ "${KEM_DEPS_DONE:-}" != 1 ]; then
  as_root bash "$ROOT/scripts/install-deps.sh" || { echo "dependency installation failed"; exit 1; }
fi
rm -f "$BUILD/win64-tests.log"  # a failed build leaves no log of an earlier run behind
as_root bash "$ROOT/scripts/build-mingw-libs.sh" x86_64 || { echo "64-bit MinGW libraries failed"; exit 1; }

# kembuild is a native program: the one of the main test run when it is there.
if [ ! -x "$BUILD/native/tools/kembuild/kembuild" ]; then
  cmake -S . -B "$BUILD/native" -G Ninja -DKEM_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
fi
cmake --build "$BUILD/native" -j"$JOBS" --target kembuild || exit 1

cmake -S . -B "$BUILD/win64" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DKEMBUILD_EXE="$BUILD/native/tools/kembuild/kembuild" >/dev/null || exit 1
cmake --build "$BUILD/win64" -j"$JOBS" || exit 1

(cd "$BUILD/win64" && ctest --output-on-failure "$@") 2>&1 | tee "$BUILD/win64-tests.log"
code=${PIPESTATUS[0]}
for state in "$BUILD/win64/wine" "$BUILD/win64/wine-cp932"; do
  "$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1
done
exit "$code"
