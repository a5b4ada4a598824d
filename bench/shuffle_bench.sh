#!/usr/bin/env bash
# Times `boardmill shuffle` against `boardmill convert --parallel` of the same positions, and
# measures a shuffle's peak memory under a ceiling of a quarter of the raw record bytes. The
# benchmark data set (bench/bench_lib.sh: 8 x scale files of 500,000 positions) is converted once,
# with the default options, into the directory every shuffle reads. Each run times, in turn:
#   convert --parallel of the positions                    the reference wall time
#   shuffle --dedup none, at the default level             at most 1.3 x the reference
#   shuffle --dedup exact
#   shuffle --dedup none --memory-ceiling-mib Q            peak RSS at most Q + 64 MiB
# and the report gives the medians over the runs, the ratios, and the shards' compressed size.
#
# Usage: bench/shuffle_bench.sh [scale] [runs]   (defaults 1 and 3)
# BOARDMILL_BIN=PATH times that binary instead of building the release preset.
# BOARDMILL_BENCH_INPUT=DIR takes the .fen.zst files of DIR instead of the data set and converts
# them afresh (a quick check of the script on a small input).
# Runs write to memory (/dev/shm) when it has room, else under build/shuffle-bench.
set -euo pipefail

scale=${1:-1}
runs=${2:-3}
[[ $scale =~ ^[1-9][0-9]*$ && $runs =~ ^[1-9][0-9]*$ ]] || {
  echo "usage: $0 [scale] [runs]" >&2
  exit 1
}

repo=$(cd "$(dirname "$0")/.." && pwd)
source "$repo/bench/bench_lib.sh"
work=$repo/build/shuffle-bench
mkdir -p "$work"

boardmill=$(bench_boardmill "$repo" "$work") || exit 1

# --- data set, converted once --------------------------------------------------------------------

if [[ -n ${BOARDMILL_BENCH_INPUT:-} ]]; then
  input=$BOARDMILL_BENCH_INPUT
  converted=$work/converted-custom
  rm -rf "$converted"
else
  data=$repo/build/convert-bench/data-x$scale
  build_bench_data "$scale" "$data"
  input=$data/input
  converted=$data/converted
fi
if [[ ! -f $converted/run-summary.txt ]]; then
  echo "Converting $input once into $converted ..."
  rm -rf "$converted"
  "$boardmill" convert "$input" "$converted" --parallel --min-free-space-gib 0 >/dev/null
fi
records=$(sed -n 's/^encoded_positions=//p' "$converted/run-summary.txt")
raw_bytes=$((records * 32))
# A quarter of the raw record bytes (30 MiB at scale 1); not below 16 MiB, where a small custom
# input would be refused for a ceiling too small for any shuffle.
ceiling_mib=$((raw_bytes / 4 / 1048576))
((ceiling_mib >= 16)) || ceiling_mib=16

# --- timing --------------------------------------------------------------------------------------

# Room for the shards and the scratch of a run, with a wide margin.
needed_kib=$((raw_bytes * 3 / 1024))
output_parent=$work
if [[ -d /dev/shm ]] && (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > needed_kib)); then
  output_parent=/dev/shm
fi
output=$output_parent/boardmill-shuffle-bench-output
echo "Runs write to $output"

names=(convert none exact ceiling)
declare -A commands=(
  [convert]="convert $input $output --parallel"
  [none]="shuffle $converted $output --dedup none"
  [exact]="shuffle $converted $output --dedup exact"
  [ceiling]="shuffle $converted $output --dedup none --memory-ceiling-mib $ceiling_mib"
)
declare -A times rss sizes
# The commands take turns, so that a change in the machine's load over the runs weighs on all.
for ((run = 1; run <= runs; ++run)); do
  for name in "${names[@]}"; do
    rm -rf "$output"
    # Word splitting of the command is intended: the paths hold no spaces. A failed command
    # leaves timed without output and its own error on the terminal.
    # shellcheck disable=SC2086
    if ! read -r seconds kib _ < <(timed "$boardmill" ${commands[$name]} --min-free-space-gib 0) ||
      [[ ! -f $output/run-summary.txt ]]; then
      echo "boardmill ${commands[$name]} failed" >&2
      exit 1
    fi
    times[$name]+="$seconds "
    rss[$name]+="$kib "
    sizes[$name]=$(cat "$output"/shard-*.psfen.zst | wc -c)
    echo "  run $run: $name $seconds s, peak RSS $((kib / 1024)) MiB"
  done
done
rm -rf "$output"

# The median of a list of numbers separated by spaces.
median_of() { tr ' ' '\n' <<<"$1" | sed '/^$/d' | median; }
convert_median=$(median_of "${times[convert]}")
printf 'Data set: %d positions, %.1f MiB of records; medians of %d runs\n' "$records" \
  "$(awk -v b="$raw_bytes" 'BEGIN { print b / 1048576 }')" "$runs"
for name in "${names[@]}"; do
  awk -v name="$name" -v command="${commands[$name]%% *}" -v s="$(median_of "${times[$name]}")" \
    -v rss="$(median_of "${rss[$name]}")" -v bytes="${sizes[$name]}" -v c="$convert_median" \
    -v ceiling="$ceiling_mib" 'BEGIN {
    printf "  %-8s %.3f s, ratio to convert --parallel %.2f, peak RSS %.1f MiB, shards %.1f MiB\n",
      name, s, s / c, rss / 1024, bytes / 1048576
    if (name == "none")
      printf "    wall time at most 1.3 x convert: %s\n", (s <= 1.3 * c) ? "yes" : "NO"
    if (name == "ceiling")
      printf "    ceiling %d MiB: peak RSS at most ceiling + 64 MiB: %s\n", ceiling,
        (rss <= (ceiling + 64) * 1024) ? "yes" : "NO"
  }'
done
