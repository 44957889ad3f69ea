#!/usr/bin/python3
"""The web page's identification, the addresses it names and TLS, run in a
private network namespace (run-in-netns --avahi --rpcbind) so that wildcard
addresses, rpcbind and mDNS stay inside it:

    web_lxi_test.py PROGRAM
"""
import asyncio
import os
import re
import socket
import ssl
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

import websockets

from web_support import SCRATCH, browser, check, finish, open_page, port_of, start, stop

PROGRAM = sys.argv[1]
NS = "{http://www.lxistandard.org/InstrumentIdentification/1.0}"
# The published schema's sequences (InstrumentIdentification 1.0): the
# elements in the order they must come, those that may be left out in brackets.
DEVICE = ["(Manufacturer)", "(Model)", "(SerialNumber)", "(FirmwareRevision)",
          "(ManufacturerDescription)", "(HomepageURL)", "(DriverURL)", "(ConnectedDevices)",
          "(UserDescription)", "(IdentificationURL)", "(Interface)*", "(IVISoftwareModuleName)*",
          "(Extension)", "(LXIClass)", "(Domain)*", "LXIVersion", "(LXIExtendedFunctions)"]
NETWORK = ["(InstrumentAddressString)*", "Hostname", "IPAddress", "SubnetMask", "MACAddress",
           "Gateway", "DHCPEnabled", "AutoIPEnabled"]
OTHER = "192.0.2.27"  # a second address, on the namespace's own lo


def follows(sequence, names):
    """Whether `names` (local names in document order) fit the schema's `sequence`."""
    pattern = "".join(rf"(?:{m[2]},){'*' if m[3] else '?' if m[1] else ''}"
                      for m in (re.fullmatch(r"(\()?(\w+)\)?(\*)?", s) for s in sequence))
    return re.fullmatch(pattern, "".join(n + "," for n in names)) is not None


def get(via, port, path, host=None, tls=False):
    """(status, body) of a GET sent to `via`, naming `host` (default: `via`) in Host."""
    raw = socket.create_connection((via, port), timeout=10)
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
        context.check_hostname = False
        context.verify_mode = ssl.CERT_NONE
        raw = context.wrap_socket(raw)
    with raw as s:
        s.sendall(f"GET {path} HTTP/1.1\r\nHost: {host or via}:{port}\r\nConnection: close\r\n\r\n"
                  .encode())
        data = b""
        while b"\r\n\r\n" not in data and (chunk := s.recv(65536)):
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        length = re.search(rb"(?i)content-length: *(\d+)", head)
        while length and len(body) < int(length[1]) and (chunk := s.recv(65536)):
            body += chunk
    return int(head.split()[1]) if head else 0, body.decode()


def idn(port):
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(b"*IDN?\n")
        return s.makefile().readline().strip().split(",")


def identification_cases():
    """On wildcards: what the page and the identification name, reached both ways."""
    # Only on the lo of the namespace run-in-netns made, never the machine's own.
    if not os.environ.get("PTS_NETNS_DIR"):
        sys.exit("run inside tests/netns/run-in-netns: this test adds an address to lo")
    subprocess.run(["ip", "addr", "add", OTHER + "/32", "dev", "lo"], check=True)
    p, said, _ = start(PROGRAM, "--listen=0.0.0.0:0", "--vxi11", http="0.0.0.0:0", lines=3)
    scpi, web = port_of(said[0]), port_of(said[2])
    try:
        maker, model, serial, firmware = idn(scpi)
        for via in ("127.0.0.1", OTHER):
            want = [f"TCPIP0::{via}::{scpi}::SOCKET", f"TCPIP0::{via}::inst0::INSTR"]
            status, page = get(via, web, "/")
            check("page names the address it came in on", status == 200 and
                  all(w in page for w in want) and "0.0.0.0" not in page, f"{via}: {page[:80]}")
            status, text = get(via, web, "/lxi/identification")
            check("identification served", status == 200, str(status))
            root = ET.fromstring(text)
            names = [e.tag.removeprefix(NS) for e in root]
            check("identification's root", root.tag == NS + "LXIDevice", root.tag)
            check("identification's elements", follows(DEVICE, names), str(names))
            fields = [root.findtext(NS + n) for n in
                      ("Manufacturer", "Model", "SerialNumber", "FirmwareRevision")]
            check("identification matches *IDN?", fields == [maker, model, serial, firmware],
                  str(fields))
            check("description", bool(root.findtext(NS + "ManufacturerDescription")))
            ips = []
            for i in root.iter(NS + "Interface"):
                ip = i.findtext(NS + "IPAddress")
                ips.append(ip)
                check("interface's elements", follows(NETWORK, [e.tag.removeprefix(NS) for e in i]))
                check("interface's attributes",
                      i.get("InterfaceType") == "LXI" and i.get("IPType") == "IPv4", str(i.attrib))
                check("interface's resources",
                      [a.text for a in i.iter(NS + "InstrumentAddressString")] ==
                      [f"TCPIP0::{ip}::{scpi}::SOCKET", f"TCPIP0::{ip}::inst0::INSTR"], ip)
                check("interface's host name", i.findtext(NS + "Hostname") == socket.gethostname())
            check("addresses, reached one first", ips[:1] == [via] and OTHER in ips and
                  "0.0.0.0" not in ips, f"{via}: {ips}")
    finally:
        stop(p)


