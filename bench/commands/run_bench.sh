#!/usr/bin/env bash
# The file, registry and text-file statements under Wine, each against a plain Win32 program
# doing the same work in the same Wine prefix:
#   find      "Find All Files" over 100,000 files in 100 folders, against a recursive
#             FindFirstFileA/FindNextFileA loop (and GNU find on Linux, for reference);
#   append    "Write to Text File" appending a line to a 100 MB file, against CopyFileA of the
#             file; the engine's peak working set is printed too;
#   readall   "Read from Text File" with #READALL\, "Replace String" of every "fox" by "cat"
#             and "Write to Text File" of the result into a new file, against sed on Linux,
#             for a 100 MB text of short lines and for a 24 MB text of 8,000 long lines; the
#             engine's output is compared with sed's;
#   registry  10,000 "Read Registry" against as many RegOpenKeyExA, RegQueryValueExA and
#             RegCloseKey; and, for comparison, as many "Comment" statements (what any
#             statement costs the interpreter).
# A setup's time for its statements is a run with them minus a run of a setup without them
# right after it (launch and end cancel out); after a warm-up of each, setup and peer take
# turns, RUNS rounds (bench/compare.sh). command_timer.exe starts every Windows program
# with CreateProcess and times it.
#   run_bench.sh WIN_BUILD KEMBUILD [RUNS]
# Prints the build, every round, the medians and spreads and the ratios setup/peer (goals: find <= 1.5, append <= 2
# with a peak working set under 64 MB, registry <= 2; readall has none). This is a
# measurement, not a test: it fails only when something does not run.
set -eu
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$(readlink -f "${1:?usage: run_bench.sh WIN_BUILD KEMBUILD [RUNS]}")
. "$ROOT/bench/wine_target.sh"
. "$ROOT/bench/compare.sh"
bench_wine_target "$build"
kembuild=$(readlink -f "${2:?kembuild}")
runs=${3:-3}
reads=10000
work=$(mktemp -d)
state=$work/wine
trap '"$ROOT/scripts/wine-harness.sh" stop "$state" >/dev/null 2>&1; rm -rf "$work"' EXIT

mkdir -p "$work/engine"
cp "$build/src/launcher/kemstub.exe" "$build/src/kemlib/kem.lib" "$work/engine/"
"$BENCH_CXX" -O2 -static -o "$work/command_timer.exe" "$ROOT/bench/commands/command_timer.cpp" -lpsapi

# project NAME: a setup whose script is read from standard input.
project() {
  local dir=$work/$1
  mkdir -p "$dir"
  cat > "$dir/project.kemp" <<KEMP
[product]
code = {4E2B7C91-6A3D-4F58-9E0B-7C1D2E3F4A5B}
revision = {5F3C8DA2-7B4E-4069-8F1C-8D2E3F4A5B6C}
title = Command Bench
version = 1.0.0
script = bench.kems
setup-name = bench
KEMP
  cat > "$dir/bench.kems"
  echo 'Terminate with Exit Code "0"' >> "$dir/bench.kems"
  "$kembuild" build "$dir" -o "$work/out-$1" --engine-dir "$work/engine" >/dev/null
}

"$ROOT/scripts/wine-harness.sh" start "$state" >/dev/null
drive=$state/prefix/drive_c
winpath() { echo "Z:$1" | tr / '\\'; }
timer() { "$ROOT/scripts/wine-harness.sh" run "$state" "$work/command_timer.exe" "$@" | tr -d '\r'; }
median_of() { sed -n 's/^median: \([0-9]*\) ms.*/\1/p' <<<"$1"; }
peak_of() { sed -n 's/.*peak working set \([0-9.]*\) MB.*/\1/p' <<<"$1"; }
ratio() { echo "$1 / $2" | bc -l | xargs printf '%.2f'; }
setup_runs() {  # setup_runs NAME [RESET]: the timer's output for a setup's runs, also printed
  local out
  out=$(timer time "$runs" "$(winpath "$work/out-$1/bench.exe") /s" "${@:2}")
  echo "$1:" >&2; echo "$out" >&2
  if ! grep -q '^median' <<<"$out" || grep -q 'exit code [1-9]' <<<"$out"; then
    echo "the setup $1 did not run or did not end with exit code 0" >&2
    exit 1
  fi
  echo "$out"
}
setup_ms() { local out; out=$(setup_runs "$@") || exit 1; median_of "$out"; }
# One figure of a setup's statements for bench_alternate (bench/compare.sh): a run of the
# setup NAME right after a run of the empty setup; prints both and their difference last.
# peak_ws keeps the largest peak working set of the setup's runs.
peak_ws=0
setup_delta() {  # setup_delta NAME [RESET]
  local out with without p
  out=$(runs=1 setup_runs "$@" 2>/dev/null) || { echo "the setup $1 did not run" >&2; return 1; }
  with=$(median_of "$out")
  p=$(peak_of "$out")
  awk -v a="${p:-0}" -v b="$peak_ws" 'BEGIN { exit !(a > b) }' && peak_ws=$p
  without=$(runs=1 setup_ms empty 2>/dev/null) || return 1
  echo "$1: $with ms with, $without ms without"
  echo $((with - without))
}
peer_once() { local out; out=$(timer "$1" 1 "${@:2}"); echo "$out"; median_of "$out"; }
native_ms() {  # native_ms COMMAND...: the median of RUNS native runs, in ms
  local times=() t0
  for _ in $(seq "$runs"); do
    t0=$(date +%s%N)
    "$@"
    times+=($((($(date +%s%N) - t0) / 1000000)))
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p"
}
native_once() { local t0; t0=$(date +%s%N); "$@"; echo $((($(date +%s%N) - t0) / 1000000)); }
# --- The data, made on the Linux side of the prefix's drive -------------------------------
mkdir -p "$drive/bench" "$drive/benchfind"
for d in $(seq -w 0 99); do
  mkdir "$drive/benchfind/folder$d"
  (cd "$drive/benchfind/folder$d" && touch file{000..999}.txt)
