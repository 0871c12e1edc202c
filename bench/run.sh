#!/usr/bin/env bash
# Measures the update pipeline on this machine against the standard tools, on the same files:
#   - a 512 MiB package from tools/operator-server on 127.0.0.1: throughput against `curl -o`
#   - unpacking 20,000 small files, and a few large ones: speed against `unzip -q`
#   - peak memory (VmHWM) of the downloading process for a 64 MiB and a 512 MiB package
#   - the whole update of the 512 MiB package whose digest the configuration names (and, then,
#     with the operator's signature too) against `curl -o`, `unzip -q` and `sha256sum` in a row
#   - windows (only when asked for): the Windows build's whole update of the same package under
#     wine64 (WinINet, CNG) against the Linux build's, both with the digest
# Each figure is the best of five (download) or three (unpacking, update) runs, taken in turns
# with the tool it is compared with. Files live below build/bench and are removed at the end.
#   bench/run.sh [download] [unpack] [update] [windows]     (no argument: the first three)
set -euo pipefail
cd "$(dirname "$0")/.."
sections=" ${*:-download unpack update} "
want() { [[ $sections == *" $1 "* ]]; }

cmake --preset default >/dev/null
cmake --build --preset default -j2 --target update-bench operator-server sign-package >/dev/null
bin=build/default/bin
work=$PWD/build/bench
rm -rf "$work"
mkdir -p "$work/files" "$work/www" "$work/src"

server_pid=
cleanup() {
    [[ -n $server_pid ]] && kill "$server_pid" 2>/dev/null || true
    [[ -n ${WINEPREFIX:-} ]] && wineserver -k </dev/null >/dev/null 2>&1 || true
    rm -rf "$work"
}
trap cleanup EXIT

seconds_now() { date +%s.%N; }
best() { sort -g | head -n1; }
ratio() { python3 -c "import sys; print(f'{float(sys.argv[1]) / float(sys.argv[2]):.2f}')" "$1" "$2"; }

echo "bench: making the test files (not timed)"
want unpack && python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
rnd = random.Random(7)
# 20,000 small files in 200 folders, 200 to 4,000 bytes of text each.
words = [bytes(rnd.choice(b"abcdefghijklmnopqrstuvwxyz") for _ in range(rnd.randint(2, 9))) for _ in range(4000)]
for d in range(200):
    folder = os.path.join(work, "src/small/d%03d" % d)
    os.makedirs(folder)
    for f in range(100):
        with open(os.path.join(folder, "f%03d.txt" % f), "wb") as out:
            out.write(b" ".join(rnd.choice(words) for _ in range(rnd.randint(30, 600))))
# Four large files of compressible game-like data, 64 MiB each.
os.makedirs(os.path.join(work, "src/large"))
block = b" ".join(rnd.choice(words) for _ in range(200000)) + bytes(rnd.getrandbits(8) for _ in range(300000))
for f in range(4):
    with open(os.path.join(work, "src/large/pack%d.dat" % f), "wb") as out:
        left = 64 << 20
        while left > 0:
            chunk = block[: min(left, len(block))]
            out.write(chunk)
            left -= len(chunk)
PY
want unpack && (cd "$work/src" && zip -q -r "$work/small.zip" small && zip -q -r "$work/large.zip" large)
head -c 512M /dev/urandom >"$work/src/payload512.bin"
head -c 64M /dev/urandom >"$work/src/payload64.bin"
(cd "$work/src" && zip -q -0 "$work/files/package512.zip" payload512.bin && zip -q -0 "$work/files/package64.zip" payload64.bin)
rm -rf "$work/src/payload512.bin" "$work/src/payload64.bin"

"$bin/operator-server" --port 0 --config "$work/config.txt" --files "$work/files" --www "$work/www" \
    >"$work/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 100); do grep -q listening "$work/server.out" 2>/dev/null && break; sleep 0.05; done
origin="http://127.0.0.1:$(grep -o '[0-9]*$' "$work/server.out")"
config_url="$origin/api/morvast/ditches/drevoline/client_config_drevoline.php"

