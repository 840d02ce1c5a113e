#!/usr/bin/env bash
# Removal of an installed product under Wine: the example product (examples/product) with
# FILES files of together MB megabytes in place of its own, installed silently by its setup
# before every run, then removed
#   - by the command line its registration holds (QuietUninstallString, which starts the
#     setup kept in the installer cache with /s REMOVE=TRUE MODIFY=FALSE), and
#   - by msiexec /x PRODUCT-CODE /qn.
# removal_timer.exe installs, reads the registration, starts the removal with CreateProcess
# and times it, taking the two removals in turn after an untimed first round; one Wine
# prefix and one Xvfb display for all.
#   run_bench.sh WIN_BUILD KEMBUILD [FILES] [MB] [RUNS]
# Prints the build, each run, the medians and spreads, the ratio of the two (goal <= 1.1) and the peak working sets.
# This is a measurement, not a test: it fails only when something does not run.
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN_BUILD KEMBUILD [FILES] [MB] [RUNS]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
files=${3:-500}
megabytes=${4:-20}
runs=${5:-5}
work=$(mktemp -d)
state=$work/wine
trap '"$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1; rm -rf "$work"' EXIT

mkdir -p "$work/engine" "$work/project/files"
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
"$BENCH_CXX" -O2 -static -o "$work/removal_timer.exe" "$ROOT/bench/cache/removal_timer.cpp" -lmsi -lpsapi

# The example's manifest and script; FILES files of equal size, random bytes.
cp "$ROOT/examples/product/project.kemp" "$ROOT/examples/product/product.kems" "$work/project/"
size=$((megabytes * 1048576 / files))
for ((i = 1; i <= files; i++)); do
  head -c "$size" /dev/urandom > "$work/project/files/file$i.bin"
done
"$kembuild" build "$work/project" -o "$work/out" --engine-dir "$work/engine" >/dev/null
code=$(sed -n 's/^code *= *//p' "$work/project/project.kemp")
title=$(sed -n 's/^title *= *//p' "$work/project/project.kemp")
setup=$(sed -n 's/^setup-name *= *//p' "$work/project/project.kemp")

"$ROOT/scripts/wine-harness.sh" start "$state" >/dev/null
winpath() { echo "Z:$1" | tr / '\\'; }
# (the labels hold slashes and braces, never a bar)
median_of() { sed -n "s|^median of $1: \\([0-9]*\\) ms.*|\\1|p" <<<"$2"; }
peak_of() { sed -n "s|^median of $1:.*peak working set \\([0-9.]*\\) MB.*|\\1|p" <<<"$2"; }
install="\"$(winpath "$work/out/$setup.exe")\" /s"
msiexec="msiexec /x $code /qn"

# removal_timer.exe alternates the removals itself (a warm-up of each, then RUNS rounds of
# both in turn); the rounds' figures are summed up here.
out=$("$ROOT/scripts/wine-harness.sh" run "$state" "$work/removal_timer.exe" "$runs" "$title" "$code" "$install" \
  @registered "$msiexec" | tr -d '\r')
bench_say_build
echo "removal of $files files / $megabytes MB, installed before each run by $setup.exe /s"
echo "(@registered: the registration's QuietUninstallString)"
echo "$out"
runs_of() { grep -F "run " <<<"$2" | grep -F ", $1: " | sed -n 's/.*: \([0-9]*\) ms, exit code.*/\1/p' | tr '\n' ' '; }
s_runs=$(runs_of @registered "$out")
m_runs=$(runs_of "$msiexec" "$out")
[ -n "$s_runs" ] && [ -n "$m_runs" ] || { echo "the removals did not run" >&2; exit 1; }
bench_report ms "registration" "$s_runs" "msiexec /x" "$m_runs"
printf 'removal through the registration / msiexec /x: %.2f (goal <= 1.1); peak working set of the engine %s MB, of msiexec %s MB\n' \
  "${BENCH_RATIO[1]}" "$(peak_of @registered "$out")" "$(peak_of "$msiexec" "$out")"
