#!/usr/bin/env bash
# What the bench scripts share; `source bench/bench_lib.sh`, then:
#   build_bench_data SCALE DIR   makes DIR/input hold 8 x SCALE files of 500,000 positions each
#                                (built once; DIR/complete marks a finished set)
#   timed COMMAND...             runs COMMAND, prints "<wall seconds> <peak RSS KiB> <CPU seconds>"
#   median                       the median of the numbers on standard input
#   bench_boardmill REPO WORK    prints the binary to time: $BOARDMILL_BIN when set, else REPO's
#                                release build, built first (its log in WORK/build.log)
#
# The data set's files are built from bench/games.fen.zst (600,000 positions): they
# alternate between the positions as they are and their colour-mirrored boards, each with its
# own move-counter offset and its own shuffled subset, so no two files are copies of each other.
# Inputs are compressed at zstd level 3.

bench_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

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
  local index=$1 output=$2 source_file=$3 lines_per_file=$4
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

build_bench_data() {
  local scale=$1 data=$2
  local source_file=$bench_dir/games.fen.zst lines_per_file=500000 file_count=$((8 * scale))
  [[ -f $data/complete ]] && return
  if [[ ! -f $source_file ]]; then
    echo "missing $source_file (600,000 positions, one FEN per line)" >&2
    return 1
  fi
  echo "Building $file_count input files of $lines_per_file positions in $data ..."
  rm -rf "$data"
  mkdir -p "$data/input"
  for ((i = 0; i < file_count; ++i)); do
    build_file "$i" "$(printf '%s/input/games-%03d.fen.zst' "$data" "$i")" "$source_file" \
      "$lines_per_file"
  done
  touch "$data/complete"
}

if [[ ! -x /usr/bin/time ]]; then
  apt-get install -y -qq time >/dev/null
fi

timed() {
  local report
  report=$(mktemp)
  /usr/bin/time -v -o "$report" "$@" >/dev/null
  awk -F': ' '
    /Elapsed \(wall clock\)/ {
      n = split($2, part, ":"); seconds = 0
      for (i = 1; i <= n; ++i) seconds = seconds * 60 + part[i]
    }
    /Maximum resident set size/ { rss = $2 }
    /User time|System time/ { cpu += $2 }
    END { printf "%.3f %d %.3f\n", seconds, rss, cpu }' "$report"
  rm -f "$report"
}

median() {
  sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

bench_boardmill() {
  local repo=$1 work=$2
  if [[ -n ${BOARDMILL_BIN:-} ]]; then
    echo "$BOARDMILL_BIN"
    return
  fi
  echo "Building boardmill with the release preset ..." >&2
  (cd "$repo" && cmake --preset release && cmake --build --preset release --target boardmill) \
    >"$work/build.log" 2>&1 || { tail -n 30 "$work/build.log" >&2; return 1; }
  echo "$repo/build/release/boardmill"
}