use_package() {
    printf 'ClientVersion=1.0.0.1\nClientDownloadUrl=%s/files/%s\nClient32DownloadUrl=%s/files/%s\n%s' \
        "$origin" "$1" "$origin" "$1" "${2:-}" >"$work/config.txt"
}

if want windows; then
    cmake --preset windows-x64 >/dev/null
    cmake --build --preset windows-x64 -j2 --target update-bench >/dev/null
    wine64=/usr/lib/wine/wine64
    [[ -x $wine64 ]] || wine64=$(command -v wine64)
    export WINEPREFIX=$work/wineprefix WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
    # The prefix's server and boot first, detached with closed streams (see scripts/test-windows.sh).
    wineserver -p </dev/null >/dev/null 2>&1 || true
    "$wine64" wineboot </dev/null >/dev/null 2>&1
fi

if want download; then
echo "bench: download of a 512 MiB package"
use_package package512.zip
curl_times=() ours_times=() peak512=()
for _ in 1 2 3 4 5; do
    rm -f "$work/curl.out"
    sync
    start=$(seconds_now)
    curl -s -o "$work/curl.out" "$origin/files/package512.zip"
    curl_times+=("$(python3 -c "print($(seconds_now) - $start)")")
    rm -f "$work/curl.out"
    rm -rf "$work/run"
    sync
    line=$("$bin/update-bench" download "$config_url" "$work/run")
    ours_times+=("$(sed 's/.*seconds=\([0-9.]*\).*/\1/' <<<"$line")")
    peak512+=("$(sed 's/.*peak_kib=\([0-9]*\).*/\1/' <<<"$line")")
done
curl_best=$(printf '%s\n' "${curl_times[@]}" | best)
ours_best=$(printf '%s\n' "${ours_times[@]}" | best)
size=$((512 * 1024 * 1024))
echo "  curl -o:        $(python3 -c "print(f'{$size / $curl_best / 2**20:.0f}')") MiB/s (best ${curl_best}s)"
echo "  launcher:       $(python3 -c "print(f'{$size / $ours_best / 2**20:.0f}')") MiB/s (best ${ours_best}s)"
echo "  throughput ratio launcher/curl: $(ratio "$curl_best" "$ours_best")   (goal >= 0.9)"

echo "bench: peak memory while downloading"
use_package package64.zip
rm -rf "$work/run"
line64=$("$bin/update-bench" download "$config_url" "$work/run")
rm -rf "$work/run"
echo "  64 MiB package:  peak $(sed 's/.*peak_kib=\([0-9]*\).*/\1/' <<<"$line64") KiB (at start $(sed 's/.*start_kib=\([0-9]*\).*/\1/' <<<"$line64") KiB)"
echo "  512 MiB package: peak $(printf '%s\n' "${peak512[@]}" | sort -g | tail -n1) KiB   (goal: no growth with size)"
fi

# Every run unpacks into a folder of its own and nothing is deleted until all are timed: ext4
# makes the first file creations after a large deletion much slower, whoever comes next.
time_unzip() {
    sync
    local start
    start=$(seconds_now)
    unzip -q -o "$1" -d "$2"
    python3 -c "print($(seconds_now) - $start)"
}
time_ours() {
    sync
    "$bin/update-bench" unzip "$1" "$2" | sed 's/seconds=//'
}
want unpack && for archive in small large; do
    unzip_times=() ours_times=()
    for i in 1 2 3; do
        if ((i % 2)); then
            unzip_times+=("$(time_unzip "$work/$archive.zip" "$work/unzip-$archive-$i")")
            ours_times+=("$(time_ours "$work/$archive.zip" "$work/ours-$archive-$i")")
        else
            ours_times+=("$(time_ours "$work/$archive.zip" "$work/ours-$archive-$i")")
            unzip_times+=("$(time_unzip "$work/$archive.zip" "$work/unzip-$archive-$i")")
        fi
    done
    unzip_best=$(printf '%s\n' "${unzip_times[@]}" | best)
    ours_best=$(printf '%s\n' "${ours_times[@]}" | best)
    case $archive in
        small) what="20,000 small files" ;;
        large) what="4 files of 64 MiB" ;;
    esac
    echo "bench: unpacking $what: unzip -q ${unzip_best}s, launcher ${ours_best}s," \
        "speed ratio launcher/unzip $(ratio "$unzip_best" "$ours_best")   (goal >= 1.0)"
