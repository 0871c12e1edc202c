#!/usr/bin/env bash
# Builds the launcher and runs it in a private demo home below build/, so that nothing of the
# real user's desktop is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

demo=$PWD/build/demo
mkdir -p "$demo/home" "$demo/runtime"
chmod 700 "$demo/runtime"
export HOME=$demo/home XDG_DATA_HOME=$demo/home/.local/share XDG_CONFIG_HOME=$demo/home/.config \
       XDG_RUNTIME_DIR=$demo/runtime

echo "demo: launcher log at build/default/bin/valdrune.log, data folder at $XDG_DATA_HOME/zavo-drevoline"
exec build/default/bin/valdrune
