#!/usr/bin/env python3
"""Turns Google Benchmark JSON output into a table of library-versus-baseline ratios.

Benchmarks come in pairs whose names differ only in one path element: "base" (the baseline) and "lib" (the
library). The ratio is the library's throughput divided by the baseline's (1.00 = as fast; 0.50 = half as
fast). Throughput is items or bytes per second when the benchmark counts them, else 1 / time per iteration.
A pair whose halves carry the counters median_ms, min_ms and max_ms (repeated rounds, measured interleaved)
gets a line with the spread of both sides under the table.
"""
import json
import sys


def throughput(b):
    for key, unit in (("items_per_second", "items/s"), ("bytes_per_second", "B/s")):
        if key in b:
            return b[key], unit
    t = b.get("real_time", 0.0)
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
    return (1.0 / (t * scale) if t else 0.0), "iter/s"


def human(v, unit):
    if unit == "B/s":
        return f"{v / 1e6:10.2f} MB/s"
    return f"{v:12.0f} {unit}"


def main(paths):
    rows = []
    spreads = []
    for path in paths:
        with open(path) as fh:
            data = json.load(fh)
        pairs = {}
        for b in data.get("benchmarks", []):
            if b.get("run_type") == "aggregate":
                continue
            parts = b["name"].split("/")
            role = next((p for p in parts if p in ("base", "lib")), None)
            if role is None:
                continue
            key = "/".join(p for p in parts if p != role)
            pairs.setdefault(key, {})[role] = throughput(b)
            if all(c in b for c in ("median_ms", "min_ms", "max_ms")):
                pairs[key][role + "_spread"] = (b["median_ms"], b["min_ms"], b["max_ms"], int(b.get("rounds", 0)))
        for key, roles in pairs.items():
            if "base_spread" in roles and "lib_spread" in roles:
                spreads.append((key, roles["base_spread"], roles["lib_spread"]))
            if "base" in roles and "lib" in roles:
                (bv, unit), (lv, _) = roles["base"], roles["lib"]
                rows.append((key, human(bv, unit), human(lv, unit), lv / bv if bv else float("nan")))
    if not rows:
        print("no benchmark pairs found")
        return 1
    width = max(len(r[0]) for r in rows)
    print(f"{'case':<{width}}  {'baseline':>18}  {'library':>18}  ratio")
    for key, b, l, ratio in rows:
        print(f"{key:<{width}}  {b:>18}  {l:>18}  {ratio:5.2f}")
    for key, base, lib in spreads:
        print(f"{key}: {base[3]} interleaved rounds, median (min, max) ms: "
              f"baseline {base[0]:.1f} ({base[1]:.1f}, {base[2]:.1f}), library {lib[0]:.1f} ({lib[1]:.1f}, {lib[2]:.1f})")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
