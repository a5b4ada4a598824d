#!/usr/bin/env bash
# Times `boardmill convert` in every execution mode on the same 4,000,000 positions split three
# ways: 8 files of 500,000 lines, 200 files of 20,000 and 2,000 files of 2,000. Prints, for each
# layout and mode, the median wall time of the runs, the throughput relative to the sequential
# mode on that layout, and the median peak RSS. Runs write to memory (/dev/shm) when it has room.
#
# Usage: bench/layout_bench.sh [runs] [modes] [-- extra convert options]
#   runs   timed runs of each command (default 3); the commands take turns within a run
#   modes  comma-separated execution modes (default sequential,parallel,staged)
# BOARDMILL_BIN=PATH times that binary instead of building the release preset.
set -euo pipefail

runs=${1:-3}
IFS=, read -r -a modes <<<"${2:-sequential,parallel,staged}"
extra=()
if (($# > 2)); then
  [[ $3 == -- ]] || { echo "usage: $0 [runs] [modes] [-- extra convert options]" >&2; exit 1; }
  extra=("${@:4}")
fi
[[ $runs =~ ^[1-9][0-9]*$ ]] || { echo "runs must be a positive number" >&2; exit 1; }

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/bench_lib.sh"
work=$repo/build/convert-bench
build_bench_data 1 "$work/data-x1"

# The same lines in the same order, cut into files of the given length.
split_layout() {
  local lines=$1 directory=$work/layout-$1
  [[ -f $directory/complete ]] && return
  echo "Splitting the data set into files of $lines lines in $directory ..."
  rm -rf "$directory"
  mkdir -p "$directory/input"
  zstd -q -dc "$work"/data-x1/input/*.fen.zst |
    split -l "$lines" -a 4 -d --additional-suffix=.fen --filter='zstd -q -3 -o "$FILE.zst"' - \
      "$directory/input/games-"
  touch "$directory/complete"
}
layouts=(500000 20000 2000)
for lines in "${layouts[@]}"; do split_layout "$lines"; done

boardmill=$(bench_boardmill "$repo" "$work") || exit 1

output_parent=$work
if [[ -d /dev/shm ]] && (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > 2 * 1024 * 1024)); then
  output_parent=/dev/shm
fi
output=$output_parent/boardmill-layout-bench-output

declare -A times rss
for ((run = 1; run <= runs; ++run)); do
  for lines in "${layouts[@]}"; do
    for mode in "${modes[@]}"; do
      rm -rf "$output"
      read -r seconds peak _ < <(timed "$boardmill" convert "$work/layout-$lines/input" "$output" \
        "--$mode" --min-free-space-gib 0 "${extra[@]}")
      if [[ ! -f $output/run-summary.txt ]]; then
        echo "convert --$mode failed on files of $lines lines:" >&2
        "$boardmill" convert "$work/layout-$lines/input" "$output" "--$mode" \
          --min-free-space-gib 0 "${extra[@]}" >/dev/null
        exit 1
      fi
      times[$lines,$mode]+="$seconds "
      rss[$lines,$mode]+="$peak "
      echo "  run $run: $((4000000 / lines)) x $lines --$mode $seconds s, $((peak / 1024)) MiB"
    done
  done
done
rm -rf "$output"

printf '\n%-20s %-11s %9s %14s %14s\n' layout mode "wall (s)" "vs sequential" "peak RSS MiB"
for lines in "${layouts[@]}"; do
  sequential=$(printf '%s\n' ${times[$lines,sequential]:-} | median)
  for mode in "${modes[@]}"; do
    seconds=$(printf '%s\n' ${times[$lines,$mode]} | median)
    peak=$(printf '%s\n' ${rss[$lines,$mode]} | median)
    awk -v layout="$((4000000 / lines)) x $lines" -v mode="$mode" -v s="$seconds" \
      -v seq="$sequential" -v rss="$peak" 'BEGIN {
      ratio = (seq == "") ? "-" : sprintf("%.2fx", seq / s)
      printf "%-20s %-11s %9.2f %14s %14.0f\n", layout, mode, s, ratio, rss / 1024 }'
  done
done
