#!/usr/bin/python3
"""The web page's server against hostile hosts, over raw sockets: 127.0.0.2
plays the hostile host and 127.0.0.1 the one it must not lock out. No
browser, no timing: limits are counted, time-outs only waited for.

    web_hostile_test.py PROGRAM
"""
import base64
import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

PROGRAM = sys.argv[1]
failures = []
HOSTILE, OTHER = "127.0.0.2", "127.0.0.1"
KEY = "dGhlIHNhbXBsZSBub25jZQ=="


def check(what, ok, detail=""):
    if not ok:
        failures.append(f"{what} {detail}".rstrip())


def start(*extra):
    p = subprocess.Popen([PROGRAM, "--no-window", "--simulate=0x5E", "--http=127.0.0.1:0"]
                         + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    line = p.stdout.readline()
    return p, int(line.rsplit(":", 1)[1])


def stop(p):
    p.terminate()
    return p.communicate(timeout=20)[1]


def connect(port, src):
    s = socket.socket()
    s.bind((src, 0))
    s.settimeout(10)
    s.connect(("127.0.0.1", port))
    return s


LEFT = {}  # bytes read past an answer's end, per socket


def answer(s):
    """The status of the server's answer; 0 when it closes without one."""
    data = b""
    try:
        while b"\r\n\r\n" not in data:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, socket.timeout):
        pass
    if not data.startswith(b"HTTP/1.1 "):
        return 0
    head, _, rest = data.partition(b"\r\n\r\n")
    length = [int(l.split(b":")[1]) for l in head.split(b"\r\n")
              if l.lower().startswith(b"content-length:")]
    while length and len(rest) < length[0]:
        rest += s.recv(4096)
    LEFT[s] = rest[length[0]:] if length else rest
    return int(data[9:12])


