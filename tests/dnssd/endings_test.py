#!/usr/bin/python3
"""Every way the program ends, with the window (under Xvfb) and without:
each must end with status 0 and withdraw its rpcbind registrations and
DNS-SD records. Runs inside run-in-netns with its own rpcbind and
avahi-daemon:

    run-in-netns --avahi --rpcbind endings_test.py PROGRAM
"""
import ctypes
import ctypes.util
import os
import re
import shutil
import signal
import subprocess
import sys
import time

PROGRAM = sys.argv[1]
CORE, ABORT = 0x0607AF, 0x0607B0
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def registered():
    out = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    return sorted({int(l.split()[0]) for l in out.splitlines()[1:]} & {CORE, ABORT})


def listed(name):
    r = subprocess.run(["avahi-browse", "-pt", "_scpi-raw._tcp"], capture_output=True, text=True,
                       timeout=30)
    names = [l.split(";")[3] for l in r.stdout.splitlines() if l.startswith("+")]
    # avahi-browse -p writes "\032" for a space, "\." for a dot
    return any(re.sub(r"\\(\d{3}|.)", lambda m: chr(int(m[1])) if m[1].isdigit() else m[1], n)
               == name for n in names)


def await_listed(name, want, timeout=15):
    deadline = time.monotonic() + timeout
    while listed(name) != want and time.monotonic() < deadline:
        time.sleep(0.2)
    return listed(name)


class X:
    """The display the window rows share, and what a window manager would do."""

    def __init__(self):
        r, w = os.pipe()
        self.server = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                                        "-nolisten", "tcp", "-noreset"], pass_fds=(w,),
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        with os.fdopen(r, "rb") as f:
            self.display = ":" + f.readline().strip().decode()
        self.lib = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.lib.XOpenDisplay.restype = ctypes.c_void_p
        self.lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.lib.XInternAtom.restype = ctypes.c_ulong
        self.lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        self.lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                        ctypes.c_void_p]
        self.lib.XFlush.argtypes = [ctypes.c_void_p]
        self.dpy = self.lib.XOpenDisplay(self.display.encode())

    def tool(self, *args):
        return subprocess.run(["xdotool", *args], capture_output=True, text=True, timeout=30,
                              env=dict(os.environ, DISPLAY=self.display)).stdout.split()

    def windows(self, pid):
        return self.tool("search", "--onlyvisible", "--pid", str(pid))

    def close(self, window):
        """WM_DELETE_WINDOW, as a window manager's close button sends it."""
        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]

        class Event(ctypes.Union):
            _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
        e = Event()
        e.xclient.type, e.xclient.window, e.xclient.format = 33, int(window), 32
        e.xclient.message_type = self.lib.XInternAtom(self.dpy, b"WM_PROTOCOLS", 0)
        e.xclient.data[0] = self.lib.XInternAtom(self.dpy, b"WM_DELETE_WINDOW", 0)
        self.lib.XSendEvent(self.dpy, int(window), 0, 0, ctypes.byref(e))
        self.lib.XFlush(self.dpy)

    def click_off(self, window):
        """Off, found by the layout: 9360 twips wide, the client area 8190 high under the menu bar."""
        g = dict(kv.split("=") for kv in self.tool("getwindowgeometry", "--shell", window))
        w, h = int(g["WIDTH"]), int(g["HEIGHT"])
        px = w / 9360
        x, y = (7920 + 495 / 2) * px, h - 8190 * px + (4440 + 375 / 2) * px
        self.tool("mousemove", "--window", window, str(round(x)), str(round(y)), "click", "1")

    def info_box(self, window):
        """The Info box (Alt+I on the menu bar), which runs a loop of its own."""
        self.tool("windowfocus", "--sync", window, "key", "alt+i")

    def stop(self):
        self.server.terminate()
        self.server.wait(timeout=10)


def start(name, window, x):
    env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS="unix:path=/nonexistent")
    if window:
        env.update(DISPLAY=x.display, QT_QPA_PLATFORM="xcb")
    args = [PROGRAM, "--simulate=0x5E", "--listen=127.0.0.1:0", "--vxi11", "--announce=" + name]
    p = subprocess.Popen(args + ([] if window else ["--no-window"]), env=env, text=True,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    for line in p.stdout:
        if line.startswith("announced as"):
            return p
    p.kill()
    sys.exit(f"{name}: no announcement: {p.stderr.read()!r}")


def await_count(x, pid, n, timeout=15):
    deadline = time.monotonic() + timeout
    while len(x.windows(pid)) < n and time.monotonic() < deadline:
        time.sleep(0.1)
    return x.windows(pid)


# (name, with the window, what ends it: signals, "close", "off", or "box" then signals)
ENDINGS = [
    ("no window SIGTERM", False, [signal.SIGTERM]),
    ("no window SIGINT", False, [signal.SIGINT]),
    ("no window SIGHUP", False, [signal.SIGHUP]),
    ("no window SIGTERM twice", False, [signal.SIGTERM, signal.SIGTERM]),
    ("no window SIGINT then SIGTERM", False, [signal.SIGINT, signal.SIGTERM]),
    ("window SIGTERM", True, [signal.SIGTERM]),
    ("window SIGINT", True, [signal.SIGINT]),
    ("window SIGHUP", True, [signal.SIGHUP]),
    ("window SIGTERM twice", True, [signal.SIGTERM, signal.SIGTERM]),
    ("window SIGTERM under a box", True, ["box", signal.SIGTERM]),
    ("window closed", True, ["close"]),
    ("window Off", True, ["off"]),
]

x = X() if shutil.which("Xvfb") and shutil.which("xdotool") else None
if x is None:
    failures.append("Xvfb and xdotool are needed for the window's endings (scripts/deps)")
try:
    for name, window, how in ENDINGS:
        if window and x is None:
            continue
        p = start(name, window, x)
        check(f"{name}: registered", registered(), [CORE, ABORT])
        check(f"{name}: listed", await_listed(name, True), True)
        top = await_count(x, p.pid, 1)[0] if window else None
        for step in how:
            if step == "close":
                x.close(top)
            elif step == "off":
                x.click_off(top)
            elif step == "box":
                x.info_box(top)
                check(f"{name}: box shown", len(await_count(x, p.pid, 2)), 2)
            else:
                p.send_signal(step)
        try:
            status = p.wait(timeout=30)
        except subprocess.TimeoutExpired:
            p.kill()
            status = "still running"
        check(f"{name}: status", status, 0)
        check(f"{name}: rpcbind", registered(), [])
        check(f"{name}: DNS-SD", await_listed(name, False), False)
        err = re.sub(r"pts-panel: --announce: listening on loopback.*\n", "", p.stderr.read())
        if not window:  # Qt may say things about the display
            check(f"{name}: stderr", err, "")
finally:
    if x:
        x.stop()

for f in failures:
    print("FAIL", f)
print("endings:", "failed" if failures else "passed")
sys.exit(1 if failures else 0)
