#!/usr/bin/env bash
# Installs what is missing, builds the release binary and runs it on the bundled sample data.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target boardmill
binary=build/release/boardmill

"$binary" scan data/sample
for file in data/sample/*.fen.zst; do
  zstd -dc "$file" | head -n 1 | tr -d '\r' | while IFS= read -r fen; do
    echo "encode-fen \"$fen\""
    "$binary" encode-fen "$fen"
  done
done
