#!/usr/bin/env bash
# Times `boardmill convert --sequential` against the floor the libraries set on the same data:
# decompressing every input with `zstd -dc`, plus compressing the records the run produced
# with `zstd -8 -T1` (the shard level, one thread). Reports medians of several runs.
#
# Usage: bench/convert_bench.sh [scale] [runs]
#   scale  data set size: 8 x scale files of 500,000 positions each (default 1: 4 million)
#   runs   timed runs of each command (default 3)
#
# The data set is built once from bench/games.fen.zst (600,000 positions) and kept under
# build/convert-bench: files alternate between the positions as they are and their colour-
# mirrored boards, each with its own move-counter offset and its own shuffled subset, so no two
# files are copies of each other. Inputs are compressed at zstd level 3.
set -euo pipefail

scale=${1:-1}
runs=${2:-3}
if ! [[ $scale =~ ^[1-9][0-9]*$ && $runs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 [scale] [runs]   (both positive integers)" >&2
  exit 1
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
source_file=$repo/bench/games.fen.zst
work=$repo/build/convert-bench
data=$work/data-x$scale
lines_per_file=500000
file_count=$((8 * scale))

if [[ ! -f $source_file ]]; then
  echo "missing $source_file (600,000 positions, one FEN per line)" >&2
  exit 1
fi
for tool in zstd cmake shuf; do
  command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
if [[ ! -x /usr/bin/time ]]; then
  apt-get install -y -qq time >/dev/null
fi

# --- data set ----------------------------------------------------------------------------------

# Swaps the colours of a FEN line whose letters were already case-swapped by tr: reverses the
# ranks, restores the field letters, flips the en-passant rank, and shifts the fullmove number.
mirror_fields='
{
  n = split($1, rank, "/"); board = rank[n]
  for (i = n - 1; i >= 1; --i) board = board "/" rank[i]
  $1 = board
  $2 = ($2 == "W") ? "b" : "w"
  c = ""
  if (index($3, "K")) c = c "K"
  if (index($3, "Q")) c = c "Q"
  if (index($3, "k")) c = c "k"
  if (index($3, "q")) c = c "q"
  $3 = (c == "") ? "-" : c
  if ($4 != "-") $4 = tolower(substr($4, 1, 1)) (9 - substr($4, 2, 1))
  $6 = ($6 + offset) % 60000 + 1
  print
}'
shift_counters='{ $6 = ($6 + offset) % 60000 + 1; print }'

build_file() {
  local index=$1 output=$2
  local offset=$((index * 37))
  local transform=(cat)
  local fields=$shift_counters
  if ((index % 2 == 1)); then
    transform=(tr 'a-zA-Z' 'A-Za-z')
    fields=$mirror_fields
  fi
  zstd -q -dc "$source_file" | "${transform[@]}" | mawk -v offset="$offset" "$fields" |
    shuf -n "$lines_per_file" --random-source=<(yes "boardmill bench $index") |
    zstd -q -3 -o "$output"
}

if [[ ! -f $data/complete ]]; then
  echo "Building $file_count input files of $lines_per_file positions in $data ..."
  rm -rf "$data"
  mkdir -p "$data/input"
  for ((i = 0; i < file_count; ++i)); do
    build_file "$i" "$(printf '%s/input/games-%03d.fen.zst' "$data" "$i")"
  done
  touch "$data/complete"
fi
input_bytes=$(cat "$data"/input/*.fen.zst | wc -c)

# --- build -------------------------------------------------------------------------------------

echo "Building boardmill with the release preset ..."
mkdir -p "$work"
if ! (cd "$repo" && cmake --preset release && cmake --build --preset release --target boardmill) \
  >"$work/build.log" 2>&1; then
  tail -n 30 "$work/build.log" >&2
  exit 1
fi
boardmill=$repo/build/release/boardmill

# --- timing ------------------------------------------------------------------------------------

# Runs a command under /usr/bin/time -v; prints "<wall seconds> <peak RSS KiB> <CPU seconds>".
timed() {
  local report=$work/time.txt
  /usr/bin/time -v -o "$report" "$@" >/dev/null
  awk -F': ' '
    /Elapsed \(wall clock\)/ {
      n = split($2, part, ":"); seconds = 0
      for (i = 1; i <= n; ++i) seconds = seconds * 60 + part[i]
    }
    /Maximum resident set size/ { rss = $2 }
    /User time|System time/ { cpu += $2 }
    END { printf "%.3f %d %.3f\n", seconds, rss, cpu }' "$report"
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

output=$work/output
raw=$work/records.raw
convert_times=()
convert_rss=()
convert_cpu=()
decompress_times=()
compress_times=()
floor_cpu=()
# The three commands take turns, so that a change in the machine's load over the runs weighs on
# the conversion and on the floor alike.
for ((run = 1; run <= runs; ++run)); do
  rm -rf "$output"
  read -r seconds rss cpu < <(timed "$boardmill" convert "$data/input" "$output" --sequential)
  convert_times+=("$seconds")
  convert_rss+=("$rss")
  convert_cpu+=("$cpu")
  if [[ ! -f $output/run-summary.txt ]]; then
    echo "boardmill convert failed:" >&2
    "$boardmill" convert "$data/input" "$output" --sequential >/dev/null
    exit 1
  fi
  # The records the run produced, in shard order: what the floor's compressor gets.
  zstd -q -dc "$output"/shard-*.psfen.zst >"$raw"
  encoded=$(sed -n 's/^encoded_positions=//p' "$output/run-summary.txt")
  rm -rf "$output"
  read -r decompress _ decompress_cpu < <(timed zstd -q -dc "$data"/input/*.fen.zst)
  decompress_times+=("$decompress")
  read -r compress _ compress_cpu < <(timed zstd -q -8 -T1 -c "$raw")
  compress_times+=("$compress")
  floor_cpu+=("$(awk -v a="$decompress_cpu" -v b="$compress_cpu" 'BEGIN { print a + b }')")
  echo "  run $run: convert $seconds s (peak RSS $((rss / 1024)) MiB), floor $decompress s + $compress s"
done
rm -f "$raw"

convert_median=$(printf '%s\n' "${convert_times[@]}" | median)
rss_median=$(printf '%s\n' "${convert_rss[@]}" | median)
decompress_median=$(printf '%s\n' "${decompress_times[@]}" | median)
compress_median=$(printf '%s\n' "${compress_times[@]}" | median)
convert_cpu_median=$(printf '%s\n' "${convert_cpu[@]}" | median)
floor_cpu_median=$(printf '%s\n' "${floor_cpu[@]}" | median)

awk -v files="$file_count" -v encoded="$encoded" -v bytes="$input_bytes" -v runs="$runs" \
  -v convert="$convert_median" -v rss="$rss_median" \
  -v decompress="$decompress_median" -v compress="$compress_median" \
  -v convert_cpu="$convert_cpu_median" -v floor_cpu="$floor_cpu_median" 'BEGIN {
  floor = decompress + compress
  printf "Data set: %d files, %d positions, %.1f MiB compressed (zstd -3)\n", files, encoded, bytes / 1048576
  printf "Medians of %d runs:\n", runs
  printf "  convert --sequential: %.3f s, %.0f positions/s, peak RSS %.1f MiB\n", convert, encoded / convert, rss / 1024
  printf "  floor: zstd -dc %.3f s + zstd -8 -T1 %.3f s = %.3f s, %.0f positions/s\n", decompress, compress, floor, encoded / floor
  printf "  ratio convert / floor: %.2f (target at most 1.40)\n", convert / floor
  printf "  CPU seconds (user + system): convert %.3f, floor %.3f, ratio %.2f\n", convert_cpu, floor_cpu, convert_cpu / floor_cpu
}'
