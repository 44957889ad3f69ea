#!/usr/bin/python3
"""The VXI-11 server against real clients (lxi, PyVISA with pyvisa-py) and
a raw RPC client that also plays careless and hostile ones. Runs inside
run-in-netns with its own rpcbind ($PTS_RUN_IN_NETNS names the script):

    run-in-netns --rpcbind -- vxi11_test.py PROGRAM clients|hostile|program
"""
import os
import signal
import socket
import struct
import subprocess
import sys
import threading
import time

PROGRAM, MODE = sys.argv[1], sys.argv[2]
CORE, ABORT = 0x0607AF, 0x0607B0
END, WAITLOCK, TERMCHR = 0x08, 0x01, 0x80
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def u32(*v):
    return struct.pack(f">{len(v)}I", *(x & 0xFFFFFFFF for x in v))


def opaque(b):
    return u32(len(b)) + b + b"\0" * (-len(b) % 4)


class Rpc:
    """One TCP connection speaking ONC RPC with AUTH_NONE."""

    def __init__(self, port, prog=CORE, vers=1, source="127.0.0.1"):
        self.s = socket.create_connection(("127.0.0.1", port), timeout=20,
                                          source_address=(source, 0))
        self.prog, self.vers, self.xid = prog, vers, 0

    def send(self, proc, args=b"", prog=None, vers=None, rpcvers=2):
        self.xid += 1
        body = u32(self.xid, 0, rpcvers, prog or self.prog, vers or self.vers, proc, 0, 0, 0, 0)
        self.s.sendall(u32(0x80000000 | len(body + args)) + body + args)

    def receive(self):
        """(accept_stat, results) of the next reply; (-1, b'') for a denied call, None at EOF."""
        record, last = b"", False
        while not last:
            head = self.exactly(4)
            if head is None:
                return None
            (mark,) = struct.unpack(">I", head)
            last, record = mark >> 31, record + self.exactly(mark & 0x7FFFFFFF)
        xid, direction, stat = struct.unpack(">III", record[:12])
        if stat != 0:
            return -1, record[12:]
        (verf_len,) = struct.unpack(">I", record[16:20])
        at = 20 + verf_len + (-verf_len % 4)
        return struct.unpack(">I", record[at:at + 4])[0], record[at + 4:]

    def exactly(self, n):
        data = b""
        while len(data) < n:
            got = self.s.recv(n - len(data))
            if not got:
                return None
            data += got
        return data

    def call(self, proc, args=b"", **kw):
        self.send(proc, args, **kw)
        return self.receive()

    def ints(self, proc, args=b""):
        stat, res = self.call(proc, args)
        assert stat == 0, f"procedure {proc}: accept_stat {stat}"
        return struct.unpack(f">{len(res) // 4}i", res[: len(res) // 4 * 4])


class Link:
    """A VXI-11 link over its own core connection."""

    def __init__(self, port, lock=False, lock_timeout=0, name=b"inst0", source="127.0.0.1"):
        self.rpc = Rpc(port, source=source)
        self.error, self.lid, self.abort_port, self.max_recv = self.rpc.ints(
            10, u32(1234, int(lock), lock_timeout) + opaque(name))

    def write(self, data, flags=END, io_timeout=2000, lock_timeout=0):
        return self.rpc.ints(11, u32(self.lid, io_timeout, lock_timeout, flags) + opaque(data))

    def read(self, size=4096, io_timeout=2000, flags=0, term=0, lock_timeout=0):
        stat, res = self.rpc.call(12, u32(self.lid, size, io_timeout, lock_timeout, flags, term))
        error, reason, n = struct.unpack(">iiI", res[:12])
        return error, reason, res[12:12 + n]

    def query(self, text):
        self.write(text)
        return self.read()[2].decode().rstrip("\n")

    def generic(self, proc, flags=0, lock_timeout=0, io_timeout=1000):
        return self.rpc.ints(proc, u32(self.lid, flags, lock_timeout, io_timeout))

    def lock(self, flags=0, lock_timeout=0):
        return self.rpc.ints(18, u32(self.lid, flags, lock_timeout))[0]

    def unlock(self):
        return self.rpc.ints(19, u32(self.lid))[0]

    def destroy(self):
        return self.rpc.ints(23, u32(self.lid))[0]


def rpcbind_ports():
    """{program: port} of what rpcbind has for TCP."""
    out = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True).stdout
    return {int(w[0]): int(w[3]) for w in (l.split() for l in out.splitlines()[1:])
            if w[2] == "tcp" and int(w[0]) in (CORE, ABORT)}


def start(*extra):
    p = subprocess.Popen([PROGRAM, "--no-window", "--simulate=0x5E", "--listen=127.0.0.1:0",
                          "--vxi11", *extra], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True)
    lines = [p.stdout.readline(), p.stdout.readline()]
    words = lines[1].replace(",", " ").replace(")", " ").split()
    if not lines[1].startswith("vxi11 on 127.0.0.1 (core "):
        p.kill()
        sys.exit(f"no vxi11 line: {lines!r} {p.stderr.read()!r}")
    raw = int(lines[0].rsplit(":", 1)[1])
    return p, raw, int(words[4]), int(words[6])


def stop(p):
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=20)
    check("exit status after SIGTERM", p.returncode, 0)
    check("registrations after SIGTERM", rpcbind_ports(), {})
    return err


