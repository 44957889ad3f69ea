#!/usr/bin/python3
"""VXI-11 figures beside the raw socket's, in one session: starts the program
on four simulated boards with --vxi11, runs vxi11_timing (write + read round
trips) and `lxi benchmark` over VXI-11 and over the raw socket, alternating,
and prints each figure's median and range. Needs rpcbind: run it inside
tests/netns/run-in-netns.

    tests/netns/run-in-netns --rpcbind bench/vxi11_bench.py build/release/app/pts-panel \\
        build/release/bench/vxi11_timing [--runs 5] [--count 10000]
"""
import argparse
import re
import statistics
import subprocess
import tempfile

ap = argparse.ArgumentParser()
ap.add_argument("program")
ap.add_argument("timing")
ap.add_argument("--runs", type=int, default=5)
ap.add_argument("--count", type=int, default=10000)
args = ap.parse_args()

p = subprocess.Popen([args.program, "--no-window", "--simulate=0x5E,0x5C,0x5A,0x58",
                      "--listen=127.0.0.1:0", "--vxi11"], stdout=subprocess.PIPE,
                     stderr=subprocess.DEVNULL, text=True)
raw_port = p.stdout.readline().rsplit(":", 1)[1].strip()
print(p.stdout.readline().strip())
figures = {}


def add(name, value):
    figures.setdefault(name, []).append(value)


def lxi(extra):
    # lxi prints its progress for every request: into a file, not a pipe.
    with tempfile.TemporaryFile("w+") as out:
        subprocess.run(["lxi", "benchmark", "-a", "127.0.0.1", "-c", str(args.count)] + extra,
                       stdout=out, check=True, timeout=600)
        out.seek(0)
        return float(re.search(r"Result: ([0-9.]+) requests/second", out.read()).group(1))


try:
    for _ in range(args.runs):
        t = subprocess.run([args.timing, "127.0.0.1", str(args.count)], capture_output=True,
                           text=True, check=True).stdout
        for line in t.splitlines()[1:]:
            m = re.match(r"(.*?)\s+p50\s+([0-9.]+) us\s+p99\s+([0-9.]+) us\s+max\s+([0-9.]+)", line)
            for what, v in zip(("p50", "p99", "max"), m.groups()[1:]):
                add(f"{m.group(1)} {what} (us)", float(v))
        add("lxi benchmark, VXI-11 (requests/s)", lxi([]))
        add("lxi benchmark, raw socket (requests/s)", lxi(["--raw", "-p", raw_port]))
finally:
    p.terminate()
    p.wait()

for name, values in figures.items():
    print(f"{name:45s} median {statistics.median(values):10.1f}   "
          f"range {min(values):.1f} - {max(values):.1f}")
