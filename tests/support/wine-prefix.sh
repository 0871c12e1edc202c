#!/usr/bin/env bash
# The warm Wine prefix that a test run shares (the ctest fixture "wine_prefix"):
#
#   wine-prefix.sh start PREFIX   makes PREFIX when it is missing (some seconds; it is kept for
#                                 the next run), then starts its server and services
#   wine-prefix.sh end PREFIX     ends its server and every Wine program of it
#
# Why a recipe: Wine's server and background programs (services.exe, winedevice.exe...) inherit
# the streams of the first Wine program of a prefix and outlive it by seconds, so a test runner
# that reads a test's output waits for them, or hangs. Started here first, detached and with
# every stream closed, they are what later Wine programs of the prefix attach to; a persistent
# server ("-p") stays until "end" kills it. Tests reuse the prefix instead of making their own
# (tests/support/WineSupport.h).
set -euo pipefail
action=$1
prefix=$2
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
export LC_ALL=C.UTF-8

case $action in
start)
    if [[ ! -d $prefix ]]; then
        # Made beside and moved in place once whole, so a run cut short is not taken for a prefix.
        rm -rf "$prefix.new"
        mkdir -p "$prefix.new"
        WINEPREFIX=$prefix.new wine wineboot --init </dev/null >/dev/null 2>&1
        WINEPREFIX=$prefix.new wineserver -w </dev/null >/dev/null 2>&1
        mv "$prefix.new" "$prefix"
    fi
    wineserver -p </dev/null >/dev/null 2>&1 || true  # one left running by a run cut short serves too
    wine wineboot </dev/null >/dev/null 2>&1
    ;;
end)
    wineserver -k </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 start|end PREFIX" >&2
    exit 2
    ;;
esac
