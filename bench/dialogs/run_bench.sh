#!/usr/bin/env bash
# Wizard start-up under Wine: launch to the first wizard page on screen, and Next to the
# next page on screen, for the example wizard (examples/wizard: welcome, then licence)
# against an NSIS installer with a Modern UI welcome and licence page made by makensis
# (Debian package nsis) in the same run. One Wine prefix and Xvfb display for both.
#   run_bench.sh WIN32_BUILD KEMBUILD [RUNS]
# Prints each run, the medians and the ratio ours/NSIS of the launch medians (goal <= 1.0).
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD [RUNS]}")
. "$ROOT/bench/wine_target.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
runs=${3:-7}
command -v makensis >/dev/null || { echo "makensis not found (Debian package nsis)" >&2; exit 2; }
work=$(mktemp -d)
state=$work/wine
trap '"$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1; rm -rf "$work"' EXIT

mkdir -p "$work/engine"
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
"$kembuild" build "$ROOT/examples/wizard" -o "$work/ours" --engine-dir "$work/engine" >/dev/null
"$BENCH_CXX" -O2 -static -o "$work/page_timer.exe" "$ROOT/bench/dialogs/page_timer.cpp"

cp "$ROOT/examples/wizard/support/license.txt" "$work/license.txt"
# The peer is built for the engine build's architecture (a 64-bit one from the 64-bit
# test build, which is all a machine without 32-bit support runs).
cat > "$work/peer.nsi" <<NSI
Target $BENCH_NSIS_TARGET
!include "MUI2.nsh"
Name "Wizard Example"
OutFile "peer.exe"
RequestExecutionLevel user
InstallDir "\$PROGRAMFILES\\Wizard Example"
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_LICENSE "license.txt"
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_LANGUAGE "English"
Section
SectionEnd
NSI
(cd "$work" && makensis -V1 peer.nsi >/dev/null)

# No window manager runs on the harness's Xvfb display, and Wine waits up to 2 s for one
# whenever a captioned window leaves the screen: the start-up windows go right after the
# first page appears, so that stall would be counted as the time to the next page. The
# prefix is told that no window manager is present, so Wine frames and hides the windows
# itself as Windows does (scripts/wine-harness.sh). KEM_BENCH_WM_WAIT=1 keeps Wine's wait.
[ "${KEM_BENCH_WM_WAIT:-}" = 1 ] || export KEM_WINE_UNMANAGED=1
"$ROOT/scripts/wine-harness.sh" start "$state" >/dev/null
run() { "$ROOT/scripts/wine-harness.sh" run "$state" "$work/page_timer.exe" "$runs" "$@" | tr -d '\r'; }
echo "=== ours: $(basename "$work"/ours/*.exe)"
ours=$(run "$(ls "$work"/ours/*.exe)" TPoolTemplate "Welcome to" "&Next >" "License Agreement")
echo "$ours"
echo "=== ours without the start-up windows (/update)"
PAGE_TIMER_ARGS=/update run "$(ls "$work"/ours/*.exe)" TPoolTemplate "Welcome to" "&Next >" "License Agreement" | tail -1
echo "=== NSIS $(makensis -VERSION), Modern UI"
peer=$(run "$work/peer.exe" "#32770" "Welcome to" "&Next >" "License Agreement")
echo "$peer"
a=$(echo "$ours" | sed -n 's/^median: first page \([0-9]*\) ms.*/\1/p')
b=$(echo "$peer" | sed -n 's/^median: first page \([0-9]*\) ms.*/\1/p')
printf 'launch to first page, ratio ours/NSIS: %.2f (goal <= 1.0)\n' "$(echo "$a / $b" | bc -l)"
