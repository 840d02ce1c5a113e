#!/usr/bin/env bash
# Progress reports under Wine: a plug-in worker does 1,000,000 steps of arithmetic behind
# the example's progress page, once reporting its progress after every step and once not
# reporting at all. The plug-in times its own loop; a probe asks the page for an answer
# every 10 ms meanwhile.
# After a warm-up run of each, the two take turns, RUNS rounds (bench/compare.sh).
#   run_bench.sh WIN32_BUILD KEMBUILD [STEPS] [RUNS]
# Prints the build, the loop times with their medians and spreads, their ratio (goal <= 1.1) and the longest wait for the page's
# answer after the first (goal <= 100 ms). The first answer is shown apart: it waits for
# the start-up windows to close as the page comes up, which Wine on a display without a
# window manager makes take about 2 s.
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD [STEPS] [RUNS]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
steps=${3:-1000000}
runs=${4:-3}
work=$(mktemp -d)
state=$work/wine
trap '"$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1; rm -rf "$work"' EXIT

mkdir -p "$work/engine"
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
CC=$BENCH_CC bash "$ROOT/sdk/build.sh" "$work/progress_plugin.dll" "$ROOT/bench/progress/progress_plugin.c" \
  "$ROOT/bench/progress/progress_plugin.def"
"$BENCH_CXX" -O2 -static -o "$work/ui_probe.exe" "$ROOT/bench/progress/ui_probe.cpp"

# project MODE: a setup that shows the progress page while the plug-in works
project() {
  local dir=$work/$1
  mkdir -p "$dir/dialogs"
  cp "$work/progress_plugin.dll" "$dir/"
  cp "$ROOT/examples/wizard/dialogs/Progress.dfm.txt" "$dir/dialogs/"
  cat > "$dir/project.kemp" <<KEMP
[product]
code = {5A1B2C3D-4E5F-4061-8273-94A5B6C7D8E9}
revision = {6B2C3D4E-5F60-4172-9384-A5B6C7D8E9FA}
title = Progress Bench
version = 1.0.0
script = bench.kems
setup-name = bench
[plugin-statements]
Bench Worker
[support-files]
progress_plugin.dll
KEMP
  cat > "$dir/bench.kems" <<KEMS
Set Variable "ABORTONERROR" "FALSE"
Set Variable "PROGRESSTEXT" "Starting"
Display Dialog "Progress" "PAGE" "FALSE" "" "TRUE" "FALSE"
Bench Worker "$steps $1 C:\\\\$1.txt" "progress_plugin.dll"
Hide Dialog
Terminate with Exit Code "0"
KEMS
  "$kembuild" build "$dir" -o "$work/out-$1" --engine-dir "$work/engine" >/dev/null
}
project report
project quiet

"$ROOT/scripts/wine-harness.sh" start "$state" >/dev/null
drive=$state/prefix/drive_c
# loop_run MODE: one run of the setup; prints the probe's answer and the loop's ms last
loop_run() {
  local probe
  probe=$("$ROOT/scripts/wine-harness.sh" run "$state" "$work/ui_probe.exe" "$(ls "$work"/out-$1/*.exe)" | tr -d '\r')
  echo "$1: $probe"
  echo "$(tr -d '\r\n' < "$drive/$1.txt")"
}
bench_say_build
echo "$steps steps, the loop's own time:"
bench_alternate "$runs" ms reporting "loop_run report" "no reports" "loop_run quiet"
grep -h 'report: \|quiet: ' "$BENCH_LOG" | sed 's/^/  probe, /'
printf '%d steps: median loop %.0f ms reporting every step, %.0f ms without reports, ratio %.2f (goal <= 1.1)\n' \
  "$steps" "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}" "${BENCH_RATIO[1]}"
