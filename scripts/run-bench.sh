#!/usr/bin/env bash
# Runs every benchmark program of a build, prints one table of library-versus-baseline ratios and writes it
# as JSON ({row: {median, min, max, runs}}) to the path given second (default BUILD/bench/results.json).
set -euo pipefail
build=${1:-build-bench}
results=${2:-$build/bench/results.json}
out=$build/bench-results
mkdir -p "$out" "$(dirname "$results")"
status=0
jsons=()
for exe in "$build"/bench/bench_*; do
    [ -x "$exe" ] || continue
    name=$(basename "$exe")
    echo "== $name" >&2
    if "$exe" --benchmark_out="$out/$name.json" --benchmark_out_format=json ${OXL_BENCH_ARGS:-} \
        >"$out/$name.log" 2>&1; then
        jsons+=("$out/$name.json")
    else
        echo "$name failed; see $out/$name.log"
        tail -20 "$out/$name.log"
        status=1
    fi
done
python3 "$(dirname "$0")/../bench/compare.py" --json "$results" "${jsons[@]}" || status=1
echo "results: $results"
exit $status