def openssl(*args):
    subprocess.run(["openssl", *args], check=True, capture_output=True, timeout=60)


def refusals(cert, key, other_key):
    """Files that will not do: one line on stderr, status 1."""
    loose = os.path.join(SCRATCH, "loose.pem")
    with open(key) as f, open(loose, "w") as g:
        g.write(f.read())
    os.chmod(loose, 0o640)
    no_key = os.path.join(SCRATCH, "nokey.pem")
    with open(cert) as f, open(no_key, "w") as g:
        g.write(f.read())
    os.chmod(no_key, 0o600)
    for what, files in (("key readable by the group", (cert, loose)),
                        ("mismatched key", (cert, other_key)),
                        ("missing certificate", (cert + ".none", key)),
                        ("no key in the key file", (cert, no_key))):
        r = subprocess.run([PROGRAM, "--no-window", "--simulate", "--http=127.0.0.1:0",
                            "--http-cert=" + files[0], "--http-key=" + files[1]],
                           capture_output=True, text=True, timeout=30)
        check(what + ": status 1, one line", r.returncode == 1 and r.stderr.count("\n") == 1,
              f"{r.returncode} {r.stderr!r}")


def browse_txt(port):
    end = time.time() + 15
    while time.time() < end:
        r = subprocess.run(["avahi-browse", "-rpt", "_http._tcp"], capture_output=True, text=True,
                           timeout=30)
        for line in r.stdout.splitlines():
            f = line.split(";", 9)
            if f[0] == "=" and len(f) == 10 and f[8] == str(port):
                return f[9]
        time.sleep(0.3)
    return ""


async def wss(port, origin):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_CLIENT)
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    try:
        async with websockets.connect(f"wss://127.0.0.1:{port}/ws", ssl=context,
                                      origin=origin) as ws:
            return '"hello"' in await asyncio.wait_for(ws.recv(), 10)
    except websockets.exceptions.InvalidStatusCode as e:
        return e.status_code


def tls_cases():
    cert, key = os.path.join(SCRATCH, "cert.pem"), os.path.join(SCRATCH, "key.pem")
    other_key = os.path.join(SCRATCH, "other.pem")
    for k in (key, other_key):
        openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=127.0.0.1",
                "-days", "2", "-keyout", k, "-out", cert if k == key else k + ".crt")
        os.chmod(k, 0o600)
    refusals(cert, key, other_key)
    token = os.path.join(SCRATCH, "token")
    with open(token, "w") as f:
        f.write("s3cret\n")
    os.chmod(token, 0o600)
    # A token over plain http on a non-loopback address: said at start.
    p, said, _ = start(PROGRAM, "--http-token-file=" + token, http="0.0.0.0:0")
    _, err = stop(p)
    check("token in clear said", len([l for l in err.splitlines() if "in clear" in l]) == 1, err)
    p, said, _ = start(PROGRAM, "--http-token-file=" + token, "--http-cert=" + cert,
                       "--http-key=" + key, "--announce", http="127.0.0.1:0")
    port = port_of(said[0])
    try:
        check("https said", said[0] == f"https on 127.0.0.1:{port}", said[0])
        status, page = get("127.0.0.1", port, "/", tls=True)
        check("page over TLS", status == 200 and f"https://127.0.0.1:{port}/" in page, str(status))
        _, text = get("127.0.0.1", port, "/lxi/identification", tls=True)
        check("identification says https", f"<IdentificationURL>https://127.0.0.1:{port}/" in text)
        try:
            status, _ = get("127.0.0.1", port, "/")
        except OSError:
            status = 0
        check("no plain http on the TLS port", status == 0, str(status))
        check("wss from the page's origin", asyncio.run(wss(port, f"https://127.0.0.1:{port}"))
              is True)
        check("wss from an http origin refused",
              asyncio.run(wss(port, f"http://127.0.0.1:{port}")) == 403)
        check("TXT says https", "scheme=https" in browse_txt(port))
        # The page itself goes live over wss.
        d = browser("800,600", "--ignore-certificate-errors")
        try:
            open_page(d, f"https://127.0.0.1:{port}/")
        except Exception as e:
            check("page live over https", False, repr(e)[:200])
        finally:
            d.quit()
    finally:
        _, err = stop(p)
    check("no clear-text warning with TLS", "in clear" not in err, err)


def main():
    identification_cases()
    tls_cases()
    sys.exit(finish())


main()
