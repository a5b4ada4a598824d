#!/usr/bin/env bash
# Regenerates the bundled data sets from the shared position collections, byte for byte the
# same on every run (fixed line selections, fixed zstd levels, no timestamps or names stored):
#   data/sample/*.fen.zst        three small input files for a first run of the tool; besides
#                                valid positions they hold blank lines, CRLF line endings and
#                                lines that every kind of check refuses;
#   tests/data/positions.fen.zst the positions the codec tests run over;
#   bench/games.fen.zst          the encoder benchmark's input.
# Usage: scripts/make-sample-data.sh [SHARED_DATA_DIR]   (default /work/shared/data)
set -euo pipefail
# Every pipeline below reads its input to the end (sed or awk, never head), so pipefail only
# reports real failures.
cd "$(dirname "$0")/.."

shared="${1:-/work/shared/data}"
openings="$shared/openings.fen.zst"
games="$shared/games.fen.zst"
for file in "$openings" "$games"; do
  [[ -r "$file" ]] || { echo "cannot read $file" >&2; exit 1; }
done

compress() {  # stdin -> $1
  zstd -q -19 --no-progress -f -o "$1"
}

# Lines that fail somewhere between field splitting and encoding, one per kind of failure, plus
# a line with a trailing tab and one whose fields are separated by tabs.
invalid_lines() {
  cat <<'LINES'
not a fen at all
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP w KQkq - 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR/ w KQkq - 0 1
rnbqkbnr/ppppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1
rnbqkbnr/pppppppp/9/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQXBNR w KQkq - 0 1
rnbq1bnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR x KQkq - 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkx - 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e9 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq e4 0 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - x 1
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 0
rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 200 80
qqqqqqqq/qqqqqqqq/qqqqqqqq/qqqqkqqq/QQQQKQQQ/QQQQQQQQ/QQQQQQQQ/QQQQQQQQ w - - 0 1
LINES
  printf 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR w KQkq - 0 1\t\n'
  printf 'rnbqkbnr/pppppppp/8/8/8/8/PPPPPPPP/RNBQKBNR\tw KQkq - 0 1\n'
}

mkdir -p data/sample tests/data bench

# 1. Opening positions with Unix line endings, a blank line near the top, invalid lines spread
#    through the file and a last line without a line feed.
{
  zstd -dc "$openings" | sed -n "1,1199p" | awk -v bad="$(invalid_lines | head -n 9)" '
    BEGIN { n = split(bad, invalid, "\n") }
    NR == 3 { print "" }
    { print }
    NR % 120 == 0 && NR / 120 <= n { print invalid[NR / 120] }'
  zstd -dc "$openings" | sed -n '1200p' | tr -d '\n'
} | compress data/sample/openings.fen.zst

# 2. Early game positions with Windows line endings throughout, including blank CRLF lines.
zstd -dc "$games" | sed -n "1,1000p" |
  awk -v bad="$(invalid_lines | tail -n +10)" '
    BEGIN { n = split(bad, invalid, "\n") }
    { printf "%s\r\n", $0 }
    NR % 100 == 0 { printf "\r\n" }
    NR % 120 == 0 && NR / 120 <= n { printf "%s\r\n", invalid[NR / 120] }' |
  compress data/sample/games-early.fen.zst

# 3. Positions from every phase of the game, mixed line endings and runs of blank lines.
zstd -dc "$games" | awk 'NR % 600 == 7' |
  awk '
    { printf "%s%s", $0, (NR % 3 == 0 ? "\r\n" : "\n") }
    NR % 250 == 0 { printf "\n\n\r\n" }' |
  compress data/sample/games-mixed.fen.zst

# Codec test positions: all openings plus every 200th game position.
{
  zstd -dc "$openings"
  zstd -dc "$games" | awk 'NR % 200 == 1'
} | compress tests/data/positions.fen.zst

cp "$games" bench/games.fen.zst
chmod 644 bench/games.fen.zst

for file in data/sample/*.fen.zst tests/data/positions.fen.zst; do
  printf '%s: %s lines\n' "$file" "$(zstd -dc "$file" | wc -l)"
done
