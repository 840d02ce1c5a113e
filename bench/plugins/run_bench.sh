#!/usr/bin/env bash
# Plug-in calls under Wine: a setup running 1,000 plug-in statements with 100 and with
# 5,000 variables in its store, against a program that only loads the same plug-in, calls
# it twice and frees it 1,000 times with a variables text of the same size. The setup's
# time is its run with the calls minus its run without them, taken right after each other
# (launch and end cancel out). After a warm-up run of each, setup and peer take turns,
# RUNS rounds (bench/compare.sh).
#   run_bench.sh WIN32_BUILD KEMBUILD [RUNS]
# Prints the build, each round, the medians and spreads and the ratios setup/peer (goal
# <= 1.5 at 5,000 variables).
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD [RUNS]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
runs=${3:-5}
calls=1000
work=$(mktemp -d)
state=$work/wine
trap '"$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1; rm -rf "$work"' EXIT

mkdir -p "$work/engine"
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
CC=$BENCH_CC bash "$ROOT/sdk/build.sh" "$work/test_plugin.dll" "$ROOT/tests/plugins/test_plugin.c" "$ROOT/tests/plugins/test_plugin.def"
"$BENCH_CXX" -O2 -static -o "$work/plugin_loop.exe" "$ROOT/bench/plugins/plugin_loop.cpp"

# project NAME VARIABLES CALLS
project() {
  local dir=$work/$1
  mkdir -p "$dir"
  cp "$work/test_plugin.dll" "$dir/"
  cat > "$dir/project.kemp" <<KEMP
[product]
code = {1B3D5F70-2A4C-4E6F-8091-A2B3C4D5E6F7}
revision = {2C4E6F81-3B5D-4F70-9102-B3C4D5E6F708}
title = Plug-in Bench
version = 1.0.0
script = bench.kems
setup-name = bench
[plugin-statements]
Test Plugin
[support-files]
test_plugin.dll
KEMP
  {
    echo "Set Variable \"ABORTONERROR\" \"FALSE\""
    echo "Test Plugin \"pad:$2\" \"test_plugin.dll\""
    echo "Set Variable \"I\" \"0\""
    if [ "$3" -gt 0 ]; then
      echo "Label \"again\""
      echo "Test Plugin \"echo\" \"test_plugin.dll\""
      echo "Mathematics \"\$I\$\" \"1\" \"+\" \"I\""
      echo "If \"I\" \">\" \"$(($3 - 1))\" \"TRUE\""
      echo "  GoTo Label \"again\""
      echo "End"
    fi
    echo "Terminate with Exit Code \"0\""
  } > "$dir/bench.kems"
  "$kembuild" build "$dir" -o "$work/out-$1" --engine-dir "$work/engine" >/dev/null
}

"$ROOT/scripts/wine-harness.sh" start "$state" >/dev/null
ms_of_run() {  # wall time of one silent run of a setup, in ms
  local t0 t1
  t0=$(date +%s%N)
  "$ROOT/scripts/wine-harness.sh" run "$state" "$1" /s >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
# One figure of the setup: its run with the calls, right away its run without them, and
# the difference last.
setup_calls() {
  local with without
  with=$(ms_of_run "$work/out-with$variables/bench.exe")
  without=$(ms_of_run "$work/out-without$variables/bench.exe")
  echo "with $with ms, without $without ms"
  echo $((with - without))
}
peer_calls() {
  "$ROOT/scripts/wine-harness.sh" run "$state" "$work/plugin_loop.exe" "$work/test_plugin.dll" "$variables" "$calls" | tr -d '\r'
}
bench_say_build
for variables in 100 5000; do
  project "with$variables" "$variables" "$calls"
  project "without$variables" "$variables" 0
  echo "$variables variables, $calls calls:"
  bench_alternate "$runs" ms setup setup_calls peer peer_calls
  printf '%5d variables: setup %.0f ms for %d calls, peer %.0f ms, ratio %.2f\n' \
    "$variables" "${BENCH_MEDIAN[0]}" "$calls" "${BENCH_MEDIAN[1]}" "${BENCH_RATIO[1]}"
done
echo "goal: ratio <= 1.5 at 5000 variables"
