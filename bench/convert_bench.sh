#!/usr/bin/env bash
# Times `boardmill convert` in each execution mode against the floor the libraries set on the
# same data: decompressing every input with `zstd -dc`, plus compressing the records the run
# produced with `zstd -8 -T1` (the shard level, one thread). Reports medians of several runs.
# A second floor replaces the single stream by one level-8 stream per shard, fed a flush of
# records at a time in turn, which is what any conversion writing the shards at once must pay.
#
# Usage: bench/convert_bench.sh [scale] [runs] [modes] [layout]
#   scale   data set size: 8 x scale files of 500,000 positions each (default 1: 4 million)
#   runs    timed runs of each command (default 3)
#   modes   comma-separated execution modes to time (default sequential,parallel,staged)
#   layout  files (default): the 8 x scale files; single: the same positions as one file
#
# The floors write no files, so the runs write theirs to memory (/dev/shm) when it has room, and
# the figures compare computation alone. On a disk, the file system's cost of creating files
# weighs on the parallel mode, which writes a fragment file per input file and shard: ext4 that
# has just deleted the previous run's thousands of files scans past their inodes for each new
# one. BOARDMILL_BENCH_OUTPUT=DIR puts the runs' output (and scratch) directory under DIR instead.
#
# The data set (bench/bench_lib.sh) is built once and kept under build/convert-bench.
set -euo pipefail

scale=${1:-1}
runs=${2:-3}
IFS=, read -r -a modes <<<"${3:-sequential,parallel,staged}"
layout=${4:-files}
if ! [[ $scale =~ ^[1-9][0-9]*$ && $runs =~ ^[1-9][0-9]*$ && $layout =~ ^(files|single)$ ]]; then
  echo "usage: $0 [scale] [runs] [modes] [files|single]" >&2
  exit 1
fi
for mode in "${modes[@]}"; do
  [[ $mode =~ ^(sequential|parallel|staged)$ ]] || { echo "unknown mode: $mode" >&2; exit 1; }
done

repo=$(cd "$(dirname "$0")/.." && pwd)
work=$repo/build/convert-bench
data=$work/data-x$scale

for tool in zstd cmake shuf; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done

# --- data set ----------------------------------------------------------------------------------

