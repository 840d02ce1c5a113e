#!/usr/bin/env bash
# A whole installation under Wine: a setup built by kembuild that installs FILES files of
# together MB megabytes ("Install Files" into TARGETDIR, then "Apply Changes"), started
# silently (launch, support archive, script, installer session), against
#   - msiexec /i /qn on the same database with the properties the script records, and
#   - an NSIS installer with the same files (makensis, Debian package nsis), when present.
# Each is timed RUNS times by session_timer.exe after the previous installation was removed;
# one Wine prefix and one Xvfb display for all.
#   run_bench.sh WIN32_BUILD KEMBUILD [FILES] [MB] [RUNS]
# Prints each run, the medians, the ratios to msiexec (goal <= 1.1) and the engine's peak
# working set. This is a measurement, not a test: it fails only when something does not run.
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN32_BUILD KEMBUILD [FILES] [MB] [RUNS]}")
. "$ROOT/bench/wine_target.sh"
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

setup=$(timer "$runs" "\"$out\\bench.exe\" /s TARGETDIR=C:\\bench\\setup\\" "$remove")
echo "setup (/s):"; echo "$setup"
# (the work folder's path holds no blanks: the property needs no quotes)
bare=$(timer "$runs" "msiexec /i $out\\bench.msi /qn SRCDIR=$out\\data\\ A$header=TRUE P${header}_1=C:\\bench\\msi\\" "$remove")
echo "msiexec /i /qn:"; echo "$bare"
timer 1 "$remove" >/dev/null
s=$(median_of "$setup")
m=$(median_of "$bare")
printf 'setup %s ms, msiexec %s ms: ratio %.2f (goal <= 1.1); peak working set of the engine %s MB, of msiexec %s MB\n' \
  "$s" "$m" "$(echo "$s / $m" | bc -l)" "$(peak_of "$setup")" "$(peak_of "$bare")"
if [ -n "$nsis" ]; then
  peer=$(timer "$runs" "\"$(winpath "$nsis")\" /S" "cmd /c rmdir /s /q C:\\bench\\nsis")
  echo "NSIS (/S):"; echo "$peer"
  n=$(median_of "$peer")
  printf 'setup %s ms, NSIS %s ms: ratio %.2f\n' "$s" "$n" "$(echo "$s / $n" | bc -l)"
fi
