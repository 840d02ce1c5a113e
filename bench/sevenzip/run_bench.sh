#!/usr/bin/env bash
# Compares the 7z reader's extraction with `7zz x -mmt=1` on the same archives.
#   run_bench.sh BENCH_EXE [WORKDIR] [WIN32_BUILD]
# BENCH_EXE: bench_sevenzip from a native build without sanitizers (Release).
# WIN32_BUILD: optional MinGW build folder (32- or 64-bit); its kemlib_bench.exe (beside
# kem.lib) then runs the same extraction under Wine through the wine harness.
# RUNS (environment, default 3): rounds per archive after a warm-up of each side; the two
# take turns (bench/compare.sh) and the medians, spreads and ratios 7zz/ours are printed.
set -eu
bench=$(readlink -f "${1:?bench_sevenzip}")
work=$(readlink -m "${2:-/tmp/kem-7z-bench}")
win32=${3:+$(readlink -f "$3")}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export LANG=C.UTF-8 LC_ALL=C.UTF-8
mkdir -p "$work"
cd "$work"

noise() { head -c "$2" /dev/zero | openssl enc -aes-128-ctr -nosalt -K "$(printf '%032x' "$1")" -iv 00000000000000000000000000000000 2>/dev/null; }

# A corpus of about 150 MB: text, logs, semi-random records and some incompressible data.
if [ ! -f corpus/.done ]; then
  rm -rf corpus && mkdir -p corpus/text corpus/data corpus/bin
  for i in $(seq 1 30); do seq $((i * 100000)) $((i * 100000 + 300000)) > "corpus/text/numbers$i.txt"; done
  for i in $(seq 1 10); do
    noise "$i" 3000000 | od -An -tx2 -w32 -v | head -c 5000000 > "corpus/data/records$i.txt"
  done
  for i in $(seq 1 4); do noise "$((100 + i))" 6000000 > "corpus/bin/random$i.bin"; done
  touch corpus/.done
fi
size=$(du -sb corpus | cut -f1)

archive() { # NAME ARGS...
  local name=$1; shift
  [ -f "$name.7z" ] || (cd corpus && 7zz a -bd -y -mmt=2 -mx=5 "$@" "../$name.7z" . >/dev/null)
}
archive lzma -m0=LZMA
archive lzma2 -m0=LZMA2
archive lzma_aes -m0=LZMA -pBench -mhe=on
archive lzma2_aes -m0=LZMA2 -pBench -mhe=on

. "$here/../compare.sh"
runs=${RUNS:-3}

# CPU seconds (user + system) of a command: steadier than the wall clock on a shared machine.
seconds() {
  local TIMEFORMAT='%U %S' t
  t=$( { time "$@" >/dev/null 2>&1; } 2>&1 )
  echo "$t" | awk '{ print $1 + $2 }'
}
fresh() { rm -rf out && mkdir out; "$@"; }  # each extraction into an empty folder

# 7zz comes first in each pair: the ratio 7zz/ours of the times is our speed relative to it.
echo "native $(uname -m) build: $bench"
printf 'corpus %d bytes; per archive a warm-up of each, then %d rounds taking 7zz and ours in turn (CPU seconds)\n' "$size" "$runs"
summary=()
for name in lzma lzma2 lzma_aes lzma2_aes; do
  pw=(); pwarg=()
  case $name in *aes) pw=(-pBench); pwarg=(Bench) ;; esac
  echo "=== $name"
  bench_alternate "$runs" s "7zz -mmt=1" "fresh seconds 7zz x -bd -y -mmt=1 ${pw[*]} -oout $name.7z" \
    ours "fresh seconds \"\$bench\" $name.7z out ${pwarg[*]}"
  peak=$(rm -rf out && mkdir out && "$bench" "$name.7z" out "${pwarg[@]}" | sed 's/.*peak_kb=//')
  summary+=("$(printf '%-10s %9.2f %9.2f %9.2f %8.1f %10.1f' "$name" "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}" \
    "${BENCH_RATIO[1]}" "$(echo "$size / ${BENCH_MEDIAN[1]} / 1000000" | bc -l)" "$(echo "$peak / 1024" | bc -l)")")
done
rm -rf out
printf '%-10s %9s %9s %9s %8s %10s\n' archive 7zz_cpu_s ours_cpu_s ratio MB/s peak_MB
printf '%s\n' "${summary[@]}"

if [ -n "$win32" ]; then
  exe=$(readlink -f "$win32/tests/kemlib/kemlib_bench.exe")
  state=$(readlink -f "$win32/wine")
  harness="$here/../../scripts/wine-harness.sh"
  # A 64-bit build runs in a 64-bit prefix (KEM_WINE_ARCH).
  . "$here/../wine_target.sh"
  bench_wine_target "$win32"
  "$harness" start "$state" >/dev/null 2>&1
  wine_seconds() { "$harness" run "$state" "$exe" "Z:$work/$1.7z" "Z:$work/out" ${2:-} 2>/dev/null | tr -d '\r' | sed -n 's/^seconds=//p'; }
  echo
  bench_say_build
  echo "kem.lib under Wine (wall seconds inside the process) against native 7zz -mmt=1 (CPU seconds)"
  summary=()
  for name in lzma lzma2 lzma_aes lzma2_aes; do
    pw=""; case $name in *aes) pw=Bench ;; esac
    echo "=== $name"
    bench_alternate "$runs" s "7zz -mmt=1" "fresh seconds 7zz x -bd -y -mmt=1 ${pw:+-p$pw} -oout $name.7z" \
      "wine kem.lib" "fresh wine_seconds $name $pw"
    summary+=("$(printf '%-16s %9.2f %9.2f %9.2f' "$name" "${BENCH_MEDIAN[0]}" "${BENCH_MEDIAN[1]}" "${BENCH_RATIO[1]}")")
  done
  printf '%-16s %9s %9s %9s\n' "wine_kem.lib ($BENCH_BUILD_BITS)" 7zz_s ours_s ratio
  printf '%s\n' "${summary[@]}"
  rm -rf out
  "$harness" stop "$state" >/dev/null 2>&1
fi
