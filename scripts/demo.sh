#!/usr/bin/env bash
# Builds everything, packs the sample game as the game package, serves it with a configuration
# document from tools/operator-server on the operator's origin port, and runs the launcher in a
# private demo home below build/, so that nothing of the real user's desktop is touched.
# Closing the launcher (Ctrl+C without a window) also stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh

demo=$PWD/build/demo
bin=$PWD/build/default/bin
origin=$(sed -n 's/^VALDRUNE_OPERATOR_ORIGIN:STRING=//p' build/default/CMakeCache.txt)
origin=${origin%/}
port=${origin##*:}

# The game package: the sample game and some data, every folder listed before its files.
rm -rf "$demo/package" "$demo/server"
mkdir -p "$demo/package/zavo/data" "$demo/server/files" "$demo/server/www" "$demo/runtime" \
    "$demo/home/.local/share/applications/Apps" "$demo/home/.config" "$demo/home/Desktop"
chmod 700 "$demo/runtime"
cp build/default/sample-game/zavo.exe "$demo/package/zavo/"
printf 'Valdrune demo world\n' >"$demo/package/zavo/data/world.txt"
printf 'window=1\nwait=30\n' >"$demo/package/zavo/zavo.cfg"
(cd "$demo/package" && zip -q -r "$demo/server/files/zavo.zip" zavo)

cat >"$demo/server/config.txt" <<DOC
EntryUrl=$origin/www/index.html
CustomParameters=demo
ClientVersion=1.0.0.1
ClientMiniUpdateVersion=1.0.0.1
ClientDownloadUrl=$origin/files/zavo.zip
Client32DownloadUrl=$origin/files/zavo.zip
ClientDownloadUrl2=$origin/files/zavo.zip
DOC

"$bin/operator-server" --port "$port" --config "$demo/server/config.txt" --files "$demo/server/files" \
    --www "$demo/server/www" --reports "$demo/server/reports.jsonl" >"$demo/server/out.txt" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    grep -q listening "$demo/server/out.txt" && break
    kill -0 "$server" 2>/dev/null || { cat "$demo/server/out.txt" >&2; exit 1; }
    sleep 0.05
done

export HOME=$demo/home XDG_DATA_HOME=$demo/home/.local/share XDG_CONFIG_HOME=$demo/home/.config \
       XDG_RUNTIME_DIR=$demo/runtime
echo "demo: operator server on $origin (reports in build/demo/server/reports.jsonl)"
echo "demo: launcher log at build/default/bin/valdrune.log, data folder at $XDG_DATA_HOME/zavo-drevoline"
"$bin/valdrune" || true