def get(port, src, head=None):
    with connect(port, src) as s:
        s.sendall((head or f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n").encode())
        return answer(s)


def handshake(port, method="GET", key=KEY, version="13", upgrade="websocket"):
    h = (f"{method} /ws HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nOrigin: http://127.0.0.1:{port}\r\n"
         f"Connection: Upgrade\r\nUpgrade: {upgrade}\r\nSec-WebSocket-Version: {version}\r\n")
    if key is not None:
        h += f"Sec-WebSocket-Key: {key}\r\n"
    return h + "\r\n"


def frame(payload, opcode=1, masked=True):
    head = bytes([0x80 | opcode])
    n = len(payload)
    mask = 0x80 if masked else 0
    head += bytes([mask | n]) if n < 126 else bytes([mask | 126]) + struct.pack(">H", n)
    if not masked:
        return head + payload
    key = os.urandom(4)
    return head + key + bytes(b ^ key[i % 4] for i, b in enumerate(payload))


def frames(s):
    """The frames the server sends until it closes: (opcode, payload)."""
    data, out = LEFT.pop(s, b""), []
    try:
        while True:
            while len(data) >= 2:
                n, at = data[1] & 0x7F, 2
                if n == 126:
                    n, at = struct.unpack(">H", data[2:4])[0], 4
                elif n == 127:
                    n, at = struct.unpack(">Q", data[2:10])[0], 10
                if len(data) < at + n:
                    break
                out.append((data[0] & 0x0F, data[at:at + n]))
                data = data[at + n:]
            if out and out[-1][0] == 8:
                break
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except (ConnectionResetError, socket.timeout):
        pass
    return out


def page(port, src):
    """An open page: the socket after the handshake's 101."""
    s = connect(port, src)
    s.sendall(handshake(port).encode())
    return s if answer(s) == 101 else None


def close_code(s, timeout=10):
    s.settimeout(timeout)
    got = frames(s)
    closes = [f for f in got if f[0] == 8]
    return struct.unpack(">H", closes[0][1][:2])[0] if closes and len(closes[0][1]) >= 2 else None


def auth(s, token):
    """Whether the token gave control; None when the server closed instead."""
    try:
        s.sendall(frame(('{"token":"%s"}' % token).encode()))
        got = LEFT.pop(s, b"")
        s.settimeout(10)
        while b'"t":"auth"' not in got:
            data = s.recv(65536)
            if not data:
                return None
            got += data
    except (BrokenPipeError, ConnectionResetError):
        return None
    return b'"t":"auth","ok":true' in got


def others_unaffected(port, what):
    check(what + ": page still loads from " + OTHER, get(port, OTHER) == 200)
    p = page(port, OTHER)
    check(what + ": a page still opens from " + OTHER, p is not None)
    if p:
        p.close()


def hold(port, n, send):
    """n connections from the hostile host, each sending `send`."""
    held = []
    for _ in range(n):
        s = connect(port, HOSTILE)
        if send:
            s.sendall(send.encode())
        held.append(s)
    return held


def refused_at_once(port, send):
    """One more connection from the hostile host gets closed unanswered."""
    s = connect(port, HOSTILE)
    try:
        s.sendall(send.encode())
    except (BrokenPipeError, ConnectionResetError):
        return True
    return answer(s) == 0


def limit_cases():
    partial = "GET / HTTP/1.1\r\n"
    # (what the hostile host holds open, how many, what one more gets)
    for what, send, n in (("heads that never end", partial, 8),
                          ("silent connections", "", 8)):
        # A server of its own for each: what the last one held is not yet
        # given back the moment the host lets go.
        p, port = start()
        held = hold(port, n, send)
        check(what + ": one more refused", refused_at_once(port, send or partial))
        others_unaffected(port, what)
        for s in held:
            s.close()
        stop(p)
    p, port = start()
    pages = [page(port, HOSTILE) for _ in range(8)]
    check("8 pages from one host", all(pages))
    s = connect(port, HOSTILE)
    s.sendall(handshake(port).encode())
    check("the 9th from that host: 503", answer(s) == 503)
    others_unaffected(port, "pages of one host")
    for s in pages + [s]:
        if s:
            s.close()
    # Places are given back: a page again, and more requests than the cap
    # on connections, one after another.
    again = None
    for _ in range(100):
        again = page(port, HOSTILE)
        if again:
            break
        time.sleep(0.1)
    check("pages given back", again is not None)
    codes = []
    for _ in range(40):
        with connect(port, HOSTILE) as s:
            s.sendall(f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
            codes.append(answer(s))
            s.recv(10)  # the server's close
    check("connections given back", codes == [200] * 40, str(codes))
    stop(p)


def request_cases(port):
    own = f"127.0.0.1:{port}"
    cases = [
        # (what the hostile host sends, the status it must get)
        (f"GET http://evil.example/ HTTP/1.1\r\nHost: {own}\r\n\r\n", 421),
        (f"GET http://{own}/ HTTP/1.1\r\nHost: {own}\r\n\r\n", 200),
        (f"GET http://user@{own}/ HTTP/1.1\r\nHost: {own}\r\n\r\n", 400),
        (f"GET * HTTP/1.1\r\nHost: {own}\r\n\r\n", 400),
        (handshake(port, key=None), 400),
        (handshake(port, key="c2hvcnQ="), 400),                      # 5 bytes
        (handshake(port, key="dGhlIHNhbXBsZSBub25jZQ"), 400),        # unpadded
        (handshake(port, key="dGhlIHNhbXBsZSBub25j!!=="), 400),      # not base64
        (handshake(port, key=base64.b64encode(b"x" * 17).decode()), 400),
        (handshake(port, method="POST"), 405),
        (handshake(port, method="PUT"), 405),
        (handshake(port, version="8"), 426),
        (handshake(port, upgrade="h2c"), 400),
        (handshake(port).replace("/ws", "/"), 404),
    ]
    for send, status in cases:
        got = get(port, HOSTILE, send)
        check(f"{send.splitlines()[0]!r} ... gets {status}", got == status, f"got {got}")
    # A second request behind the first, in the same packet: only the first
    # passed the gate, only it is answered.
    with connect(port, HOSTILE) as s:
        s.sendall(f"GET / HTTP/1.1\r\nHost: {own}\r\n\r\n"
                  f"GET http://evil.example/ HTTP/1.1\r\nHost: {own}\r\n\r\n".encode())
        data = b""
        while chunk := s.recv(65536):
            data += chunk
        check("one answer per connection", data.count(b"HTTP/1.1 ") == 1, str(data[:40]))


def frame_cases(port):
    for what, send, code in (
            ("an unmasked text frame", frame(b'{"id":1,"scpi":"*IDN?"}', masked=False), 1002),
            ("an unmasked ping", frame(b"", opcode=9, masked=False), 1002),
            ("a binary frame", frame(b"\x00\x01", opcode=2), 1003),
            ("reserved bits", bytes([0xF1]) + frame(b"{}")[1:], 1002),
            ("an unknown opcode", frame(b"", opcode=3), 1002)):
        s = page(port, HOSTILE)
        if not s:
            check(what + ": no page", False)
            continue
        s.sendall(send)
        got = close_code(s)
        check(f"{what} closed with {code}", got == code, f"got {got}")
        s.close()
    others_unaffected(port, "bad frames")


def token_cases(folder):
    path = os.path.join(folder, "token")
    with open(path, "w") as f:
        f.write("s3cret-token\n")
    for mode in (0o640, 0o620, 0o604):
        os.chmod(path, mode)
        r = subprocess.run([PROGRAM, "--no-window", "--simulate", "--http=127.0.0.1:0",
                            "--http-token-file=" + path], capture_output=True, text=True,
                           timeout=20)
        check(f"token file {mode:o}: status 1, one line",
              r.returncode == 1 and r.stderr.count("\n") == 1, r.stderr)
    os.chmod(path, 0o600)
    p, port = start("--http-token-file=" + path)
    try:
        # Guesses from the hostile host, reconnecting as it is thrown out;
        # the right token is among them but arrives while it must wait.
        tries, right_taken = 0, False
        # Eight wrong ones lock it out, however slowly they come.
        while tries < 12:
            s = page(port, HOSTILE)
            if not s:
                break
            for _ in range(4):
                ok = auth(s, "guess%d" % tries if tries != 9 else "s3cret-token")
                tries += 1
                if ok is None:
                    break
                right_taken = right_taken or ok
            s.close()
        check("guesses while waiting are not looked at", not right_taken)
        s = page(port, HOSTILE)
        check("the hostile host is locked out", s is not None and auth(s, "s3cret-token") is False)
        s = page(port, OTHER)
        check("the other host's token taken", s is not None and auth(s, "s3cret-token") is True)
    finally:
        err = stop(p)
    lines = [l for l in err.splitlines() if "wrong access tokens" in l]
    check("one line on stderr per burst", len(lines) == 1 and HOSTILE in lines[0], err)
    check("no token on stderr", "s3cret" not in err and "guess" not in err, err)


def timeout_cases(port):
    # The head's deadline and the idle time-out: only waited for, however
    # long the machine takes.
    head = connect(port, HOSTILE)
    head.sendall(b"GET / HTTP/1.1\r\n")
    # No connection is kept idle: each is closed after its answer.
    idle = connect(port, HOSTILE)
    idle.sendall(f"GET / HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: keep-alive\r\n\r\n"
                 .encode())
    check("kept-alive connection answered", answer(idle) == 200)
    for what, s in (("a head never finished", head), ("a connection after its answer", idle)):
        s.settimeout(120)
        try:
            closed = s.recv(100) == b""
        except ConnectionResetError:
            closed = True
        check(what + " is closed", closed)
        s.close()


def main():
    folder = tempfile.mkdtemp(prefix="pts-hostile-")
    p, port = start()
    try:
        request_cases(port)
        frame_cases(port)
        timeout_cases(port)
    finally:
        stop(p)
    limit_cases()
    token_cases(folder)
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


main()
