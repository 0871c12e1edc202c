#!/usr/bin/env bash
# Unpacks a package whose one entry is larger than 4 GiB (4.4 GB of zeros, deflated to a few
# MiB, with ZIP64 sizes) with the launcher's own unpacking, checks that the file arrives whole,
# and times it against `unzip -q`. Needs about 9 GB free below build/; files are removed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target update-bench >/dev/null
bin=build/default/bin
work=$PWD/build/bench-large
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

size=4400000000
echo "bench: making a package with one entry of $size bytes (not timed)"
python3 - "$work/large.zip" "$size" <<'PY'
import sys, zipfile
path, size = sys.argv[1], int(sys.argv[2])
chunk = bytes(1 << 20)
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED, compresslevel=9) as archive:
    for folder in ("zavo/", "zavo/data/"):  # a file's folder comes before it, as the launcher expects
        archive.writestr(zipfile.ZipInfo(folder), "")
    with archive.open("zavo/data/huge.pak", "w", force_zip64=True) as entry:
        left = size
        while left > 0:
            entry.write(chunk[: min(left, len(chunk))])
            left -= min(left, len(chunk))
PY
echo "  package: $(stat -c %s "$work/large.zip") bytes"

start=$(date +%s.%N)
"$bin/update-bench" unzip "$work/large.zip" "$work/ours" >/dev/null
ours=$(python3 -c "print(f'{$(date +%s.%N) - $start:.1f}')")
got=$(stat -c %s "$work/ours/data/client/zavo/data/huge.pak")
cmp -s -n "$size" "$work/ours/data/client/zavo/data/huge.pak" /dev/zero && same=yes || same=no
rm -rf "$work/ours"
echo "  launcher: ${ours}s, $got bytes unpacked, all zero: $same"
[[ $got == "$size" && $same == yes ]] || { echo "bench: the large entry did not arrive whole" >&2; exit 1; }

start=$(date +%s.%N)
unzip -q "$work/large.zip" -d "$work/unzip"
echo "  unzip -q: $(python3 -c "print(f'{$(date +%s.%N) - $start:.1f}')")s"
