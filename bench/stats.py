#!/usr/bin/env python3
"""Medians and ranges of benchmark rounds.

Reads lines "<group> <side> <metric>=<value> ..." on stdin (one line per side per round) and
prints, per group and metric, each side's median with min and max, and the ratio of the
medians of the first side named on the command line over the second."""
import statistics
import sys
from collections import defaultdict

first, second = sys.argv[1], sys.argv[2]
data = defaultdict(lambda: defaultdict(lambda: defaultdict(list)))
groups, metrics = [], []
for line in sys.stdin:
    parts = line.split()
    if len(parts) < 3:
        continue
    group, side = parts[0], parts[1]
    if group not in groups:
        groups.append(group)
    for kv in parts[2:]:
        k, v = kv.split("=", 1)
        if k not in metrics:
            metrics.append(k)
        data[group][k][side].append(float(v))

for group in groups:
    rounds = len(next(iter(data[group].values()))[first])
    print(f"{group}: {rounds} rounds, order alternating or rotating")
    print(f"  {'metric':<12} {first + ' median [min-max]':>28} {second + ' median [min-max]':>28} {'ratio':>7}")
    for m in metrics:
        a, b = data[group][m].get(first, []), data[group][m].get(second, [])
        if not a or not b:
            continue
        ma, mb = statistics.median(a), statistics.median(b)
        ratio = ma / mb if mb else float("nan")
        fa = f"{ma:.2f} [{min(a):.2f}-{max(a):.2f}]"
        fb = f"{mb:.2f} [{min(b):.2f}-{max(b):.2f}]"
        print(f"  {m:<12} {fa:>28} {fb:>28} {ratio:>6.2f}x")