source "$repo/bench/bench_lib.sh"
build_bench_data "$scale" "$data"
input=$data/input
if [[ $layout == single ]]; then
  input=$data/single
  if [[ ! -f $input/all.fen.zst ]]; then
    mkdir -p "$input"
    zstd -q -dc "$data"/input/*.fen.zst | zstd -q -3 -o "$input/all.fen.zst"
  fi
fi
input_bytes=$(cat "$input"/*.fen.zst | wc -c)

# --- build -------------------------------------------------------------------------------------

echo "Building boardmill with the release preset ..."
mkdir -p "$work"
if ! (cd "$repo" && cmake --preset release && cmake --build --preset release --target boardmill &&
  cmake --preset bench && cmake --build --preset bench --target interleaved_shard_compression) \
  >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log" >&2
  exit 1
fi
boardmill=$repo/build/release/boardmill
interleaved=$repo/build/bench/bench/interleaved_shard_compression

# --- timing ------------------------------------------------------------------------------------

# Room for the shards and the fragments of a run, with a wide margin.
needed_kib=$((1024 * 1024 * scale))
output_parent=$work
if [[ -d /dev/shm ]] && (($(df -Pk /dev/shm | awk 'NR == 2 { print $4 }') > needed_kib)); then
  output_parent=/dev/shm
fi
output=${BOARDMILL_BENCH_OUTPUT:-$output_parent}/boardmill-convert-bench-output
echo "Runs write to $output"
raw=$work/records.raw
raw_shards=$work/raw-shards
declare -A mode_times mode_rss
decompress_times=()
compress_times=()
interleaved_times=()
# The commands take turns, so that a change in the machine's load over the runs weighs on every
# mode and on the floor alike.
for ((run = 1; run <= runs; ++run)); do
  for mode in "${modes[@]}"; do
    rm -rf "$output"
    read -r seconds rss _ < <(timed "$boardmill" convert "$input" "$output" "--$mode" \
      --min-free-space-gib 0)
    if [[ ! -f $output/run-summary.txt ]]; then
      echo "boardmill convert --$mode failed:" >&2
      "$boardmill" convert "$input" "$output" "--$mode" --min-free-space-gib 0 >/dev/null
      exit 1
    fi
    mode_times[$mode]+="$seconds "
    mode_rss[$mode]+="$rss "
    echo "  run $run: convert --$mode $seconds s (peak RSS $((rss / 1024)) MiB)"
  done
  # The records the last run produced, shard by shard and in shard order: what the floors'
  # compressors get.
  rm -rf "$raw_shards"
  mkdir -p "$raw_shards"
  for shard in "$output"/shard-*.psfen.zst; do
    zstd -q -dc "$shard" >"$raw_shards/$(basename "$shard" .zst)"
  done
  cat "$raw_shards"/* >"$raw"
  encoded=$(sed -n 's/^encoded_positions=//p' "$output/run-summary.txt")
  rm -rf "$output"
  read -r decompress _ _ < <(timed zstd -q -dc "$input"/*.fen.zst)
  decompress_times+=("$decompress")
  read -r compress _ _ < <(timed zstd -q -8 -T1 -c "$raw")
  compress_times+=("$compress")
  interleaved_times+=("$("$interleaved" 8 4096 "$raw_shards"/*)")
  echo "  run $run: floor $decompress s + $compress s; one stream per shard ${interleaved_times[-1]} s"
done
rm -rf "$raw" "$raw_shards"

decompress_median=$(printf '%s\n' "${decompress_times[@]}" | median)
compress_median=$(printf '%s\n' "${compress_times[@]}" | median)
interleaved_median=$(printf '%s\n' "${interleaved_times[@]}" | median)
cores=$(nproc)
printf 'Data set: %s layout, %d positions, %.1f MiB compressed (zstd -3); medians of %d runs\n' \
  "$layout" "$encoded" "$(awk -v b="$input_bytes" 'BEGIN { print b / 1048576 }')" "$runs"
awk -v d="$decompress_median" -v c="$compress_median" -v n="$encoded" 'BEGIN {
  printf "  floor: zstd -dc %.3f s + zstd -8 -T1 %.3f s = %.3f s, %.0f positions/s\n", d, c, d + c, n / (d + c) }'
awk -v d="$decompress_median" -v c="$interleaved_median" 'BEGIN {
  printf "  floor with one stream per shard: zstd -dc %.3f s + %.3f s = %.3f s\n", d, c, d + c }'
sequential_median=""
for mode in "${modes[@]}"; do
  seconds=$(printf '%s\n' ${mode_times[$mode]} | median)
  rss=$(printf '%s\n' ${mode_rss[$mode]} | median)
  [[ $mode == sequential ]] && sequential_median=$seconds
  awk -v mode="$mode" -v s="$seconds" -v rss="$rss" -v n="$encoded" \
    -v d="$decompress_median" -v c="$compress_median" -v i="$interleaved_median" \
    -v cores="$cores" -v seq="$sequential_median" 'BEGIN {
    f = d + c
    printf "  convert --%s: %.3f s, %.0f positions/s, peak RSS %.1f MiB\n", mode, s, n / s, rss / 1024
    if (mode == "sequential") printf "    ratio to floor: %.2f (to one stream per shard: %.2f)\n", s / f, s / (d + i)
    else printf "    ratio to floor / %d cores: %.2f\n", cores, s / (f / cores)
    if (mode != "sequential" && seq != "") printf "    throughput vs sequential: %.2fx\n", seq / s
  }'
done
