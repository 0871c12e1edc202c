#!/usr/bin/env bash
# Installs what is missing, configures (warnings are errors) and builds. Extra arguments go to
# the CMake configure step, for example -DVALDRUNE_OPERATOR_ORIGIN=http://127.0.0.1:18080.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset "${VALDRUNE_PRESET:-default}" "$@" >/dev/null
cmake --build --preset "${VALDRUNE_PRESET:-default}" -j "$(nproc)"
