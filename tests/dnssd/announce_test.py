#!/usr/bin/python3
"""pts-panel --announce against a real avahi-daemon, seen by avahi-browse and
`lxi discover -m`. Runs inside tests/netns/run-in-netns (its own bus and
avahi-daemon on lo), never against the machine's own:

    run-in-netns --avahi --rpcbind announce_test.py PROGRAM publish
    run-in-netns --avahi announce_test.py PROGRAM names
    run-in-netns --dbus announce_test.py PROGRAM daemon
"""
import os
import queue
import re
import signal
import socket
import subprocess
import sys
import threading
import time

PROGRAM, MODE = sys.argv[1], sys.argv[2]
NETNS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "netns", "run-in-netns")
failures = []
panels = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


class Panel:
    """The program without a window on one simulated PTS 500 board."""

    def __init__(self, *args):
        self.p = subprocess.Popen([PROGRAM, "--no-window", "--simulate=0x5E",
                                   "--listen=127.0.0.1:0", *args], text=True,
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        panels.append(self)
        self.out, self.err = queue.Queue(), queue.Queue()
        self.err_lines = []
        for stream, q in ((self.p.stdout, self.out), (self.p.stderr, self.err)):
            threading.Thread(target=lambda s=stream, q=q: [q.put(l.rstrip("\n")) for l in s],
                             daemon=True).start()
        line = self.out.get(timeout=20)
        if not line.startswith("listening on 127.0.0.1:"):
            sys.exit(f"no listening line: {line!r}")
        self.port = int(line.rsplit(":", 1)[1])

    def announced(self, timeout=20):
        """The name of the next `announced as` line on stdout."""
        line = self.out.get(timeout=timeout)
        while line.startswith(("vxi11 on ", "http on ")):  # the other front ends' lines
            line = self.out.get(timeout=timeout)
        m = re.fullmatch(r'announced as "(.*)"', line)
        if not m:
            sys.exit(f"not an announcement: {line!r}")
        return m.group(1)

    def warning(self, timeout=20):
        self.err_lines.append(self.err.get(timeout=timeout))
        return self.err_lines[-1]

    def scpi(self, message):
        """The answer to `message` (empty for a command), once it has run."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=10) as s:
            s.sendall(message.encode() + b";*OPC?\n")
            reply = b""
            while not reply.endswith(b"\n"):  # one line: the answers joined by ';'
                reply += s.recv(4096)
        return reply.decode().rpartition("1\n")[0].rstrip(";")

    def stop(self):
        self.p.send_signal(signal.SIGTERM)
        check("exit status after SIGTERM", self.p.wait(timeout=20), 0)
        while not self.err.empty():
            self.err_lines.append(self.err.get())
        return self.err_lines


def unescape(label):
    return re.sub(r"\\(\d{3}|.)", lambda m: chr(int(m[1])) if m[1].isdigit() else m[1], label)


def browse(service_type):
    """{name: (host, address, port, [txt...])} as avahi-browse resolves them."""
    r = subprocess.run(["avahi-browse", "-rpt", service_type], capture_output=True, text=True,
                       timeout=30)
    found = {}
    for line in r.stdout.splitlines():
        f = line.split(";", 9)
        if f[0] == "=" and len(f) == 10:
            found[unescape(f[3])] = (f[6], f[7], int(f[8]), re.findall(r'"((?:[^"\\]|\\.)*)"', f[9]))
    return found


def await_browse(service_type, ok, timeout=15):
    """The first browse result that `ok` accepts, or the last one."""
    deadline = time.monotonic() + timeout
    while True:
        found = browse(service_type)
        if ok(found) or time.monotonic() > deadline:
            return found
        time.sleep(0.3)


def netns(action, daemon):
    subprocess.run([NETNS, action, daemon], check=True, timeout=30)


def publish():
    # With VXI-11 on (it registers with this namespace's rpcbind).
    p = Panel("--announce", "--vxi11")
    name = p.announced()
    found = await_browse("_scpi-raw._tcp", lambda f: name in f)
    if name not in found:
        failures.append(f"avahi-browse does not list {name!r}: {found}")
        return
    host, address, port, txt = found[name]
    check("the default name", name, "pts-panel PTS 500 on " + host.removesuffix(".local"))
    check("address and port", (address, port), ("127.0.0.1", p.port))
    # The TXT keys say what *IDN? says.
    maker, model, _, version = p.scpi("*IDN?").split(",")
    check("TXT", txt, ["txtvers=1", f"Manufacturer={maker}", f"Model={model}",
                       f"FirmwareVersion={version}"])
    vxi = await_browse("_vxi-11._tcp", lambda f: name in f).get(name)
    check("VXI-11 through rpcbind's port", vxi and vxi[2], 111)
    r = subprocess.run(["lxi", "discover", "-m", "-t", "2"], capture_output=True, text=True,
                       timeout=30)
    check("lxi discover -m", re.search(rf'Found "{re.escape(name)}" on address 127\.0\.0\.1\s+'
                                       rf"scpi-raw service on port {p.port}\b", r.stdout) is not None,
          True)

    # The name follows the model.
    p.scpi("SYST:MOD PTS1000")
    renamed = p.announced()
    check("renamed", renamed, "pts-panel PTS 1000 on " + host.removesuffix(".local"))
    found = await_browse("_scpi-raw._tcp", lambda f: name not in f and renamed in f)
    check("old name gone, new one listed", (name in found, renamed in found), (False, True))
    check("TXT model after it", renamed in found and found[renamed][3][2], "Model=PTS1000")

    check("stderr: the loopback note alone", ["loopback" in l for l in p.stop()], [True])
    found = await_browse("_scpi-raw._tcp", lambda f: renamed not in f)
    check("withdrawn after SIGTERM", renamed in found, False)


def names():
    # Two panels under one name: the second takes Avahi's alternative.
    first, second = Panel("--announce=Bench 7"), Panel("--announce=Bench 7")
    check("names", {first.announced(), second.announced()}, {"Bench 7", "Bench 7 #2"})
    found = await_browse("_scpi-raw._tcp", lambda f: len(f) == 2)
    check("both listed", sorted(found), ["Bench 7", "Bench 7 #2"])
    # A given name stays when the model changes; its TXT record follows.
    panel = first if found.get("Bench 7", (0, 0, 0))[2] == first.port else second
    panel.scpi("SYST:MOD PTS3200")
    found = await_browse("_scpi-raw._tcp",
                         lambda f: "Model=PTS3200" in f.get("Bench 7", (0, 0, 0, []))[3])
    check("given name kept, TXT model follows", found.get("Bench 7", (0, 0, 0, []))[3][2:3],
          ["Model=PTS3200"])
    check("no rename", panel.out.empty(), True)
    for p in (first, second):
        p.stop()


def daemon():
    # No avahi-daemon at start: one line, and SCPI goes on.
    p = Panel("--announce")
    check("loopback note", "loopback" in p.warning(), True)
    check("no daemon: the line", "avahi-daemon is not running" in p.warning(), True)
    check("no daemon: SCPI", p.scpi("SYST:MOD?"), "PTS500")
    netns("--start", "avahi")
    name = p.announced()
    check("published once it starts", name in await_browse("_scpi-raw._tcp", lambda f: name in f),
          True)
    # Killed and back: one line, still running, published again.
    netns("--stop", "avahi")
    check("daemon gone: the line", "lost avahi-daemon" in p.warning(), True)
    check("daemon gone: SCPI", p.scpi("SYST:MOD?"), "PTS500")
    netns("--start", "avahi")
    check("published again", p.announced(), name)
    check("listed again", name in await_browse("_scpi-raw._tcp", lambda f: name in f), True)
    check("no more lines", len(p.stop()), 3)


try:
    {"publish": publish, "names": names, "daemon": daemon}[MODE]()
except queue.Empty:
    failures.append("timed out waiting for a line from the program")
finally:
    for panel in panels:
        if panel.p.poll() is None:
            panel.p.kill()
for f in failures:
    print("FAIL:", f)
if failures:
    for panel in panels:
        print("stderr:", panel.err_lines + list(panel.err.queue))
sys.exit(1 if failures else 0)
