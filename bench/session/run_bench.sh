#!/usr/bin/env bash
# A whole installation under Wine: a setup built by kembuild that installs FILES files of
# together MB megabytes ("Install Files" into TARGETDIR, then "Apply Changes"), started
# silently (launch, support archive, script, installer session), against
#   - msiexec /i /qn on the same database with the properties the script records, and
#   - an NSIS installer with the same files (makensis, Debian package nsis), when present.
# After a warm-up run of each they take turns, RUNS rounds (bench/compare.sh); every run is
# timed by session_timer.exe after the previous installation was removed; one Wine prefix
# and one Xvfb display for all.
#   run_bench.sh WIN32_BUILD KEMBUILD [FILES] [MB] [RUNS]
# Prints the build, each round, the medians and spreads, the ratios to msiexec (goal <= 1.1)
# and the peak working sets. This is a measurement, not a test: it fails only when something does not run.
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD [FILES] [MB] [RUNS]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
files=${3:-500}
megabytes=${4:-20}
runs=${5:-3}
work=$(mktemp -d)
state=$work/wine
trap '"$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1; rm -rf "$work"' EXIT

code="{7C3E2A1B-5D4F-4E6A-9B8C-1D2E3F4A5B6C}"
header=A7000001  # the command header of "Install Files" (from its ID)

mkdir -p "$work/engine" "$work/project/files"
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
"$BENCH_CXX" -O2 -static -o "$work/session_timer.exe" "$ROOT/bench/session/session_timer.cpp" -lpsapi

# The files: FILES of equal size, random bytes (nothing gains from compression).
size=$((megabytes * 1048576 / files))
for ((i = 1; i <= files; i++)); do
  head -c "$size" /dev/urandom > "$work/project/files/file$i.bin"
done
cat > "$work/project/project.kemp" <<KEMP
[product]
code = $code
revision = {8D4F3B2C-6E5A-4F7B-8C9D-2E3F4A5B6C7D}
title = Session Bench
company = Kem Bench
version = 1.0.0
setup-name = bench
script = bench.kems
KEMP
cat > "$work/project/bench.kems" <<'KEMS'
{A7000001-0000-4000-8000-000000000001} Install Files "files/*" "FALSE" "$TARGETDIR$" ""
{A7000002-0000-4000-8000-000000000002} Apply Changes "" "RESULT" "TRUE" "FALSE"
KEMS
start=$(date +%s.%N)
"$kembuild" build "$work/project" -o "$work/out" --engine-dir "$work/engine" >/dev/null
printf 'kembuild build of %d files / %d MB: %.1f s\n' "$files" "$megabytes" "$(echo "$(date +%s.%N) - $start" | bc -l)"

nsis=
if command -v makensis >/dev/null; then
  # A 64-bit engine build gets a 64-bit NSIS installer (Debian's nsis has the amd64
  # stubs): a machine that cannot run 32-bit programs runs it too.
  target=
  [ "${KEM_WINE_ARCH:-}" = win64 ] && target="Target amd64-unicode"
  cat > "$work/project/peer.nsi" <<NSI
$target
Name "Session Bench"
OutFile "peer.exe"
RequestExecutionLevel user
SilentInstall silent
SetCompressor /SOLID lzma
InstallDir "C:\\bench\\nsis"
Section
  SetOutPath "\$INSTDIR"
  File "files/*"
SectionEnd
NSI
  (cd "$work/project" && makensis -V1 peer.nsi >/dev/null) && nsis=$work/project/peer.exe
fi

"$ROOT/scripts/wine-harness.sh" start "$state" >/dev/null
winpath() { echo "Z:$1" | tr / '\\'; }
out=$(winpath "$work/out")
timer() { "$ROOT/scripts/wine-harness.sh" run "$state" "$work/session_timer.exe" "$@" | tr -d '\r'; }
median_of() { sed -n 's/^median: \([0-9]*\) ms.*/\1/p' <<<"$1"; }
peak_of() { sed -n 's/.*peak working set \([0-9.]*\) MB.*/\1/p' <<<"$1"; }
remove="msiexec /x $code /qn"
declare -A peak=([setup]=0 [msiexec]=0 [nsis]=0)
# one_run SIDE COMMAND RESET: one timed run after RESET; keeps the side's largest peak
# working set and prints the run's time in ms last.
one_run() {
  local side=$1 result p
  result=$(timer 1 "$2" "$3")
  echo "$result"
  p=$(peak_of "$result")
  [ -n "$p" ] && awk -v a="$p" -v b="${peak[$side]}" 'BEGIN { exit !(a > b) }' && peak[$side]=$p
  median_of "$result"
}
setup_run() { one_run setup "\"$out\\bench.exe\" /s TARGETDIR=C:\\bench\\setup\\" "$remove"; }
# (the work folder's path holds no blanks: the property needs no quotes)
bare_run() { one_run msiexec "msiexec /i $out\\bench.msi /qn SRCDIR=$out\\data\\ A$header=TRUE P${header}_1=C:\\bench\\msi\\" "$remove"; }
nsis_run() { one_run nsis "\"$(winpath "$nsis")\" /S" "cmd /c rmdir /s /q C:\\bench\\nsis"; }

bench_say_build
sides=(setup setup_run "msiexec /i /qn" bare_run)
[ -n "$nsis" ] && sides+=("NSIS /S" nsis_run)
bench_alternate "$runs" ms "${sides[@]}"
timer 1 "$remove" >/dev/null
[ -n "$nsis" ] && timer 1 "cmd /c rmdir /s /q C:\\bench\\nsis" >/dev/null
printf 'setup/msiexec %.2f (goal <= 1.1); peak working set of the engine %s MB, of msiexec %s MB\n' \
  "${BENCH_RATIO[1]}" "${peak[setup]}" "${peak[msiexec]}"
[ -n "$nsis" ] && printf 'setup/NSIS %.2f; peak working set of NSIS %s MB\n' "${BENCH_RATIO[2]}" "${peak[nsis]}"
true
