#!/usr/bin/env bash
# Runs every libFuzzer program of a fuzz build (make fuzz) for a fixed time each, one after the other, seeded
# from fuzz/corpus/<name>/. Inputs the fuzzer finds interesting go to <build>/fuzz-corpus/<name>/ (the
# committed seeds stay as they are); a crash, leak, time-out or memory blow-up is written to
# <build>/fuzz-artifacts/<name>/ and makes the script fail after the remaining programs have run.
#   usage: run-fuzz.sh BUILD_DIR [SECONDS]      FUZZ_TARGETS="cookie url" limits the programs run
set -uo pipefail

build=${1:?build directory}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
# One input may take at most this long and this much memory; well above what any parser needs.
timeout=${FUZZ_TIMEOUT:-10}
rss_mb=${FUZZ_RSS_MB:-2048}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

programs=()
if [ -n "${FUZZ_TARGETS:-}" ]; then
    for name in $FUZZ_TARGETS; do programs+=("$build/fuzz/fuzz_$name"); done
else
    programs=("$build"/fuzz/fuzz_*)
fi

failed=()
summary=()
for program in "${programs[@]}"; do
    [ -x "$program" ] || { echo "no fuzz program $program" >&2; failed+=("$program"); continue; }
    name=${program##*/fuzz_}
    corpus=$build/fuzz-corpus/$name
    artifacts=$build/fuzz-artifacts/$name
    log=$build/fuzz-logs/$name.log
    mkdir -p "$corpus" "$artifacts" "$(dirname "$log")"
    extra=()
    # A PAC helper call on a long argument is slow in the interpreter and tells nothing new.
    [ "$name" = pac ] && extra+=(-max_len=512)
    echo "fuzz_$name: ${seconds}s"
    "$program" "$corpus" "$root/fuzz/corpus/$name" -max_total_time="$seconds" -timeout="$timeout" \
        -rss_limit_mb="$rss_mb" -malloc_limit_mb="$rss_mb" -artifact_prefix="$artifacts/" -print_final_stats=1 \
        "${extra[@]}" >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ $status -ne 0 ]; then
        failed+=("fuzz_$name")
        summary+=("fuzz_$name: FINDING (exit $status) after ${runs:-?} executions, see $log and $artifacts/")
        grep -m1 -E 'ERROR:|runtime error|check failed|Timeout|out-of-memory|leak' "$log" | sed 's/^/    /'
    else
        summary+=("fuzz_$name: clean, ${runs:-?} executions in ${seconds}s")
    fi
done

printf '%s\n' "${summary[@]}"
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzzing found problems in: ${failed[*]}" >&2
    exit 1
fi