done
line='The quick brown fox jumps over the lazy dog; the fox runs on into the wood where the path ends.'
yes "$line"$'\r' | head -n $((100 * 1048576 / (${#line} + 2))) > "$drive/bench/append.txt"
cp "$drive/bench/append.txt" "$drive/bench/text100.txt"
long=$(for _ in $(seq 30); do printf '%s ' "$line"; done)
yes "$long"$'\r' | head -n 8000 > "$drive/bench/text24.txt"
"$ROOT/scripts/wine-harness.sh" run "$state" reg add 'HKCU\Software\Kem Bench' /v Value /d "$line" /f >/dev/null 2>&1

# --- The setups ------------------------------------------------------------------------------
project empty < /dev/null
project find <<'KEMS'
Find All Files "C:\\benchfind\\*.*" "TRUE" "FALSE" "FOUND"
KEMS
project append <<'KEMS'
Write to Text File "C:\\bench\\append.txt" "one more line" "FALSE"
KEMS
for size in 100 24; do
  project "readall$size" <<KEMS
Read from Text File "#READALL\\\\C:\\\\bench\\\\text$size.txt" "TEXT" "END"
Replace String "TEXT" "fox" "cat" "FALSE" "TRUE"
Write to Text File "C:\\\\bench\\\\engine$size.txt" "\$TEXT\$" "FALSE"
KEMS
done
for _ in $(seq "$reads"); do echo 'Read Registry "R" "HKCU" "Software\\Kem Bench" "Value"'; done | project registry
# The same number of statements that do nothing: what every statement costs the interpreter.
for _ in $(seq "$reads"); do echo 'Comment "nothing"'; done | project comments
# Not timed: what the search and the registry read gave.
project check <<'KEMS'
Find All Files "C:\\benchfind\\*.*" "TRUE" "FALSE" "FOUND"
Write to Text File "C:\\bench\\found.txt" "$FOUND$" "FALSE"
Read Registry "R" "HKCU" "Software\\Kem Bench" "Value"
Write to Text File "C:\\bench\\registry.txt" "$R$" "FALSE"
KEMS
timer time 1 "$(winpath "$work/out-check/bench.exe") /s" >/dev/null
found=$(tr '|' '\n' < "$drive/bench/found.txt" | grep -c 'benchfind' || true)
echo "check: Find All Files found $found of 100000 files; Read Registry read '$(tr -d '\r\n' < "$drive/bench/registry.txt")'"

bench_say_build
echo "each comparison: a warm-up of each side, then $runs rounds taking them in turn (bench/compare.sh);"
echo "a setup's figure is its run with the statements minus a run of the empty setup right after it"
echo

# --- Find All Files --------------------------------------------------------------------------
gnu=$(native_ms sh -c "find '$drive/benchfind' -type f | wc -l >/dev/null")
echo "Find All Files, 100,000 files, against FindFirstFileA/FindNextFileA:"
bench_alternate "$runs" ms setup "setup_delta find" "Win32 loop" "peer_once find 'C:\\benchfind'"
echo "Find All Files: ratio $(ratio "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}") (goal <= 1.5); GNU find | wc -l $gnu ms (Linux, reference)"
echo

# --- Write to Text File ----------------------------------------------------------------------
echo "Write to Text File, 100 MB, against CopyFileA:"
peak_ws=0
bench_alternate "$runs" ms setup "setup_delta append" CopyFileA "peer_once copy 'C:\\bench\\append.txt' 'C:\\bench\\copy.txt'"
echo "Write to Text File: ratio $(ratio "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}") (goal <= 2); peak working set of the engine $peak_ws MB (goal < 64)"
echo

# --- Read from Text File #READALL\, Replace String, Write to Text File -----------------------
for size in 100 24; do
  lines=$(wc -l < "$drive/bench/text$size.txt")
  echo "read all, replace, write back, $size MB in $lines lines, against native sed (Linux):"
  bench_alternate "$runs" ms setup "setup_delta readall$size 'cmd /c if exist C:\\bench\\engine$size.txt del C:\\bench\\engine$size.txt'" \
    sed "native_once sh -c \"sed 's/fox/cat/g' '$drive/bench/text$size.txt' > '$drive/bench/sed$size.txt'\""
  if cmp -s "$drive/bench/sed$size.txt" "$drive/bench/engine$size.txt"; then
    same="the engine's file equals sed's"
  else
    same="THE ENGINE'S FILE DIFFERS from sed's ($(stat -c %s "$drive/bench/engine$size.txt" 2>/dev/null || echo no) bytes against $(stat -c %s "$drive/bench/sed$size.txt"))"
  fi
  echo "read all, replace, write back, $size MB: $same"
done
echo

# --- Read Registry ---------------------------------------------------------------------------
echo "Read Registry x $reads, against RegOpenKeyExA/RegQueryValueExA/RegCloseKey:"
bench_alternate "$runs" ms setup "setup_delta registry" "Win32 loop" "peer_once registry $reads 'Software\\Kem Bench' Value"
echo "Read Registry: ratio $(ratio "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}") (goal <= 2)"
empty=$(setup_ms empty 2>/dev/null)
c=$(($(setup_ms comments 2>/dev/null) - empty))
echo "(for comparison: $reads Comment statements take the setup $c ms)"
