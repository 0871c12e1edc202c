#!/usr/bin/env bash
# Builds and runs the report engine's benchmark in the default preset (at most two jobs).
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j2 --target reports_add_request >/dev/null
exec ./build/default/bin/reports_add_request "$@"
