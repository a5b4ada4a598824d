#!/usr/bin/env bash
# Times `boardmill convert` with the terminal status line against the same run without it. Both
# run under `script`, so that standard error is a pseudo-terminal either way: one with the
# line drawn four times a second (the default there), one with --no-progress. Prints the median
# wall time and the median CPU time (user + system, the run and `script` together) of each and the
# differences; on a machine that others share, the CPU time is the steadier of the two. The data
# set is bench_lib.sh's (8 x 500,000 positions), converted to memory (/dev/shm) when it has room.
#
# Usage: bench/progress_bench.sh [runs] [modes]
#   runs   timed runs of each variant (default 5); the variants take turns within a run
#   modes  comma-separated execution modes (default sequential)
# BOARDMILL_BIN=PATH times that binary instead of the release preset's build/release/boardmill.
set -euo pipefail

runs=${1:-5}
IFS=, read -r -a modes <<<"${2:-sequential}"
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "runs must be a positive number" >&2; exit 1; }
command -v script >/dev/null || { echo "missing tool: script (bsdutils)" >&2; exit 1; }

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/bench_lib.sh"
work=$repo/build/convert-bench
build_bench_data 1 "$work/data-x1"

boardmill=${BOARDMILL_BIN:-$repo/build/release/boardmill}
if [[ ! -x $boardmill ]]; then
  echo "missing $boardmill: cmake --preset release && cmake --build --preset release" >&2
  exit 1
fi

output_parent=$work
if [[ -d /dev/shm ]] && (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 2 * 1024 * 1024)); then
  output_parent=/dev/shm
fi
output=$output_parent/boardmill-progress-bench-output

# The command line `script` runs on its terminal; the variant adds its option, if any.
convert_command() {
  local mode=$1 option=$2
  printf '%q ' "$boardmill" convert "$work/data-x1/input" "$output" "--$mode" \
    --min-free-space-gib 0 $option
}

declare -A samples
variants=(line no-line)
for ((run = 1; run <= runs; ++run)); do
  for mode in "${modes[@]}"; do
    for variant in "${variants[@]}"; do
      option=""
      [[ $variant == no-line ]] && option=--no-progress
      rm -rf "$output"
      read -r seconds _ cpu_seconds < <(timed script -qec "$(convert_command "$mode" "$option")" \
        /dev/null)
      if [[ ! -f $output/run-summary.txt ]]; then
        echo "convert --$mode $option failed" >&2
        exit 1
      fi
      samples[wall,$mode,$variant]+="$seconds "
      samples[cpu,$mode,$variant]+="$cpu_seconds "
      echo "  run $run: --$mode ${option:-(status line)} $seconds s, CPU $cpu_seconds s"
    done
  done
done
rm -rf "$output"

printf '\n%-11s %-9s %12s %12s %8s\n' mode measure "line (s)" "no line (s)" cost
for mode in "${modes[@]}"; do
  for measure in wall cpu; do
    with=$(printf '%s\n' ${samples[$measure,$mode,line]} | median)
    without=$(printf '%s\n' ${samples[$measure,$mode,no-line]} | median)
    awk -v mode="$mode" -v measure="$measure" -v with="$with" -v without="$without" 'BEGIN {
      printf "%-11s %-9s %12.2f %12.2f %+7.1f%%\n", mode, measure, with, without,
        (with / without - 1) * 100 }'
  done
done
