#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz": clang, libFuzzer, address and undefined-behaviour
# sanitizers) and runs every target for the given number of seconds (default 60), one after
# the other. Prints each target's executions and executions per second. Exits non-zero when any
# target crashed, leaked, spent more than 1 s on one input or tripped a sanitizer; the input
# that did it is saved in build/fuzz/crashes/ and the run's output in build/fuzz/logs/.
#
#     scripts/fuzz.sh [seconds per target]
#     FUZZ_TARGETS="page-bridge zip-unpack" scripts/fuzz.sh 600     # only these
#
# The inputs libFuzzer finds go to build/fuzz/corpus/<target>/; the repository's starting
# inputs in fuzz/corpus/<target>/ are only read.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ "$seconds" =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: scripts/fuzz.sh [seconds per target]" >&2
    exit 2
fi

scripts/setup.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

out=build/fuzz
mkdir -p "$out/crashes" "$out/logs"
# The targets' scratch folders (files written and removed for every input) go to memory when
# the machine has a shared-memory file system, else below the build folder.
scratch_base="$PWD/$out"
[[ -d /dev/shm && -w /dev/shm ]] && scratch_base=/dev/shm
scratch=$(mktemp -d "$scratch_base/valdrune-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
if [[ -n "${FUZZ_TARGETS:-}" ]]; then
    read -r -a targets <<<"$FUZZ_TARGETS"
else
    targets=()
    for dir in fuzz/corpus/*/; do
        targets+=("$(basename "$dir")")
    done
fi

export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
printf '%-16s %14s %12s\n' target executions per-second
for target in "${targets[@]}"; do
    mkdir -p "$out/corpus/$target"
    options=(-max_total_time="$seconds" -timeout=1 -print_final_stats=1
             -artifact_prefix="$out/crashes/$target-")
    [[ -f "fuzz/dict/$target.dict" ]] && options+=(-dict="fuzz/dict/$target.dict")
    log="$out/logs/$target.log"
    status=0
    TMPDIR="$scratch" "$out/bin/fuzz-$target" "${options[@]}" \
        "$out/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1 || status=$?
    executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    printf '%-16s %14s %12s\n' "$target" "${executions:-?}" "${rate:-?}"
    if ((status != 0)); then
        failed+=("$target")
        echo "---- $target failed (exit $status); the end of $log:" >&2
        tail -n 40 "$log" >&2
    fi
done

if ((${#failed[@]} > 0)); then
    echo "fuzz: findings in ${failed[*]}; inputs in $out/crashes/" >&2
    exit 1
fi
echo "fuzz: every target ran ${seconds} s without a finding"
