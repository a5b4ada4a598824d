#!/usr/bin/env bash
# Checks formatting with clang-format and runs clang-tidy over the sources, using the debug
# build's compile commands (configured here if missing).
set -euo pipefail
cd "$(dirname "$0")/.."

git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run -Werror
[[ -f build/debug/compile_commands.json ]] || cmake --preset debug >/dev/null
run-clang-tidy -p build/debug -quiet 'src/.*'
