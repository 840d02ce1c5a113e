#!/usr/bin/env bash
# Longer fuzzing by hand:
#   scripts/fuzz.sh [SECONDS] [TARGET...]
# runs every libFuzzer target (or the ones named) for SECONDS each (default 300), one after
# the other, one job each. A target starts from its seed corpus in the repository
# (fuzz/*/corpus/TARGET/, only read) and from its working corpus under the build folder,
# which keeps what earlier runs found and takes the new inputs. Inputs that make a target
# fail land in BUILD/fuzz-findings/TARGET/. Prints per target the executions done and what
# was found; exits non-zero when anything was found or a target could not run.
# Builds the fuzz tree first (clang, as scripts/test.sh does); the dependencies come from
# scripts/install-deps.sh.
# Environment: KEM_BUILD_DIR (default ./build), KEM_JOBS (build parallelism, default: number
# of cores), KEM_FUZZ_SEED (libFuzzer's seed; default: a new one every run).
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
BUILD=${KEM_BUILD_DIR:-$ROOT/build}
JOBS=${KEM_JOBS:-$(nproc)}
WORK=$BUILD/fuzz-work
FINDINGS=$BUILD/fuzz-findings

seconds=300
if [ $# -gt 0 ] && [[ $1 =~ ^[0-9]+$ ]]; then
  seconds=$1
  shift
fi
if [ "$seconds" -lt 1 ]; then echo "fuzz.sh: SECONDS must be at least 1" >&2; exit 2; fi
case "${1:-}" in
  -h | --help) sed -n '2,13p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//'; exit 0 ;;
esac

command -v clang++ >/dev/null || { echo "fuzz.sh: clang++ not found; run scripts/install-deps.sh first" >&2; exit 1; }
if [ ! -f "$BUILD/fuzz/build.ninja" ]; then
  cmake -S . -B "$BUILD/fuzz" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DKEM_FUZZ=ON \
    -DKEM_TESTS=OFF -DKEM_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKEM_SKIP_DIRS=kembuild >/dev/null ||
    { echo "fuzz.sh: configuring $BUILD/fuzz failed" >&2; exit 1; }
fi
build_targets=()
for t in "$@"; do build_targets+=(--target "$t"); done
if ! cmake --build "$BUILD/fuzz" -j"$JOBS" "${build_targets[@]}"; then
  echo "fuzz.sh: the fuzz build failed${1:+ (are $* fuzz targets?)}" >&2
  exit 1
fi

declare -A binary
while IFS= read -r path; do
  binary[$(basename "$path")]=$path
done < <(find "$BUILD/fuzz/fuzz" -type f -executable -name '*fuzz*')
if [ $# -gt 0 ]; then
  targets=("$@")
else
  mapfile -t targets < <(printf '%s\n' "${!binary[@]}" | sort)
fi
if [ ${#targets[@]} = 0 ]; then echo "fuzz.sh: no fuzz targets in $BUILD/fuzz/fuzz" >&2; exit 1; fi

status=0
summary=()
for target in "${targets[@]}"; do
  exe=${binary[$target]:-}
  if [ -z "$exe" ]; then
    echo "fuzz.sh: no fuzz target named $target (have: $(printf '%s ' "${!binary[@]}"))" >&2
    status=1
    continue
  fi
  # The seed corpus is found by the target's name, wherever its area folder is.
  seeds=()
  for dir in "$ROOT"/fuzz/*/corpus/"$target"; do
    [ -d "$dir" ] && seeds+=("$dir")
  done
  [ ${#seeds[@]} = 0 ] && echo "fuzz.sh: $target has no seed corpus (fuzz/AREA/corpus/$target/)" >&2
  corpus=$WORK/$target
  found=$FINDINGS/$target
  log=$WORK/$target.log
  mkdir -p "$corpus" "$found"
  before=$(ls -A "$found" | sort)
  seed_option=()
  [ -n "${KEM_FUZZ_SEED:-}" ] && seed_option=(-seed="$KEM_FUZZ_SEED")
  echo "fuzzing $target for $seconds s (log: $log)"
  # libFuzzer writes new inputs only to the first corpus folder, so the seeds stay as they are.
  (cd "$WORK" && "$exe" "${seed_option[@]}" -max_total_time="$seconds" -print_final_stats=1 -rss_limit_mb=2048 \
      -timeout=10 -artifact_prefix="$found/" "$corpus" "${seeds[@]}") >"$log" 2>&1
  rc=$?
  execs=$(grep -E '^stat::number_of_executed_units:' "$log" | tail -n 1 | awk '{print $2}')
  new=$(comm -13 <(echo "$before") <(ls -A "$found" | sort) | grep -v '^$')
  files=$(find "$corpus" -type f | wc -l)
  if [ -n "$new" ]; then
    result="FOUND $(echo "$new" | wc -l) in $found: $(echo "$new" | tr '\n' ' ')"
    status=1
  elif [ "$rc" != 0 ]; then
    result="FAILED (exit $rc; see the log)"
    status=1
  else
    result="nothing found"
  fi
  line="$target: ${execs:-?} executions, $files inputs in the working corpus, $result"
  echo "$line"
  [ "$rc" != 0 ] && tail -n 20 "$log"
  summary+=("$line")
done

echo
printf '%s\n' "${summary[@]}"
exit $status
