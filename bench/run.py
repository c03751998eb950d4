#!/usr/bin/python3
"""Prints the benchmark table: each figure of the server measured from
outside, paired in the same run with an outside program doing the same job
(interleaved, NODALIS_BENCH_PAIRS pairs, default 5), median and min-max,
the ratio and the goal. Needs a Release build (make bench does it).

    bench/run.py [FIGURE...]     (figures: the bench/fig_*.py modules, by name)
"""
import importlib, os, sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import benchlib

names = sys.argv[1:] or sorted(f[4:-3] for f in os.listdir(os.path.dirname(os.path.abspath(__file__)))
                               if f.startswith("fig_") and f.endswith(".py"))
rows = []
try:
    for name in names:
        print(f"== {name}", file=sys.stderr, flush=True)
        rows += importlib.import_module("fig_" + name).figures()
finally:
    benchlib.cleanup()
print()
benchlib.print_table(rows)
sys.exit(0 if all(r.met for r in rows) else 1)
