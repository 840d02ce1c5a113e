#!/usr/bin/env bash
# Plug-in calls under Wine: a setup running 1,000 plug-in statements with 100 and with
# 5,000 variables in its store, against a program that only loads the same plug-in, calls
# it twice and frees it 1,000 times with a variables text of the same size. The setup's
# time is its run with the calls minus its run without them (launch and end cancel out).
#   run_bench.sh WIN32_BUILD KEMBUILD
# Prints the times and the ratios setup/peer (goal <= 1.5 at 5,000 variables).
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD}")
. "$ROOT/bench/wine_target.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
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
ms_of_run() {  # median of three runs of a setup, in ms
  local times=() t0 t1
  for _ in 1 2 3; do
    t0=$(date +%s%N)
    "$ROOT/scripts/wine-harness.sh" run "$state" "$1" /s >/dev/null 2>&1
    t1=$(date +%s%N)
    times+=($(((t1 - t0) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n 2p
}
for variables in 100 5000; do
  project "with$variables" "$variables" "$calls"
  project "without$variables" "$variables" 0
  with=$(ms_of_run "$work/out-with$variables/bench.exe")
  without=$(ms_of_run "$work/out-without$variables/bench.exe")
  peer=$("$ROOT/scripts/wine-harness.sh" run "$state" "$work/plugin_loop.exe" "$work/test_plugin.dll" "$variables" "$calls" | tr -d '\r')
  setup=$((with - without))
  printf '%5d variables: setup %d ms for %d calls (%d with, %d without), peer %d ms, ratio %.2f\n' \
    "$variables" "$setup" "$calls" "$with" "$without" "$peer" "$(echo "$setup / ($peer + 0.001)" | bc -l)"
done
echo "goal: ratio <= 1.5 at 5000 variables"
