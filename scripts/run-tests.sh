#!/usr/bin/env bash
# Installs what is missing, builds with the given preset (release by default) and runs every
# test. Presets: release, debug, asan (AddressSanitizer + UndefinedBehaviorSanitizer), tsan.
set -euo pipefail
cd "$(dirname "$0")/.."

preset="${1:-release}"
scripts/install-deps.sh
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset"
ctest --preset "$preset"
