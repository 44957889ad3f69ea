#!/usr/bin/python3
"""Runs sweep_timing several times for each set of options, the sets taking
turns so that a slow spell of the host falls on all of them alike, and prints
each figure's median with its range.

Usage: sweep_figures.py SWEEP_TIMING [--runs N] -- OPTIONS [-- OPTIONS ...]
  e.g. sweep_figures.py build/release/bench/sweep_timing --runs 5 \\
         -- --boards=4 --write-latency-ms=0.8 -- --boards=1 --write-latency-ms=0.8 -- --boards=4
"""
import os
import statistics
import subprocess
import sys


def main(argv):
    if len(argv) < 3 or "--" not in argv:
        sys.exit(__doc__)
    program, rest = argv[1], argv[2:]
    runs = 5
    if rest[0] == "--runs":
        runs, rest = int(rest[1]), rest[2:]
    sets, current = [], None
    for arg in rest:
        if arg == "--":
            current = []
            sets.append(current)
        elif current is not None:
            current.append(arg)
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    figures = [dict() for _ in sets]
    for _ in range(runs):
        for options, into in zip(sets, figures):
            out = subprocess.run([program, "--dwell-ms=1", "--steps=5000"] + options, env=env,
                                 stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                 check=True).stdout
            for field in out.split():
                name, _, value = field.partition("=")
                try:
                    into.setdefault(name, []).append(float(value))
                except ValueError:
                    pass
    for options, into in zip(sets, figures):
        print(" ".join(options))
        for name, values in into.items():
            if name in ("dwell_ms", "boards", "write_latency_ms", "steps", "list"):
                continue  # the options, echoed back
            print("  %-30s %10.4g  (%.4g - %.4g)" % (name, statistics.median(values),
                                                     min(values), max(values)))


if __name__ == "__main__":
    main(sys.argv)