done

if want update; then
    echo "bench: whole update of a 512 MiB package with its digest (and signature)"
    openssl genpkey -algorithm ed25519 -out "$work/operator.pem" 2>/dev/null
    public_key=$("$bin/sign-package" --public-key "$work/operator.pem")
    signed_lines=$("$bin/sign-package" "$work/files/package512.zip" "$work/operator.pem")
    digest_line=$(head -n1 <<<"$signed_lines")
    tools_times=() digest_times=() signed_times=()
    time_tools() {
        rm -rf "$work/tools" && mkdir -p "$work/tools" && sync
        local start
        start=$(seconds_now)
        curl -s -o "$work/tools/package.zip" "$origin/files/package512.zip"
        unzip -q -o "$work/tools/package.zip" -d "$work/tools/client"
        sha256sum "$work/tools/package.zip" >/dev/null
        python3 -c "print($(seconds_now) - $start)"
    }
    time_update() {  # <configuration lines> [public key]
        use_package package512.zip "$1"$'\n'
        rm -rf "$work/run" && sync
        "$bin/update-bench" update "$config_url" "$work/run" ${2:+"$2"} | sed 's/seconds=//'
    }
    for i in 1 2 3; do
        if ((i % 2)); then tools_times+=("$(time_tools)"); fi
        digest_times+=("$(time_update "$digest_line")")
        signed_times+=("$(time_update "$signed_lines" "$public_key")")
        if ((i % 2 == 0)); then tools_times+=("$(time_tools)"); fi
    done
    tools_times+=("$(time_tools)")
    rm -rf "$work/tools" "$work/run"
    tools_best=$(printf '%s\n' "${tools_times[@]}" | best)
    digest_best=$(printf '%s\n' "${digest_times[@]}" | best)
    signed_best=$(printf '%s\n' "${signed_times[@]}" | best)
    echo "  curl -o + unzip -q + sha256sum: ${tools_best}s"
    echo "  launcher, digest:               ${digest_best}s   ratio launcher/tools $(ratio "$digest_best" "$tools_best")   (goal <= 0.6)"
    echo "  launcher, digest and signature: ${signed_best}s   ratio launcher/tools $(ratio "$signed_best" "$tools_best")   (goal <= 0.6)"
fi

if want windows; then
    echo "bench: whole update of a 512 MiB package with its digest, the Windows build under wine64 against the Linux build"
    digest_line="ClientPackageSha256=$(sha256sum "$work/files/package512.zip" | cut -c1-64)"
    use_package package512.zip "$digest_line"$'\n'
    windows_work=$("$wine64" winepath -w "$work/winrun" 2>/dev/null | tr -d '\r')
    # One mode of both builds in turns, three times each: "<Linux best> <Windows best>".
    both_builds() {
        local linux_times=() windows_times=()
        for _ in 1 2 3; do
            rm -rf "$work/run" && sync
            linux_times+=("$("$bin/update-bench" "$1" "$config_url" "$work/run" | sed 's/.*seconds=\([0-9.]*\).*/\1/')")
            rm -rf "$work/run" "$work/winrun" && sync
            windows_times+=("$("$wine64" build/windows-x64/bin/update-bench.exe "$1" "$config_url" "$windows_work" \
                </dev/null 2>/dev/null | tr -d '\r' | sed 's/.*seconds=\([0-9.]*\).*/\1/')")
            rm -rf "$work/winrun"
        done
        rm -rf "$work/run"
        echo "$(printf '%s\n' "${linux_times[@]}" | best) $(printf '%s\n' "${windows_times[@]}" | best)"
    }
    read -r linux_best windows_best < <(both_builds update)
    echo "  Linux build (libcurl, OpenSSL):        ${linux_best}s"
    echo "  Windows build under wine64 (WinINet):  ${windows_best}s   ratio Windows/Linux $(ratio "$windows_best" "$linux_best")   (goal <= 1.5)"
    read -r linux_best windows_best < <(both_builds download)
    echo "  of which the download alone: Linux ${linux_best}s, Windows ${windows_best}s   ratio $(ratio "$windows_best" "$linux_best")"
fi
