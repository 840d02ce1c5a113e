# Sourced by the benchmarks that set our engine against a peer. One way for all of them to
# take the figures, so that a slow spell of a busy machine (another build, a page-cache
# flush) falls on both sides alike rather than on whichever ran second:
#   - one warm-up run of each side first, not counted (the prefix, the disk cache and the
#     peer's own first start settle there);
#   - then RUNS rounds, each running every side once in turn (A B A B ...);
#   - per side the median and the spread (min-max), and of each peer against the first
#     side the ratio of the medians and the median and spread of the per-round ratios.
#
#   bench_alternate RUNS UNIT LABEL_A FUNC_A LABEL_B FUNC_B [LABEL_C FUNC_C ...]
#       FUNC_x is a shell command (usually a function) that measures one run of its side
#       and prints the figure (a number in UNIT) as the last line of its output; whatever
#       it prints before is kept in the log. It runs in this shell, so it may keep state
#       (for example the largest peak working set). A run that fails or prints no number
#       ends the benchmark. After the call:
#         BENCH_MEDIAN[i]  the median of side i (0 is the first side)
#         BENCH_RATIO[i]   median of side 0 / median of side i (i >= 1)
#       and BENCH_LOG names a file with every run's full output.
#   bench_report UNIT LABEL_A "A1 A2 ..." LABEL_B "B1 B2 ..." [...]
#       the summary above for figures taken elsewhere (a timer program that alternates the
#       sides itself); the k-th figures of all sides are one round.
#   bench_say_build           prints on which build the figures were taken (after
#                             bench_wine_target from bench/wine_target.sh)

# The median, minimum and maximum of the numbers on standard input, one a line.
bench_stats() {
  sort -g | awk '{ v[NR] = $1 }
    END { if (NR == 0) exit 1
          m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2
          printf "%s %s %s\n", m, v[1], v[NR] }'
}

# (the locals of these functions begin with _b_: the measuring functions they call see the
# caller's variables, not ones of the same name here)
_bench_measure() {  # _bench_measure FUNC: runs one measurement in this shell, sets BENCH_FIGURE
  local _b_out _b_figure
  _b_out=$(mktemp)
  if ! eval "$1" > "$_b_out"; then
    echo "measurement failed: $1" >&2; cat "$_b_out" >&2; rm -f "$_b_out"; return 1
  fi
  cat "$_b_out" >> "$BENCH_LOG"
  _b_figure=$(tr -d '\r' < "$_b_out" | awk 'NF { last = $NF } END { print last }')
  rm -f "$_b_out"
  if ! [[ $_b_figure =~ ^[0-9]+([.][0-9]+)?$ ]]; then
    echo "no figure from: $1 (last word: '$_b_figure')" >&2; return 1
  fi
  BENCH_FIGURE=$(_bench_num "$_b_figure")
}

# A figure with at most three decimals, without trailing zeros.
_bench_num() { awk -v x="$1" 'BEGIN { s = sprintf("%.3f", x); sub(/0+$/, "", s); sub(/[.]$/, "", s); print s }'; }

bench_alternate() {
  local _b_runs=$1 _b_unit=$2; shift 2
  (( $# >= 4 && $# % 2 == 0 )) || { echo "bench_alternate: RUNS UNIT LABEL FUNC LABEL FUNC..." >&2; return 2; }
  local -a _b_labels=() _b_funcs=()
  while (( $# )); do _b_labels+=("$1"); _b_funcs+=("$2"); shift 2; done
  local _b_n=${#_b_labels[@]} _b_i _b_r _b_med _b_lo _b_hi
  BENCH_LOG=${BENCH_LOG:-$(mktemp)}
  local -a _b_values=()  # the figure of round r, side i at [r * n + i]
  for ((_b_i = 0; _b_i < _b_n; _b_i++)); do
    _bench_measure "${_b_funcs[_b_i]}" || return 1
    printf 'warm-up  %-24s %10s %s (not counted)\n' "${_b_labels[_b_i]}" "$BENCH_FIGURE" "$_b_unit"
  done
  for ((_b_r = 0; _b_r < _b_runs; _b_r++)); do
    local _b_line
    _b_line=$(printf 'round %-3d' $((_b_r + 1)))
    for ((_b_i = 0; _b_i < _b_n; _b_i++)); do
      _bench_measure "${_b_funcs[_b_i]}" || return 1
      _b_values[_b_r * _b_n + _b_i]=$BENCH_FIGURE
    done
    for ((_b_i = 0; _b_i < _b_n; _b_i++)); do _b_line+=$(printf '  %s %s %s' "${_b_labels[_b_i]}" "${_b_values[_b_r * _b_n + _b_i]}" "$_b_unit"); done
    echo "$_b_line"
  done
  local -a _b_lists=()
  for ((_b_i = 0; _b_i < _b_n; _b_i++)); do
    _b_lists+=("${_b_labels[_b_i]}" "$(for ((_b_r = 0; _b_r < _b_runs; _b_r++)); do printf '%s ' "${_b_values[_b_r * _b_n + _b_i]}"; done)")
  done
  bench_report "$_b_unit" "${_b_lists[@]}"
}

bench_report() {
  local _b_unit=$1; shift
  local -a _b_labels=() _b_lists=()
  while (( $# >= 2 )); do _b_labels+=("$1"); _b_lists+=("$2"); shift 2; done
  local _b_n=${#_b_labels[@]} _b_i _b_stats _b_med _b_lo _b_hi
  BENCH_MEDIAN=() BENCH_RATIO=()
  for ((_b_i = 0; _b_i < _b_n; _b_i++)); do
    _b_stats=$(tr -s ' ' '\n' <<<"${_b_lists[_b_i]}" | sed '/^$/d' | bench_stats) || { echo "no figures for ${_b_labels[_b_i]}" >&2; return 1; }
    read -r BENCH_MEDIAN[_b_i] _b_lo _b_hi <<<"$_b_stats"
    printf '%-24s median %10s %s   spread %s-%s\n' "${_b_labels[_b_i]}" "$(_bench_num "${BENCH_MEDIAN[_b_i]}")" "$_b_unit" \
      "$(_bench_num "$_b_lo")" "$(_bench_num "$_b_hi")"
  done
  for ((_b_i = 1; _b_i < _b_n; _b_i++)); do
    BENCH_RATIO[_b_i]=$(awk -v a="${BENCH_MEDIAN[0]}" -v b="${BENCH_MEDIAN[_b_i]}" 'BEGIN { printf "%.3f", (b > 0) ? a / b : 0 }')
    # the per-round ratios: the k-th figure of the first side over the k-th of this one
    _b_stats=$(paste -d ' ' <(tr -s ' ' '\n' <<<"${_b_lists[0]}" | sed '/^$/d') <(tr -s ' ' '\n' <<<"${_b_lists[_b_i]}" | sed '/^$/d') |
            awk 'NF == 2 && $2 > 0 { printf "%.4f\n", $1 / $2 }' | bench_stats) || _b_stats="0 0 0"
    read -r _b_med _b_lo _b_hi <<<"$_b_stats"
    printf 'ratio %s/%s: %.2f of the medians; per round median %.2f, spread %.2f-%.2f\n' \
      "${_b_labels[0]}" "${_b_labels[_b_i]}" "${BENCH_RATIO[_b_i]}" "$_b_med" "$_b_lo" "$_b_hi"
  done
}

bench_say_build() {
  echo "build: $BENCH_BUILD_BITS engine (kemstub.exe is a $BENCH_BUILD_BITS image)$([ "$BENCH_BUILD_BITS" = 64-bit ] && echo ', the test build standing in for the shipping 32-bit one')"
}
