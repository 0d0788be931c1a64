#!/usr/bin/env bash
# Runs the libFuzzer targets built in build/fuzz (make fuzz-build): each replays its seed
# corpus (tests/fuzz/corpus/<target>) and the inputs it found before, then fuzzes for the
# given time under ASan and UBSan. Prints the executions per target and the total time; fails
# on the first crash or broken property, leaving the input in build/fuzz/runs/<target>/crashes
# (build/fuzz/fresh-runs/<target>/crashes with --fresh).
# Usage: scripts/run_fuzzers.sh [--fresh] SECONDS [TARGET...]
#   --fresh: start from the seed corpus alone and keep nothing found (the test suite's run).
set -euo pipefail
cd "$(dirname "$0")/.."

fresh=0
if [ "${1:-}" = --fresh ]; then fresh=1; shift; fi
seconds=${1:?usage: run_fuzzers.sh [--fresh] SECONDS [TARGET...]}
shift
build=build/fuzz
if [ $# -eq 0 ]; then
    read -r -a targets <<<"$(sed -n 's/^set(QUILLMARK_FUZZ_TARGETS \(.*\))$/\1/p' tests/fuzz/targets.cmake)"
else
    targets=("$@")
fi

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
started=$SECONDS
total_runs=0
for target in "${targets[@]}"; do
    binary=$build/tests/fuzz/fuzz_$target
    if [ ! -x "$binary" ]; then
        echo "$binary is missing: run make fuzz-build" >&2
        exit 1
    fi
    work=$build/runs/$target
    if [ $fresh -eq 1 ]; then
        work=$build/fresh-runs/$target
        rm -rf "$work"
    fi
    mkdir -p "$work/found" "$work/crashes"
    log=$work/last.log
    # Requests may be long (line and header caps, bodies); the other inputs are short texts.
    max_len=4096
    [ "$target" = serve_request ] && max_len=20000
    status=0
    "$binary" -max_total_time="$seconds" -timeout=10 -max_len="$max_len" -print_final_stats=1 \
        -artifact_prefix="$work/crashes/" "$work/found" "tests/fuzz/corpus/$target" \
        >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    if [ $status -ne 0 ]; then
        tail -n 60 "$log" >&2
        echo "fuzz_$target FAILED after ${runs:-?} executions; input kept in $work/crashes/" >&2
        exit 1
    fi
    [ $fresh -eq 1 ] && rm -rf "$work/found"
    printf '%-16s %12s executions in %ss\n' "$target" "$runs" "$seconds"
    total_runs=$((total_runs + runs))
done
printf '%-16s %12s executions, %ss in all\n' total "$total_runs" "$((SECONDS - started))"
