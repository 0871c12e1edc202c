#!/usr/bin/env bash
# Runs every test: unit, integration (loopback server, real files and processes) and gui (a
# private Xvfb), then every fuzz target for VALDRUNE_FUZZ_SECONDS seconds (default 20; 0 skips
# them). Set VALDRUNE_PRESET=asan or tsan for a sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset "${VALDRUNE_PRESET:-default}" -j "$(nproc)" "$@"
fuzz_seconds=${VALDRUNE_FUZZ_SECONDS:-20}
if ((fuzz_seconds > 0)); then
    scripts/fuzz.sh "$fuzz_seconds"
fi
