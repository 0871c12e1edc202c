#!/usr/bin/env bash
# Runs every test: unit, integration (loopback server, real files and processes) and gui (a
# private Xvfb). Set VALDRUNE_PRESET=asan or tsan for a sanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset "${VALDRUNE_PRESET:-default}" -j "$(nproc)" "$@"
