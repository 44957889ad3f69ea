#!/usr/bin/python3
"""Time from a key press to the box showing it, in the window under Xvfb,
idle and while a 1 ms sweep runs on four simulated boards.

Usage: bench/window_latency.py PROGRAM [--keys N] [--write-latency-ms X]

Starts Xvfb and PROGRAM with its window (--simulate=0x5E,0x5C,0x5A,0x58,
--listen on loopback), dismisses the start-up boxes and moves into the stop
frequency box with xdotool, then presses keys through XTest ('8' and
BackSpace in turn) and times each from the press to the first picture of the
box that shows it (XGetImage of the box, polled). The sweep is started and
stopped over the raw socket. Prints p50, p99 and max for both phases.
Needs Xvfb, xdotool and libX11/libXtst (no Python modules beyond the standard).
"""
import argparse
import ctypes
import ctypes.util
import os
import random
import select
import socket
import subprocess
import sys
import time

BOARDS = "0x5E,0x5C,0x5A,0x58"
SWEEP = (b"FREQ:STAR 100000000;:FREQ:STOP 100500000;:SWE:STEP 100;:SWE:TIME 5.0005;"
         b":FREQ:MODE SWE;:INIT:CONT ON;:SYST:ERR?\n")


DARK = bytes(1 if v < 128 else 0 for v in range(256))


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_uint8)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class X:
    def __init__(self, display):
        self.x = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xt = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.libc = ctypes.CDLL(None)
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XGetImage.restype = ctypes.POINTER(XImage)
        self.x.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                                     ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XFlush.argtypes = [ctypes.c_void_p]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.xt.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                              ctypes.c_ulong]
        self.libc.free.argtypes = [ctypes.c_void_p]
        self.dpy = self.x.XOpenDisplay(display.encode())
        if not self.dpy:
            sys.exit("cannot open display " + display)

    def dark(self, window, x, y, w, h):
        """Pixels of the rectangle darker than mid-grey."""
        img = self.x.XGetImage(self.dpy, window, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
        if not img:
            return -1
        i = img.contents
        size = i.bytes_per_line * i.height
        data = ctypes.string_at(i.data, size)
        self.libc.free(ctypes.cast(i.data, ctypes.c_void_p))
        self.libc.free(ctypes.cast(img, ctypes.c_void_p))
        # Green of each 32-bit pixel, counted in C: the poll stays fast.
        return data[1::4].translate(DARK).count(1)

    def key(self, name):
        code = self.x.XKeysymToKeycode(self.dpy, self.x.XStringToKeysym(name.encode()))
        self.xt.XTestFakeKeyEvent(self.dpy, code, 1, 0)
        self.xt.XTestFakeKeyEvent(self.dpy, code, 0, 0)
        self.x.XFlush(self.dpy)


def xdotool(display, *args):
    return subprocess.run(["xdotool"] + list(args), env=dict(os.environ, DISPLAY=display),
                          capture_output=True, text=True).stdout.strip()


def select_ready(f):
    return bool(select.select([f], [], [], 0)[0])


def percentile(v, p):
    v = sorted(v)
    return v[min(len(v) - 1, int(p / 100 * (len(v) - 1) + 0.5))]


def measure(x, win, box, keys, glyph):
    """Milliseconds from each press to the box's first picture that shows it."""
    out = []
    bx, by, bw, bh = box
    for k in range(keys):
        name, sign = ("8", 1) if k % 2 == 0 else ("BackSpace", -1)
        time.sleep(random.uniform(0.03, 0.06))
        before = x.dark(win, bx, by, bw, bh)
        t0 = time.perf_counter()
        x.key(name)
        while True:
            now = x.dark(win, bx, by, bw, bh)
            if sign * (now - before) >= 0.6 * glyph:
                out.append((time.perf_counter() - t0) * 1000)
                break
            if time.perf_counter() - t0 > 2:
                out.append(2000.0)
                break
    return out


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("program")
    ap.add_argument("--keys", type=int, default=200)
    ap.add_argument("--write-latency-ms", default="0.8")
    a = ap.parse_args()

    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp"], pass_fds=(w,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    with os.fdopen(r, "rb") as f:
        display = ":" + f.readline().strip().decode()
    env = dict(os.environ, DISPLAY=display)
    env.pop("QT_QPA_PLATFORM", None)
    prog = subprocess.Popen([a.program, "--simulate=" + BOARDS, "--listen=127.0.0.1:0",
                             "--write-latency-ms=" + a.write_latency_ms],
                            env=env, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    try:
        win = ""
        while not win:
            time.sleep(0.2)
            win = xdotool(display, "search", "--onlyvisible", "--name", "PTS USB Interface")
        win = int(win.split()[0])
        # The read-back's boxes for the units after the first.
        os.set_blocking(prog.stdout.fileno(), False)
        line = ""
        deadline = time.time() + 20
        while "listening on" not in line and time.time() < deadline:
            xdotool(display, "key", "Return")
            time.sleep(0.3)
            line += (os.read(prog.stdout.fileno(), 4096) if select_ready(prog.stdout) else b"").decode()
        port = int(line.split("listening on")[1].split()[0].rsplit(":", 1)[1])
        xdotool(display, "windowfocus", str(win))  # no window manager: no activation
        # Nothing has the focus at first: Tab goes into the frequency box, and
        # a second one into the stop box. (Keys typed into the frequency box
        # during a sweep would change the sweep's own text.)
        xdotool(display, "key", "Tab", "Tab")
        time.sleep(0.5)

        x = X(display)
        # Where the box is: what the first '8' changes.
        g = xdotool(display, "getwindowgeometry", "--shell", str(win))
        geo = dict(kv.split("=") for kv in g.split())
        ww, wh = int(geo["WIDTH"]), int(geo["HEIGHT"])
        whole = (0, 0, ww, wh)

        def picture():
            img = x.x.XGetImage(x.dpy, win, 0, 0, ww, wh, 0xFFFFFFFF, 2)
            i = img.contents
            data = ctypes.string_at(i.data, i.bytes_per_line * i.height)
            bpl = i.bytes_per_line
            x.libc.free(ctypes.cast(i.data, ctypes.c_void_p))
            x.libc.free(ctypes.cast(img, ctypes.c_void_p))
            return data, bpl

        before, bpl = picture()
        before_dark = x.dark(win, *whole)
        x.key("8")
        time.sleep(0.5)
        after, _ = picture()
        glyph = x.dark(win, *whole) - before_dark
        xs, ys = [], []
        for yy in range(wh):
            a0, b0 = before[yy * bpl:yy * bpl + 4 * ww], after[yy * bpl:yy * bpl + 4 * ww]
            if a0 == b0:
                continue
            for xx in range(ww):
                if a0[4 * xx:4 * xx + 3] != b0[4 * xx:4 * xx + 3]:
                    xs.append(xx)
                    ys.append(yy)
        if not xs or glyph < 10:
            sys.exit("the key changed nothing that can be found (glyph %d)" % glyph)
        if max(ys) - min(ys) > 40:
            sys.exit("the key changed more than one box: not the stop box")
        box = (max(0, min(xs) - 20), max(0, min(ys) - 2), min(ww, max(xs) + 40) - max(0, min(xs) - 20),
               max(ys) - min(ys) + 5)
        x.key("BackSpace")
        time.sleep(0.3)

        idle = measure(x, win, box, a.keys, glyph)
        s = socket.create_connection(("127.0.0.1", port), timeout=20)
        s.sendall(SWEEP)
        err = s.recv(256).decode().strip()
        # The sweep wrote its stop frequency into the box; empty it again so
        # that each '8' is a whole new glyph in the same place as when idle.
        xdotool(display, "key", "End", *["BackSpace"] * 12)
        time.sleep(0.3)
        sweeping = measure(x, win, box, a.keys, glyph)
        print("box at %s, glyph %d dark pixels; sweep started: %s" % (box, glyph, err))
        for name, v in (("idle", idle), ("sweeping", sweeping)):
            late = sum(1 for t in v if t >= 2000)
            print("key to box %-9s (%d keys): p50 %.2f ms, p99 %.2f ms, max %.2f ms, "
                  "%d not shown within 2 s" %
                  (name, len(v), percentile(v, 50), percentile(v, 99), max(v), late))
        sys.stdout.flush()
        s.sendall(b"ABOR\n")
        s.close()
    finally:
        prog.terminate()
        prog.wait(timeout=10)
        xvfb.terminate()
        xvfb.wait(timeout=10)


if __name__ == "__main__":
    main()
