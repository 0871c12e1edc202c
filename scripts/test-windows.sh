#!/usr/bin/env bash
# The Windows build: both presets built with mingw-w64 (warnings are errors), and the 64-bit
# unit tests run under wine64 in a prefix of the build's own (build/windows-x64/wineprefix).
# The Windows builds take the Linux build's operator origin, whose server their tests start.
# The 32-bit build is only built: 32-bit Wine would need the i386 architecture, which set-up
# never enables. Extra arguments go to ctest.
set -euo pipefail
cd "$(dirname "$0")/.."

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The Windows launcher reaches the operator server the tests start on the Linux build's origin.
origin=()
linux_origin=$(sed -n 's/^VALDRUNE_OPERATOR_ORIGIN:[A-Z]*=//p' build/default/CMakeCache.txt 2>/dev/null || true)
[[ -n $linux_origin ]] && origin=(-DVALDRUNE_OPERATOR_ORIGIN="$linux_origin")
for preset in windows-x86 windows-x64; do
    cmake --preset "$preset" "${launcher[@]}" "${origin[@]}" >/dev/null
    cmake --build --preset "$preset" -j "$(nproc)"
done

wine64=/usr/lib/wine/wine64
[[ -x $wine64 ]] || wine64=$(command -v wine64)
export WINEPREFIX=$PWD/build/windows-x64/wineprefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
# Wine's background processes inherit the first program's streams, and ctest would wait for
# them: the prefix's server and its boot start first, detached, with closed streams.
mkdir -p "$WINEPREFIX"
wineserver -p </dev/null >/dev/null 2>&1 || true  # one left running by a run cut short serves too
"$wine64" wineboot </dev/null >/dev/null 2>&1 || { echo "test-windows: the Wine prefix did not boot" >&2; exit 1; }
status=0
ctest --preset windows-x64 -j "$(nproc)" "$@" || status=$?
wineserver -k </dev/null >/dev/null 2>&1 || true
exit "$status"
