#!/usr/bin/env bash
# Builds everything and runs every test:
#   1. the native build (portable libraries, kembuild, GoogleTest suites) with AddressSanitizer
#      and UndefinedBehaviorSanitizer, and its tests;
#   2. the win32 build (kemstub.exe, kem.lib, Windows-side tests) and its tests under Wine,
#      in a private WINEPREFIX under the build tree;
#      On a machine that cannot run 32-bit x86 programs those tests are disabled, and the
#      same tests run from a 64-bit build of the same sources under the 64-bit Wine
#      (scripts/test-win64.sh);
#   3. a short libFuzzer pass over every fuzz target (clang): a fixed seed, a fixed number of
#      runs and a fresh corpus, so the pass is the same on every machine; longer fuzzing is
#      done by hand (see README).
# Installs what it needs first (scripts/install-deps.sh, as root).
# Environment: KEM_BUILD_DIR (default ./build), KEM_JOBS (default: number of cores),
# KEM_FUZZ_RUNS (per target, default 50000; 0 skips fuzzing), KEM_FUZZ_SECONDS (a cap
# per target, default 120).
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=${KEM_BUILD_DIR:-$ROOT/build}
JOBS=${KEM_JOBS:-$(nproc)}
FUZZ_RUNS=${KEM_FUZZ_RUNS:-50000}
FUZZ_SECONDS=${KEM_FUZZ_SECONDS:-120}

as_root() { if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi; }
step() { printf '\n=== %s\n' "$*"; }

step "dependencies"
as_root bash "$ROOT/scripts/install-deps.sh" || { echo "dependency installation failed"; exit 1; }

passed=0
failed=0
not_run=0  # tests CTest lists as disabled (the Wine tests, on a machine that cannot run them)

step "layering"
if bash "$ROOT/scripts/check-layering.sh"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi

step "native build (sanitizers)"
cmake -S . -B "$BUILD/native" -G Ninja -DKEM_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null || exit 1
cmake --build "$BUILD/native" -j"$JOBS" || exit 1

step "win32 build"
cmake -S . -B "$BUILD/win32" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
  -DKEMBUILD_EXE="$BUILD/native/tools/kembuild/kembuild" >/dev/null || exit 1
cmake --build "$BUILD/win32" -j"$JOBS" || exit 1

count() {  # reads a CTest log, adds its figures
  local line total fails
  line=$(grep -E '[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$1" | tail -n 1)
  if [ -z "$line" ]; then failed=$((failed + 1)); return; fi
  fails=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  local disabled
  disabled=$(grep -c 'Not Run (Disabled)' "$1")
  passed=$((passed + total - fails))  # disabled tests are not in the total
  failed=$((failed + fails))
  not_run=$((not_run + disabled))
}

step "native tests"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
(cd "$BUILD/native" && ctest --output-on-failure -j"$JOBS") 2>&1 | tee "$BUILD/native-tests.log"
count "$BUILD/native-tests.log"

step "win32 tests under Wine"
(cd "$BUILD/win32" && ctest --output-on-failure -j"$JOBS") 2>&1 | tee "$BUILD/win32-tests.log"
count "$BUILD/win32-tests.log"
# The cleanup fixture stops the run's wineserver and Xvfb; make sure of it even after a crash.
for state in "$BUILD/win32/wine" "$BUILD/win32/wine-cp932"; do
  "$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1
done

# A machine that cannot run 32-bit x86 programs leaves the Wine tests of the win32 build
# disabled; the same tests then run from a 64-bit build of the same sources under the 64-bit
# Wine, so that every change is still checked on Windows.
win64_ran=0
if ! "$ROOT/scripts/wine-harness.sh" probe >/dev/null 2>&1; then
  step "64-bit Windows test build under the 64-bit Wine ($("$ROOT/scripts/wine-harness.sh" probe))"
  if KEM_DEPS_DONE=1 KEM_BUILD_DIR="$BUILD" KEM_JOBS="$JOBS" bash "$ROOT/scripts/test-win64.sh" -j"$JOBS"; then :; fi
  if [ -f "$BUILD/win64-tests.log" ]; then count "$BUILD/win64-tests.log"; else failed=$((failed + 1)); fi
  win64_ran=1
fi

if [ "$FUZZ_RUNS" != 0 ]; then
  step "fuzzing ($FUZZ_RUNS runs per target, seed 1)"
  if cmake -S . -B "$BUILD/fuzz" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKEM_FUZZ=ON \
       -DKEM_TESTS=OFF -DKEM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEM_SKIP_DIRS=kembuild >/dev/null &&
     cmake --build "$BUILD/fuzz" -j"$JOBS"; then
    while IFS= read -r target; do
      corpus="$BUILD/fuzz-corpus/$(basename "$target")"
      rm -rf "$corpus"
      mkdir -p "$corpus"
      # A fresh copy of the target's seed corpus (found by the target's name); the copy
      # takes the new inputs, the repository's folder is only read.
      for seeds in "$ROOT"/fuzz/*/corpus/"$(basename "$target")"; do
        [ -d "$seeds" ] && cp -R "$seeds"/. "$corpus"/
      done
      if (cd "$BUILD/fuzz-corpus" && "$target" -seed=1 -runs="$FUZZ_RUNS" -max_total_time="$FUZZ_SECONDS" \
            -rss_limit_mb=2048 -timeout=10 "$corpus" >"$corpus.log" 2>&1); then
        echo "fuzz $(basename "$target"): passed"
        passed=$((passed + 1))
      else
        echo "fuzz $(basename "$target"): FAILED"; tail -n 30 "$corpus.log"
        failed=$((failed + 1))
      fi
    done < <(find "$BUILD/fuzz/fuzz" -type f -executable -name '*fuzz*' | sort)
  else
    echo "fuzz build FAILED"
    failed=$((failed + 1))
  fi
fi

echo
if [ "$not_run" != 0 ]; then
  if [ "$win64_ran" = 1 ]; then
    echo "not run: $not_run tests of the win32 build that need the 32-bit Wine ($("$ROOT/scripts/wine-harness.sh" probe));" \
      "they ran from the 64-bit test build above"
  else
    echo "not run: $not_run tests that need Wine ($("$ROOT/scripts/wine-harness.sh" probe))"
  fi
fi
echo "total: $passed passed, $failed failed, $not_run not run"
[ "$failed" = 0 ]
