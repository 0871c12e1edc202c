#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run its demo.
# Idempotent: when everything is present it only asks dpkg and returns.
set -euo pipefail

packages=(
    # build
    g++ cmake ninja-build pkg-config
    # fuzzing (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes
    clang-14 libfuzzer-14-dev libclang-rt-14-dev llvm-14
    # libraries
    libcurl4-openssl-dev libminizip-dev zlib1g-dev libssl-dev libfmt-dev
    libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxcb1-dev
    # tests, demo server, benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
    xvfb xauth xdotool x11-utils fonts-noto-cjk curl unzip zip
    # the Windows game client through Wine, with the fonts its windows draw text in (64-bit only:
    # the i386 architecture is never enabled),
    # and the Windows build of the sample game
    wine wine64 fonts-wine g++-mingw-w64-x86-64-posix
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "installed" ]] || missing+=("$p")
done
((${#missing[@]} == 0)) && exit 0

echo "setup: installing ${missing[*]}" >&2
sudo=()
((EUID == 0)) || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