def clients(core, abort):
    check("registered", rpcbind_ports(), {CORE: core, ABORT: abort})
    r = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "*IDN?"], capture_output=True,
                       text=True, timeout=30)
    check("lxi *IDN?", (r.returncode, r.stdout.split(",")[:3]), (0, ["pts-panel", "PTS500", "1"]))

    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    opened = [rm.open_resource("TCPIP::127.0.0.1::INSTR", read_termination="\n",
                               write_termination="\n", timeout=3000) for _ in range(2)]
    a, b = opened
    check("PyVISA *IDN?", a.query("*IDN?").split(",")[:3], ["pts-panel", "PTS500", "1"])
    a.write("FREQ 2.5 MHZ")
    check("FREQ? on the other link", b.query("FREQ?"), "2500000")
    check("joined answers, none left over", (b.query("FREQ?;*OPC?;*OPT?"), b.query("*OPT?")),
          ("2500000;1;0", "0"))
    a.write("FREQ 9 GHZ")
    check("error queues are the link's", (b.query("SYST:ERR?")[:4], a.query("SYST:ERR?")[:4]),
          ('0,"N', "-222"))
    a.write("*IDN?")
    check("read_stb: MAV while an answer waits", a.read_stb() & 0x10, 0x10)
    a.clear()
    check("clear: the answer is gone", (a.read_stb() & 0x10, a.query("*OPC?")), (0, "1"))
    a.assert_trigger()  # *TRG through the engine (or -113 in a's queue where there is none)
    a.lock_excl()
    try:
        b.write("*IDN?")
        failures.append("write through another link's lock")
    except pyvisa.errors.VisaIOError:
        pass
    # A raw link that asks to wait for the lock gets it once a lets go.
    waiter = Link(core)
    t0 = time.monotonic()
    unlocker = threading.Timer(0.3, a.unlock)
    unlocker.start()
    check("waitlock: write once unlocked", waiter.write(b"*CLS\n", END | WAITLOCK, lock_timeout=5000),
          (0, 5))
    check("waitlock: waited", time.monotonic() - t0 > 0.25, True)
    unlocker.join()
    check("after unlock", b.query("*IDN?").split(",")[0], "pts-panel")
    for i in opened:
        i.close()
    rm.close()

    # Two links through raw calls: locks, timeouts, abort, messages in pieces.
    x, y = Link(core), Link(core)
    check("create_link", (x.error, x.abort_port, x.max_recv), (0, abort, 65536))
    check("unlock without the lock", x.unlock(), 12)
    check("lock", (x.lock(), x.lock(), y.lock()), (0, 0, 11))
    t0 = time.monotonic()
    check("lock waits lock_timeout", y.lock(WAITLOCK, 300), 11)
    check("lock waited", 0.25 < time.monotonic() - t0 < 2, True)
    check("readstb while locked", y.rpc.ints(13, u32(y.lid, 0, 0, 1000))[0], 11)
    check("read while locked", y.read()[0], 11)
    check("holder still served", x.query(b"*OPC?"), "1")
    check("create_link with lockDevice while locked", Link(core, True, 200).error, 11)
    x.destroy()
    check("destroy_link releases the lock", y.lock(), 0)
    y.unlock()
    check("message in pieces", (y.write(b"FREQ 12", 0), y.write(b"34 HZ", END), y.query(b"FREQ?")),
          ((0, 7), (0, 5), "1234"))
    for _ in range(12):
        y.write(b"*IDN?" * 5000, 0)  # 300 KB without an end
    y.write(b"", END)
    check("overlong message", y.query(b"SYST:ERR?")[:4], "-223")
    check("write above maxRecvSize", y.write(b"x" * 65537), (5, 0))
    check("read with nothing to say: I/O timeout", y.read(io_timeout=100)[:2], (15, 0))
    y.write(b"*IDN?;*OPT?")
    y.write(b"*OPT?")
    check("one read per response message, END on its LF", [y.read()[1:] for _ in range(2)],
          [(4, b"pts-panel,PTS500,1," + os.environ.get("PTS_VERSION", "0.1.0").encode() + b";0\n"),
           (4, b"0\n")])
    y.write(b"*IDN?")
    check("requestSize", y.read(size=4)[1:], (1, b"pts-"))
    check("termChar", y.read(flags=TERMCHR, term=ord(","))[1:], (2, b"panel,"))
    y.generic(15)
    # A read that waits ends with "abort" from the abort channel.
    aborter = Rpc(abort, ABORT)
    later = threading.Timer(0.2, lambda: check("abort", aborter.ints(1, u32(y.lid)), (0,)))
    later.start()
    t0 = time.monotonic()
    check("aborted read", y.read(io_timeout=10000)[0], 23)
    check("abort was quick", time.monotonic() - t0 < 5, True)
    later.join()
    check("abort of an unknown link", aborter.ints(1, u32(9999)), (4,))
    # *OPC? in a single sweep: the read waits for its answer; other links go on.
    y.write(b"FREQ:STAR 1000;STOP 1400;:SWE:STEP 100;TIME 0.05;:INIT;*OPC?")
    z = Link(core)
    check("others served during the sweep", z.query(b"*OPC?"), "1")
    check("*OPC? after the sweep", y.read(io_timeout=5000)[:3], (0, 4, b"1\n"))
    # A link that never reads: its commands stop at 1 MiB of answers, its
    # writes wait for room, and it goes on once it reads.
    big = b";".join([b"*IDN?"] * 5000)
    results = []
    while len(results) < 20 and (not results or results[-1] == 0):
        results.append(z.write(big, io_timeout=2000)[0])
    check("unread answers stop the link", (len(results) > 4, results[-1]), (True, 15))
    got, reason = b"", 0
    while not reason & 4:
        _, reason, data = z.read(size=65536)
        got += data
    check("it goes on once it reads: one response per write",
          (got[:9], got.count(b"\n"), got.count(b";")), (b"pts-panel", 1, 4999))
    z.generic(15)
    check("clear drops the rest", z.query(b"*OPC?"), "1")
    links = [Link(core) for _ in range(8)]
    # waiter, y and z hold three of the eight a host may have
    check("links beyond a host's eight", [l.error for l in links].count(9), 3)
    links += [Link(core, source="127.0.0.2") for _ in range(8)]
    check("another host's eight, then none left",
          ([l.error for l in links[8:]], Link(core, source="127.0.0.3").error), ([0] * 8, 9))
    check("unknown link", Rpc(core).ints(13, u32(4242, 0, 0, 0))[0], 4)
    check("unknown device", Link(core, name=b"gpib0,5").error, 3)


