"""What the web page's tests share: the program without a window on simulated
boards, headless Chromium, and the boards' trace read back as frequencies."""
import os
import shutil
import subprocess
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

SCRATCH = tempfile.mkdtemp(prefix="pts-web-")
failures = []

# The digit codes of the device word: F1..F5 each carry a low and a high digit.
LOW = [195, 67, 131, 3, 194, 66, 130, 2, 193, 65]
HIGH = [60, 28, 44, 12, 52, 20, 36, 4, 56, 24]
PAIRS = {LOW[lo] + HIGH[hi]: (lo, hi) for lo in range(10) for hi in range(10)}
LEVEL_PWM = {k: v for k, v in zip(range(3, 14), [48, 53, 59, 66, 74, 82, 91, 102, 113, 127, 141])}


def check(what, ok, detail=""):
    if not ok:
        failures.append(f"{what} {detail}".rstrip())


def start(program, *extra, http="127.0.0.1:0", lines=1):
    """The program, its first `lines` lines on stdout, and its trace's path."""
    trace = os.path.join(SCRATCH, f"trace{len(os.listdir(SCRATCH))}.txt")
    args = [program, "--no-window", "--simulate=0x5E", "--http=" + http, "--trace=" + trace]
    p = subprocess.Popen(args + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True)
    said = [p.stdout.readline().strip() for _ in range(lines)]
    return p, said, trace


def port_of(line):
    return int(line.rsplit(":", 1)[1])


def stop(p):
    p.terminate()
    return p.communicate(timeout=20)


def outs(trace):
    with open(trace) as f:
        return [l for l in f if " out " in l]


def word(line):
    """(Cmd1, frequency in tenths of a hertz, PWMDC) of a trace line."""
    v = dict(kv.split("=") for kv in line.split()[3:])
    tenths = 0
    for name in ("F5", "F4", "F3", "F2", "F1"):
        lo, hi = PAIRS[int(v[name])]
        tenths = tenths * 100 + hi * 10 + lo
    return int(v["Cmd1"]), tenths, int(v["PWMDC"])


def browser(size="800,1000", *extra):
    o = Options()
    for a in ("--headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
              "--disable-background-networking --disable-component-update --disable-sync").split():
        o.add_argument(a)
    for a in extra:
        o.add_argument(a)
    o.add_argument("--user-data-dir=" + tempfile.mkdtemp(dir=SCRATCH))
    o.add_argument("--window-size=" + size)
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=o)


def open_page(d, url):
    d.get(url)
    WebDriverWait(d, 10).until(lambda d: d.execute_script("return document.body.dataset.live"))


def wait(what, f, timeout=5):
    end = time.time() + timeout
    while time.time() < end:
        try:
            if f():
                return True
        except Exception:
            pass
        time.sleep(0.05)
    failures.append(f"timed out: {what}")
    return False


def el(d, name):
    return d.find_element(By.ID, name)


def finish():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0
