#!/usr/bin/env bash
# Installs what is missing, builds the release binary, converts the bundled sample data set with
# the default options and verifies the shards it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target boardmill
binary=build/release/boardmill
output=build/sample-output

"$binary" scan data/sample
rm -rf "$output"
"$binary" convert data/sample "$output"
"$binary" verify-shards "$output"
