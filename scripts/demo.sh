#!/usr/bin/env bash
# The launcher end to end: installs what is missing, builds, packs the sample game as the game
# package, serves it with a configuration document and the demo login page from
# tools/operator-server on the operator's origin port (the package slowed so that the download
# takes a few seconds), and runs the launcher in a fresh private home below build/demo/, so that
# nothing of the real user's desktop is touched. A login on the page (any name, password
# "valdrune") starts the sample game; the launcher hides, waits for it, and exits with it.
#
# Without a display ($DISPLAY unset) it runs under an Xvfb of its own, logs in by itself and
# saves a screenshot of each stage under build/demo/screenshots/.
#
# --windows-game: the package carries the sample game built as a Windows program instead, as the
# real client is one; the launcher makes its Wine prefix once the client is ready (some seconds,
# "正在准备游戏运行环境...") and runs the game through Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
game=build/default/sample-game/zavo.exe
case ${1:-} in
    "") ;;
    --windows-game) game=build/default/sample-game-windows/zavo.exe ;;
    *) echo "usage: scripts/demo.sh [--windows-game]" >&2; exit 2 ;;
esac
scripts/build.sh

demo=$PWD/build/demo
bin=$PWD/build/default/bin
shots=$demo/screenshots
origin=$(sed -n 's/^VALDRUNE_OPERATOR_ORIGIN:STRING=//p' build/default/CMakeCache.txt)
origin=${origin%/}
port=${origin##*:}

# Every run starts from nothing, so each one shows the whole road: download, unpacking, login.
rm -rf "$demo"
mkdir -p "$demo/package/zavo/data" "$demo/server/files" "$demo/runtime" "$shots" \
    "$demo/home/.local/share/applications/Apps" "$demo/home/.config" "$demo/home/Desktop"
chmod 700 "$demo/runtime"

# The game package: the sample game, which shows its window for a few seconds, and some data;
# every folder listed before its files.
cp "$game" "$demo/package/zavo/"
printf 'Valdrune demo world\n' >"$demo/package/zavo/data/world.txt"
printf 'window=1\nwait=5\n' >"$demo/package/zavo/zavo.cfg"
(cd "$demo/package" && zip -q -r "$demo/server/files/zavo.zip" zavo)
package_size=$(stat -c %s "$demo/server/files/zavo.zip")

# The operator's side of the package check: a signing key of the demo's own and the package's
# digest and signature lines for the configuration (tools/sign-package). The launcher checks
# the digest before unpacking; a build made with the key's public half checks the signature too.
openssl genpkey -algorithm ed25519 -out "$demo/server/operator.pem" 2>/dev/null
signed_lines=$("$bin/sign-package" "$demo/server/files/zavo.zip" "$demo/server/operator.pem")

cat >"$demo/server/config.txt" <<DOC
EntryUrl=$origin/www/login.html
CustomParameters=demo
ClientVersion=1.0.0.1
ClientMiniUpdateVersion=1.0.0.1
ClientDownloadUrl=$origin/files/zavo.zip
Client32DownloadUrl=$origin/files/zavo.zip
ClientDownloadUrl2=$origin/files/zavo.zip
$signed_lines
DOC

pids=()
cleanup() {
    local pid
    for pid in "${pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    # Wine's server and background programs of the demo's prefix, if the Windows game ran.
    if [[ -d $demo/home/.local/share/zavo-drevoline/wine ]] && command -v wineserver >/dev/null; then
        WINEPREFIX=$demo/home/.local/share/zavo-drevoline/wine wineserver -k </dev/null >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

# The page comes from the server's own www folder (tools/operator-server/www).
"$bin/operator-server" --port "$port" --config "$demo/server/config.txt" --files "$demo/server/files" \
    --reports "$demo/server/reports.jsonl" --rule /files/zavo.zip "rate=$((package_size / 4 + 1))" \
    >"$demo/server/out.txt" 2>&1 &
pids+=($!)
for _ in $(seq 100); do
    grep -q listening "$demo/server/out.txt" && break
    kill -0 "${pids[0]}" 2>/dev/null || { cat "$demo/server/out.txt" >&2; exit 1; }
    sleep 0.05
done
grep -q listening "$demo/server/out.txt" || { echo "demo: the operator server did not start" >&2; exit 1; }

headless=
if [[ -z ${DISPLAY:-} ]]; then
    headless=1
    # Xvfb picks a free display and writes its number to file descriptor 3 once it listens.
    Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$demo/xvfb.display" 2>"$demo/xvfb.log" &
    pids=("$!" "${pids[@]}")  # ended after the launcher, before the server
    for _ in $(seq 100); do
        [[ -s $demo/xvfb.display ]] && break
        sleep 0.05
    done
    [[ -s $demo/xvfb.display ]] || { echo "demo: Xvfb did not start (see $demo/xvfb.log)" >&2; exit 1; }
    export DISPLAY=:$(head -n1 "$demo/xvfb.display")
fi

export HOME=$demo/home XDG_DATA_HOME=$demo/home/.local/share XDG_CONFIG_HOME=$demo/home/.config \
       XDG_RUNTIME_DIR=$demo/runtime
echo "demo: operator server on $origin (reports in build/demo/server/reports.jsonl)"
echo "demo: launcher log at build/default/bin/valdrune.log, data folder at $XDG_DATA_HOME/zavo-drevoline"
if [[ -z $headless ]]; then
    echo "demo: log in on the page with any name and the password valdrune; Ctrl+C ends the demo"
    "$bin/valdrune" || true
    exit 0
fi

echo "demo: no display, so the launcher runs on Xvfb $DISPLAY and the demo logs in by itself"
"$bin/valdrune" >"$demo/launcher.out" 2>&1 &
launcher=$!
pids=("$launcher" "${pids[@]}")
status=0
"$bin/demo-pilot" "$shots" || status=$?
if ((status != 0)); then
    kill "$launcher" 2>/dev/null || true
fi
wait "$launcher" || true
record=$XDG_DATA_HOME/zavo-drevoline/client/zavo/zavo-launch.json
if ((status == 0)) && [[ -f $record ]]; then
    echo "demo: the game ran for a few seconds and ended, and the launcher with it; the game's record:"
    sed 's/^/  /' "$record"
else
    echo "demo: the demo did not reach its end; see the launcher log" >&2
    status=1
fi
echo "demo: screenshots of each stage in ${shots#"$PWD"/}:"
for shot in "$shots"/*.png; do
    [[ -e $shot ]] && echo "  ${shot#"$PWD"/}"
done
exit "$status"
