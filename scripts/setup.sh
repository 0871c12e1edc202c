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
    libcurl4-openssl-dev libzip-dev zlib1g-dev libssl-dev libfmt-dev
    libgtk-3-dev libwebkit2gtk-4.1-dev libx11-dev libxcb1-dev
    # tests, demo server, benchmarks
    libgtest-dev libgmock-dev libbenchmark-dev libcpp-httplib-dev
    xvfb xauth xdotool x11-utils fonts-noto-cjk curl unzip zip openssl
    # the Debian package (cpack: dpkg-shlibdeps, file) and the checks of desktop entries and metainfo
    dpkg-dev file desktop-file-utils appstream
    # the Windows game client through Wine, with the fonts its windows draw text in, the Windows
    # builds of the sample game and of the launcher's libraries and tests (64-bit Wine only: the
    # i386 architecture is never enabled)
    wine wine64 fonts-wine g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
    googletest
)

# The Windows build compiles libzip from Debian's source package, kept outside the repository.
libzip_cache=/var/cache/valdrune/src

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "installed" ]] || missing+=("$p")
done
have_libzip_source() { compgen -G "$libzip_cache/libzip-*/lib/zip.h" >/dev/null; }
((${#missing[@]} == 0)) && have_libzip_source && exit 0

sudo=()
((EUID == 0)) || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
if ((${#missing[@]} > 0)); then
    echo "setup: installing ${missing[*]}" >&2
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

if ! have_libzip_source; then
    # apt-get source needs source entries; a fresh Debian has none, so the release's own main
    # component is added once, for sources only.
    if [[ -z $(apt-cache showsrc libzip 2>/dev/null) ]]; then
        codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
        printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s\nComponents: main\nSigned-By: %s\n' \
            "$codename" /usr/share/keyrings/debian-archive-keyring.gpg |
            "${sudo[@]}" tee /etc/apt/sources.list.d/valdrune-src.sources >/dev/null
        "${sudo[@]}" apt-get update -qq
    fi
    echo "setup: fetching the libzip source package into $libzip_cache" >&2
    "${sudo[@]}" mkdir -p "$libzip_cache"
    "${sudo[@]}" chown _apt "$libzip_cache" 2>/dev/null || true  # apt downloads as _apt
    (cd "$libzip_cache" && "${sudo[@]}" apt-get source -qq libzip >/dev/null 2>&1)
    have_libzip_source || { echo "setup: the libzip source package could not be fetched" >&2; exit 1; }
fi