def foreign_links(core, abort):
    """Another connection presents a link's id, from the owner's host and from
    another one: every call is told the link does not exist (4), and the
    owner's lock, queued answer and link stay as they were."""
    owner = Link(core)
    lid = owner.lid
    check("owner locks", owner.lock(), 0)
    owner.write(b"*IDN?")
    calls = [  # (name, procedure, arguments)
        ("device_write", 11, u32(lid, 1000, 0, END) + opaque(b"FREQ 1 MHZ\n")),
        ("device_read", 12, u32(lid, 4096, 1000, 0, 0, 0)),
        ("device_readstb", 13, u32(lid, 0, 0, 1000)),
        ("device_trigger", 14, u32(lid, 0, 0, 1000)),
        ("device_clear", 15, u32(lid, 0, 0, 1000)),
        ("device_remote", 16, u32(lid, 0, 0, 1000)),
        ("device_local", 17, u32(lid, 0, 0, 1000)),
        ("device_lock", 18, u32(lid, WAITLOCK, 100)),
        ("device_unlock", 19, u32(lid)),
        ("device_enable_srq", 20, u32(lid, 1) + opaque(b"h")),
        ("device_docmd", 22, u32(lid, 0, 1000, 1000, 0, 0, 0) + opaque(b"")),
        ("destroy_link", 23, u32(lid)),
    ]
    for source in ("127.0.0.1", "127.0.0.2"):
        other = Rpc(core, source=source)
        check(f"{source}: has a link of its own", other.ints(10, u32(1, 0, 0) + opaque(b"inst0"))[0], 0)
        for name, proc, args in calls:
            check(f"{source}: {name} on another's link", other.ints(proc, args)[0], 4)
        other.s.close()
    check("abort from another host", Rpc(abort, ABORT, source="127.0.0.2").ints(1, u32(lid)), (4,))
    check("abort from the owner's host", Rpc(abort, ABORT).ints(1, u32(lid)), (0,))
    # All still the owner's: its answer, its lock, its link.
    check("owner's answer kept", owner.read()[2][:9], b"pts-panel")
    check("owner's lock kept", Link(core).lock(), 11)
    check("owner unlocks", (owner.unlock(), owner.destroy()), (0, 0))
    # The owner's connection closing ends its link and lock.
    gone = Link(core)
    gone.lock()
    gone.rpc.s.close()
    check("lock of a closed connection released", Link(core).lock(WAITLOCK, 5000), 0)


