#!/usr/bin/env bash
# Runs every test: unit, integration (loopback server, real files and processes) and gui (a
# private Xvfb); then the Windows build (both widths) and its unit tests under wine64 when the
# mingw-w64 toolchain is there (set-up installs it); then every fuzz target for
# VALDRUNE_FUZZ_SECONDS seconds (default 20; 0 skips them). Set VALDRUNE_PRESET=asan or tsan for
# a sanitizer build of the Linux tests alone.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset "${VALDRUNE_PRESET:-default}" -j "$(nproc)" "$@"
if [[ ${VALDRUNE_PRESET:-default} == default ]] && command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    scripts/test-windows.sh
fi
fuzz_seconds=${VALDRUNE_FUZZ_SECONDS:-20}
if ((fuzz_seconds > 0)); then
    scripts/fuzz.sh "$fuzz_seconds"
fi
