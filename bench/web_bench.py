#!/usr/bin/python3
"""Figures for the web page, from pts-panel --no-window on one simulated board:

  ready   navigation to the first state applied (the page's "pts-live" mark),
          in headless Chromium, N loads
  push    a SCPI change (FREQ) to each of 16 WebSocket pages' state frame
          carrying it: p50, p99, max over all pages and changes
  sweep   the intervals between a 10 ms sweep's words in the trace, with
          16 pages watching and with none

    web_bench.py PROGRAM [ready|push|sweep ...]
"""
import asyncio
import json
import os
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import time

import websockets

PROGRAM = sys.argv[1]
WHAT = sys.argv[2:] or ["ready", "push", "sweep"]
SCRATCH = tempfile.mkdtemp(prefix="pts-web-bench-")


def start(trace=None):
    args = [PROGRAM, "--no-window", "--simulate=0x5E", "--http=127.0.0.1:0",
            "--listen=127.0.0.1:0"]
    if trace:
        args.append("--trace=" + trace)
    p = subprocess.Popen(args, stdout=subprocess.PIPE, text=True)
    ports = {}
    for _ in range(2):
        line = p.stdout.readline()
        ports["scpi" if line.startswith("listening") else "http"] = int(line.rsplit(":", 1)[1])
    return p, ports


def pct(values, q):
    values = sorted(values)
    return values[min(len(values) - 1, int(q * len(values)))]


def ready(runs=10):
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.support.ui import WebDriverWait
    p, ports = start()
    o = Options()
    for a in ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
              "--disable-background-networking --disable-component-update --disable-sync").split():
        o.add_argument(a)
    o.add_argument("--user-data-dir=" + tempfile.mkdtemp(dir=SCRATCH))
    d = webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=o)
    times = []
    try:
        for _ in range(runs + 1):
            d.get(f"http://127.0.0.1:{ports['http']}/")
            WebDriverWait(d, 10).until(
                lambda d: d.execute_script("return performance.getEntriesByName('pts-live').length"))
            times.append(d.execute_script(
                "return performance.getEntriesByName('pts-live')[0].startTime"))
    finally:
        d.quit()
        p.terminate()
        p.wait()
    times = times[1:]  # the first load also starts the browser's own machinery
    print(f"ready: navigation to first state applied, {runs} loads: median "
          f"{statistics.median(times):.1f} ms, max {max(times):.1f} ms")


def page(url, origin, i):
    # Eight pages a host at most: the pages come from 127.0.0.1, .2, ...
    return websockets.connect(url, origin=origin, max_queue=None,
                              local_addr=(f"127.0.0.{1 + i // 8}", 0))


async def push(pages=16, changes=200):
    p, ports = start()
    url = f"ws://127.0.0.1:{ports['http']}/ws"
    origin = f"http://127.0.0.1:{ports['http']}"
    clients = [await page(url, origin, i) for i in range(pages)]
    scpi = socket.create_connection(("127.0.0.1", ports["scpi"]))
    scpi.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    latencies = []

    async def seen(ws, text):
        while True:
            m = json.loads(await ws.recv())
            box = m.get("parts", {}).get("TextFreq")
            if m.get("t") == "state" and box and box["t"] == text:
                return time.perf_counter()
    try:
        for i in range(changes):
            text = str(1000000 + i)
            waits = [asyncio.ensure_future(seen(ws, text)) for ws in clients]
            sent = time.perf_counter()
            scpi.sendall(f"FREQ {text}\n".encode())
            done = await asyncio.wait_for(asyncio.gather(*waits), 5)
            latencies += [(t - sent) * 1000 for t in done]
            await asyncio.sleep(0.03)
    finally:
        for ws in clients:
            await ws.close()
        scpi.close()
        p.terminate()
        p.wait()
    print(f"push: SCPI change to {pages} pages, {changes} changes: p50 {pct(latencies, .5):.2f} ms, "
          f"p99 {pct(latencies, .99):.2f} ms, max {max(latencies):.2f} ms")


async def sweep_run(pages, seconds=3.0):
    trace = os.path.join(SCRATCH, f"sweep{pages}.txt")
    p, ports = start(trace)
    url = f"ws://127.0.0.1:{ports['http']}/ws"
    origin = f"http://127.0.0.1:{ports['http']}"
    clients = [await page(url, origin, i) for i in range(pages)]

    async def drain(ws):
        try:
            async for _ in ws:
                pass
        except websockets.exceptions.ConnectionClosed:
            pass
    readers = [asyncio.ensure_future(drain(ws)) for ws in clients]
    with socket.create_connection(("127.0.0.1", ports["scpi"])) as s:
        # 1000 steps of 10 Hz in 10 s: one step each 10 ms, repeating.
        s.sendall(b"FREQ:STAR 1000;STOP 11000;:SWE:STEP 10;TIME 10;:INIT:CONT ON\n")
        await asyncio.sleep(seconds)
        s.sendall(b"ABOR\n*OPC?\n")
        s.recv(10)
    for ws in clients:
        await ws.close()
    await asyncio.gather(*readers)
    p.terminate()
    p.wait()
    with open(trace) as f:
        t = [float(l.split()[0]) for l in f if " out " in l]
    gaps = [(b - a) * 1000 for a, b in zip(t, t[1:])][5:-2]
    late = sum(g > 11 for g in gaps)
    print(f"sweep: 10 ms steps, {pages:2d} pages watching: {len(gaps)} intervals, mean "
          f"{statistics.mean(gaps):.3f} ms, p99 {pct(gaps, .99):.3f} ms, max {max(gaps):.3f} ms, "
          f"{late} over 11 ms")


if "ready" in WHAT:
    ready()
if "push" in WHAT:
    asyncio.run(push())
if "sweep" in WHAT:
    asyncio.run(sweep_run(0))
    asyncio.run(sweep_run(16))
shutil.rmtree(SCRATCH, ignore_errors=True)