def hostile(raw, core, abort):
    foreign_links(core, abort)
    r = Rpc(core)
    check("null procedure", r.call(0), (0, b""))
    check("wrong program", r.call(10, prog=0x20000001)[0], 1)
    check("wrong version", r.call(10, vers=2), (2, u32(1, 1)))
    check("unknown procedure", r.call(99)[0], 3)
    check("garbage arguments", r.call(10, u32(1, 0, 0, 100000) + b"short")[0], 4)
    check("RPC version 3", r.call(10, rpcvers=3)[0], -1)
    check("abort channel: core procedure", Rpc(abort, ABORT).call(10)[0], 3)
    r.s.sendall(u32(0x80000008, 7, 1))  # a "reply" from the client: no call
    check("a record that is no call ends the connection", r.receive(), None)
    # Half a record, a 2 GiB fragment, a link that never reads, many connections.
    half = Rpc(core)
    half.s.sendall(u32(0x80001000) + b"\0" * 100)
    huge = Rpc(core)
    huge.s.sendall(u32(0xFFFFFFFF, 1, 0, 2, CORE, 1, 11) + b"\0" * 65536)
    deaf = Link(core)
    for _ in range(50):
        deaf.rpc.send(11, u32(deaf.lid, 1000, 0, END) + opaque(b"*IDN?" * 1000))
    many = [socket.create_connection(("127.0.0.1", core)) for _ in range(40)]
    many += [socket.create_connection(("127.0.0.1", abort)) for _ in range(40)]
    time.sleep(0.3)
    closed = 0
    for s in many:
        s.setblocking(False)
        try:
            closed += s.recv(1) == b""
        except (BlockingIOError, ConnectionResetError):
            pass
    check("connections beyond the bound closed", closed >= 80 - 2 * 32, True)
    good = Link(core)
    check("a good link still served", (good.error, good.query(b"*OPC?")), (0, "1"))
    r = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "*OPC?"], capture_output=True, text=True,
                       timeout=30)
    check("lxi still served", r.stdout.strip(), "1")
    with socket.create_connection(("127.0.0.1", raw)) as s:
        s.sendall(b"*OPC?\n")
        check("raw socket still served", s.makefile().readline(), "1\n")


def program():
    def run(args, **kw):
        return subprocess.run([PROGRAM] + args, capture_output=True, text=True, timeout=30, **kw)
    # A registration left by a program that was killed is replaced.
    p, _, core, _ = start()
    p.kill()
    p.wait()
    p, _, core, _ = start()
    check("stale registration replaced", rpcbind_ports()[CORE], core)
    r = run(["--no-window", "--simulate", "--listen=127.0.0.1:0", "--vxi11"])
    check("second server: status", r.returncode, 1)
    check("second server: one line", r.stderr.count("\n"), 1)
    check("second server: registration kept", rpcbind_ports()[CORE], core)
    stop(p)
    # With the window (offscreen) too.
    w = subprocess.Popen([PROGRAM, "--simulate=0x5E", "--listen=127.0.0.1:0", "--vxi11"],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    w.stdout.readline()
    check("window: vxi11 line", w.stdout.readline().startswith("vxi11 on 127.0.0.1 (core"), True)
    check("window: *IDN?", Link(rpcbind_ports()[CORE]).query(b"*IDN?")[:9], "pts-panel")
    w.terminate()
    w.wait()
    subprocess.run([os.environ["PTS_RUN_IN_NETNS"], "--stop", "rpcbind"], check=True, timeout=30)
    r = run(["--no-window", "--simulate", "--listen=127.0.0.1:0", "--vxi11"])
    check("without rpcbind: status", r.returncode, 1)
    check("without rpcbind: one line naming it",
          (r.stderr.count("\n"), "rpcbind" in r.stderr), (1, True))


if MODE == "program":
    program()
else:
    p, raw, core, abort = start()
    try:
        clients(core, abort) if MODE == "clients" else hostile(raw, core, abort)
    finally:
        err = stop(p)
    check("stderr", err, "")

for f in failures:
    print("FAIL", f)
print(f"{MODE}: {'failed' if failures else 'passed'}")
sys.exit(1 if failures else 0)
