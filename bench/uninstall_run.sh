#!/usr/bin/env bash
# Measures the uninstall's removal of a client folder against `rm -rf` on the same tree:
# 20,000 small files in 200 folders of 10 subfolders each, with a few symbolic links. Each tool
# removes its own fresh copy of the tree, in turns, three times; the best time of each counts.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target uninstall-bench >/dev/null
bin=build/default/bin
work=$PWD/build/bench-uninstall
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

seconds_now() { date +%s.%N; }
best() { sort -g | head -n1; }

echo "bench: making the tree (not timed)"
python3 - "$work/template" <<'PY'
import os, sys
root = sys.argv[1]
for d in range(200):
    for s in range(10):
        folder = os.path.join(root, "zavo/d%03d/s%d" % (d, s))
        os.makedirs(folder)
        for f in range(10):
            with open(os.path.join(folder, "f%d.dat" % f), "wb") as out:
                out.write(b"x" * (200 + 37 * f))
os.makedirs(os.path.join(root, "..", "outside"), exist_ok=True)
for n in range(20):
    os.symlink(os.path.join(root, "..", "outside"), os.path.join(root, "zavo/d%03d/link" % n))
PY

# Every copy is made before any timing: deletions are timed on a quiet file system.
for i in 1 2 3; do
    cp -a "$work/template" "$work/rm-$i"
    cp -a "$work/template" "$work/ours-$i"
done
sync

rm_times=() ours_times=()
time_rm() {
    local start
    start=$(seconds_now)
    rm -rf "$1"
    python3 -c "print($(seconds_now) - $start)"
}
time_ours() { "$bin/uninstall-bench" "$1" "$1.log" | sed 's/seconds=\([0-9.]*\).*/\1/'; }
for i in 1 2 3; do
    if ((i % 2)); then
        rm_times+=("$(time_rm "$work/rm-$i")")
        ours_times+=("$(time_ours "$work/ours-$i")")
    else
        ours_times+=("$(time_ours "$work/ours-$i")")
        rm_times+=("$(time_rm "$work/rm-$i")")
    fi
done
rm_best=$(printf '%s\n' "${rm_times[@]}" | best)
ours_best=$(printf '%s\n' "${ours_times[@]}" | best)
echo "bench: removing 20,000 files in 2,200 folders: rm -rf ${rm_best}s, launcher ${ours_best}s," \
    "time ratio launcher/rm $(python3 -c "print(f'{$ours_best / $rm_best:.2f}')")"
test -d "$work/outside" && echo "  the links' target is intact"
