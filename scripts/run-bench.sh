#!/usr/bin/env bash
# Runs every benchmark program of a build and prints one ratio table per program.
set -euo pipefail
build=${1:-build-bench}
out=$build/bench-results
mkdir -p "$out"
status=0
for exe in "$build"/bench/bench_*; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    echo "== $name"
    if "$exe" --benchmark_format=json --benchmark_out="$out/$name.json" --benchmark_out_format=json \
        ${OXL_BENCH_ARGS:-} >"$out/$name.log" 2>&1; then
        python3 "$(dirname "$0")/../bench/compare.py" "$out/$name.json" || status=1
    else
        echo "$name failed; see $out/$name.log"
        tail -20 "$out/$name.log"
        status=1
    fi
    echo
done
exit $status
