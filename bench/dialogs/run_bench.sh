#!/usr/bin/env bash
# Wizard start-up under Wine: launch to the first wizard page on screen, and Next to the
# next page on screen, for the example wizard (examples/wizard: welcome, then licence)
# against an NSIS installer with a Modern UI welcome and licence page made by makensis
# (Debian package nsis) in the same run, and ours without its start-up windows (/update).
# After a warm-up launch of each they take turns, RUNS rounds (bench/compare.sh); one Wine
# prefix and Xvfb display for all.
#   run_bench.sh WIN32_BUILD KEMBUILD [RUNS]
# Prints the build, each round, the medians and spreads and the ratio ours/NSIS of the
# launch medians (goal <= 1.0).
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD [RUNS]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
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
run() { "$ROOT/scripts/wine-harness.sh" run "$state" "$work/page_timer.exe" 1 "$@" | tr -d '\r'; }
ours_exe=$(ls "$work"/ours/*.exe)
declare -A next=()
# page_run SIDE PROGRAM CLASS: one launch; prints the time to the first page last and keeps
# the time from Next to the next page.
page_run() {
  local result
  result=$(run "$2" "$3" "Welcome to" "&Next >" "License Agreement")
  echo "$result"
  next[$1]+="$(sed -n 's/^median: .*next page \([0-9]*\) ms.*/\1/p' <<<"$result") "
  sed -n 's/^median: first page \([0-9]*\) ms.*/\1/p' <<<"$result"
}
ours_run() { page_run ours "$ours_exe" TPoolTemplate; }
peer_run() { page_run nsis "$work/peer.exe" "#32770"; }
update_run() { PAGE_TIMER_ARGS=/update page_run update "$ours_exe" TPoolTemplate; }

bench_say_build
echo "ours: $(basename "$ours_exe"); NSIS $(makensis -VERSION), Modern UI; ours /update: without the start-up windows"
echo "launch to the first page:"
bench_alternate "$runs" ms ours ours_run NSIS peer_run "ours /update" update_run
echo "Next to the next page (the same runs):"
for side in ours nsis update; do
  # the first figure of each side is its warm-up run
  read -r med lo hi < <(tr ' ' '\n' <<<"${next[$side]}" | sed '/^$/d' | tail -n +2 | bench_stats)
  printf '%-24s median %10.1f ms   spread %.1f-%.1f\n' "$side" "$med" "$lo" "$hi"
done
printf 'launch to first page, ratio ours/NSIS: %.2f (goal <= 1.0)\n' "${BENCH_RATIO[1]}"
