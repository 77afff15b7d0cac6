#!/usr/bin/env python3
"""Turns the Google Benchmark JSON output of the bench programs into one table and results.json.

Every row is a benchmark whose counters come from bench/Interleaved.h: median wall and CPU time per operation
of the baseline and the library, and the per-round speed ratio (library / baseline; above 1 the library is
faster) as median, minimum and maximum over the interleaved rounds, with the row's goal (0 = none). A ratio
marked "cpu" compares CPU time (rows whose whole work runs on the measuring thread), the others wall time.

usage: compare.py [--json OUT] RESULT.json...
"""
import json
import math
import sys

KEYS = ("base_wall_us", "lib_wall_us", "base_cpu_us", "lib_cpu_us", "ratio", "ratio_min", "ratio_max", "rounds")


def rows_of(path):
    with open(path) as fh:
        data = json.load(fh)
    for b in data.get("benchmarks", []):
        if b.get("run_type") == "aggregate":
            continue
        if b.get("error_occurred"):
            yield b["name"].split("/iterations:")[0], {"error": b.get("error_message", "failed")}
            continue
        if all(k in b for k in KEYS):
            yield b["name"].split("/iterations:")[0], {k: b[k] for k in KEYS + ("goal", "by_cpu") if k in b}


def times(v):
    return f"{v:10.2f}" if math.isfinite(v) else f"{'-':>10}"


def main(argv):
    out = None
    if len(argv) >= 2 and argv[0] == "--json":
        out, argv = argv[1], argv[2:]
    rows = []
    for path in argv:
        try:
            rows.extend(rows_of(path))
        except (OSError, ValueError) as e:
            print(f"{path}: {e}")
    if not rows:
        print("no benchmark rows found")
        return 1
    width = max(len(name) for name, _ in rows)
    print(f"{'row':<{width}}  {'base us/op':>10} {'lib us/op':>10} {'base cpu':>10} {'lib cpu':>10}"
          f"  {'ratio (min-max)':>23} {'rounds':>6}  goal")
    results = {}
    for name, r in rows:
        if "error" in r:
            print(f"{name:<{width}}  failed: {r['error']}")
            continue
        goal = r.get("goal", 0)
        verdict = ""
        if goal > 0:
            verdict = f">= {goal:.2f} {'met' if r['ratio'] >= goal else 'MISSED'}"
        spread = f"{r['ratio']:.2f} ({r['ratio_min']:.2f}-{r['ratio_max']:.2f}){' cpu' if r.get('by_cpu') else ''}"
        print(f"{name:<{width}}  {times(r['base_wall_us'])} {times(r['lib_wall_us'])} {times(r['base_cpu_us'])}"
              f" {times(r['lib_cpu_us'])}  {spread:>23} {int(r['rounds']):>6}  {verdict}")
        results[name] = {"median": r["ratio"], "min": r["ratio_min"], "max": r["ratio_max"],
                         "runs": int(r["rounds"])}
    if out:
        with open(out, "w") as fh:
            json.dump(results, fh, indent=2, sort_keys=True)
            fh.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
