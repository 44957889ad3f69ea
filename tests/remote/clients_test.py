#!/usr/bin/python3
"""Real SCPI clients against the program: pts-panel --no-window on two
simulated boards, driven by PyVISA (pyvisa-py) or by `lxi scpi --raw`; and
the program's own exits without a window.

    clients_test.py PROGRAM pyvisa|lxi|program
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import time

PROGRAM, MODE = sys.argv[1], sys.argv[2]
failures = []


def check(what, got, want):
    if got != want:
        failures.append(f"{what}: got {got!r}, want {want!r}")


def start(trace):
    p = subprocess.Popen([PROGRAM, "--no-window", "--simulate=0x5E,0x5C", "--listen=127.0.0.1:0",
                          "--trace=" + trace], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True)
    line = p.stdout.readline()
    if not line.startswith("listening on 127.0.0.1:"):
        p.kill()
        sys.exit(f"no listening line: {line!r} {p.stderr.read()!r}")
    return p, int(line.rsplit(":", 1)[1])


def stop(p):
    p.send_signal(signal.SIGTERM)
    out, err = p.communicate(timeout=20)
    check("exit status after SIGTERM", p.returncode, 0)
    check("more output after the listening line", out, "")
    return err


def outs(trace):
    """(board, Cmd1) of every output report in the trace."""
    with open(trace) as f:
        return [(w[1], w[3]) for w in (l.split() for l in f) if w[2] == "out"]


def pyvisa_client(port, trace):
    import pyvisa
    rm = pyvisa.ResourceManager("@py")
    inst = rm.open_resource(f"TCPIP::127.0.0.1::{port}::SOCKET", read_termination="\n",
                            write_termination="\n", timeout=10000)
    check("*IDN?", inst.query("*IDN?"), "pts-panel,PTS500,2," + os.environ.get("PTS_VERSION", "0.1.0"))
    inst.write("FREQ 10.5 MHZ")
    check("FREQ?", inst.query("FREQ?"), "10500000")
    check("after FREQ", outs(trace), [("board=1", "Cmd1=4"), ("board=2", "Cmd1=4")])
    inst.write("SOUR:FREQ 600 MHZ")
    check("over the limit", inst.query("SYST:ERR?"),
          '-222,"Data out of range;Frequency >= 500 MHz is NOT Supported on PTS 500"')
    check("nothing sent over the limit", len(outs(trace)), 2)
    inst.write("FREQ:STAR 1000;STOP 1500;:SWE:STEP 100;TIME 0.05")
    check("single sweep, the state after it", inst.query("INIT;*OPC?;:SWE:STAT?"), "1;IDLE")
    check("sweep steps", len(outs(trace)), 2 + 2 * 5)
    check("no error", inst.query("SYST:ERR?"), '0,"No error"')
    # pyvisa-py has no read_stb on a socket: a driver polls *STB? for ESB after *OPC.
    inst.write("*CLS;*ESE 1;*SRE 32;:INIT;*OPC")
    deadline = time.monotonic() + 10
    while not int(inst.query("*STB?")) & 32 and time.monotonic() < deadline:
        time.sleep(0.005)
    check("after *OPC: *ESR?", inst.query("*ESR?"), "1")
    check("after *OPC: sweep state", inst.query("STAT:OPER:COND?;:SWE:STAT?"), "0;IDLE")
    # One response message per program message: no answer is left for the next query.
    inst.write("FREQ:STAR 5000000;STOP 6000000;:SWE:STEP 100000")
    check("joined answers", inst.query("FREQ:STAR?;STOP?;:SWE:STEP?"), "5000000;6000000;100000")
    check("as numbers", inst.query_ascii_values("FREQ:STAR?;STOP?", separator=";"), [5e6, 6e6])
    check("a failed query adds nothing", inst.query("FREQ? 5;:FREQ:STOP?"), "6000000")
    check("its error", inst.query("SYST:ERR?"), '-104,"Data type error"')
    # pymeasure's step sweep set-up, and SCPI-1999 queries a driver tries.
    inst.write(":SOUR:FREQ:MODE SWE;:SOUR:SWE:GEN STEP;:SOUR:SWE:MODE AUTO;")
    check("step sweep set-up", inst.query("SYST:ERR?"), '0,"No error"')
    check("SCPI-1999 queries", inst.query("SWE:COUN?;SPAC?;GEN?;MODE?;DIR?;:LIST:COUN?;DIR?;MODE?;"
                                          ":OUTP?"), "1;LIN;STEP;AUTO;UP;1;UP;AUTO;1")
    inst.close()
    rm.close()


def lxi_client(port, trace):
    def lxi(command):
        r = subprocess.run(["lxi", "scpi", "--raw", "-a", "127.0.0.1", "-p", str(port), command],
                           capture_output=True, text=True, timeout=30)
        check(f"lxi {command} status", r.returncode, 0)
        return r.stdout.strip()
    check("*IDN?", lxi("*IDN?").split(",")[:3], ["pts-panel", "PTS500", "2"])
    lxi("FREQ 1 MHZ")
    check("FREQ?", lxi("FREQ?"), "1000000")
    check("UNIT2:MOD?", lxi("UNIT2:MOD?"), "PTS500")
    check("joined answers", lxi("FREQ?;:UNIT:COUN?;:UNIT2:MOD?"), "1000000;2;PTS500")
    check("after FREQ", outs(trace), [("board=1", "Cmd1=4"), ("board=2", "Cmd1=4")])


def program_exits():
    def run(args, **kw):
        return subprocess.run([PROGRAM] + args, capture_output=True, text=True, timeout=30, **kw)
    r = run(["--no-window"])
    check("--no-window alone", r.returncode, 2)
    # No board and no window: the open-failure text as one line, then one line
    # on how to go on; status 1.
    r = run(["--no-window", "--listen=127.0.0.1:0"], env=dict(os.environ, DISPLAY=""))
    check("no board: status", r.returncode, 1)
    check("no board: the text, then how to go on",
          [("Unable to open USB device" in l, "attach" in l and "--simulate" in l)
           for l in r.stderr.splitlines()], [(True, False), (False, True)])
    with socket.socket() as taken:
        taken.bind(("127.0.0.1", 0))
        taken.listen()
        port = taken.getsockname()[1]
        r = run(["--no-window", "--simulate", f"--listen={port}"])
        check("port in use: status", r.returncode, 1)
        check("port in use: one line", r.stderr.count("\n"), 1)
        check("port in use: names it", f"127.0.0.1:{port}" in r.stderr, True)
    # An address this machine does not have: the bind fails, nothing is sent.
    r = run(["--no-window", "--simulate", "--listen=192.0.2.1:0"])
    check("foreign address: status", r.returncode, 1)
    # With the window (offscreen): the same server once the window's first read-back has run.
    p = subprocess.Popen([PROGRAM, "--simulate=0x5E", "--listen=127.0.0.1:0"], text=True,
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                         env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    line = p.stdout.readline()
    check("window: listening", line.startswith("listening on 127.0.0.1:"), True)
    if line.startswith("listening"):
        with socket.create_connection(("127.0.0.1", int(line.rsplit(":", 1)[1]))) as c:
            c.sendall(b"*IDN?\n")
            check("window: *IDN?", c.makefile().readline().split(",")[:3], ["pts-panel", "PTS500", "1"])
    p.kill()
    p.wait()
    # SIGINT ends it as closing the window does.
    with tempfile.TemporaryDirectory() as d:
        p, _ = start(os.path.join(d, "t"))
        p.send_signal(signal.SIGINT)
        p.communicate(timeout=20)
        check("exit status after SIGINT", p.returncode, 0)


if MODE == "program":
    program_exits()
else:
    with tempfile.TemporaryDirectory() as d:
        trace = os.path.join(d, "trace.txt")
        p, port = start(trace)
        open(trace, "w").close()  # the start-up's read-back is not what the clients did
        try:
            (pyvisa_client if MODE == "pyvisa" else lxi_client)(port, trace)
        finally:
            err = stop(p)
        check("stderr", err, "pts-panel: Hello from Optiono1_Click\n")

for f in failures:
    print("FAIL", f)
print(f"{MODE}: {'failed' if failures else 'passed'}")
sys.exit(1 if failures else 0)
