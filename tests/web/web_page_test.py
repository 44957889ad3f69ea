#!/usr/bin/python3
"""The web page against the program without a window: headless Chromium
through Selenium drives the page, python3-websockets plays hostile clients,
axe-core checks the page's accessibility.

    web_page_test.py PROGRAM
"""
import asyncio
import json
import os
import shutil
import socket
import subprocess
import sys

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait
import websockets

from web_support import SCRATCH, browser, check, el, failures, outs, stop, wait

PROGRAM = sys.argv[1]
LIMIT_TEXT = "Frequency >= 500 MHz is NOT Supported on PTS 500"


def start(*extra, listen=False):
    trace = os.path.join(SCRATCH, f"trace{len(os.listdir(SCRATCH))}.txt")
    args = [PROGRAM, "--no-window", "--simulate=0x5E", "--http=127.0.0.1:0", "--trace=" + trace]
    if listen:
        args.append("--listen=127.0.0.1:0")
    p = subprocess.Popen(args + list(extra), stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True)
    ports = {}
    for _ in range(2 if listen else 1):
        line = p.stdout.readline()
        ports["scpi" if line.startswith("listening") else "http"] = int(line.rsplit(":", 1)[1])
    return p, ports, trace


def open_page(d, port):
    d.get(f"http://127.0.0.1:{port}/")
    WebDriverWait(d, 10).until(lambda d: d.execute_script("return document.body.dataset.live"))


def scpi(port, message):
    with socket.create_connection(("127.0.0.1", port)) as s:
        s.sendall(message.encode() + b"\n*OPC?\n")
        s.recv(100)


def alerts(d):
    return [li.text for li in d.find_elements(By.CSS_SELECTOR, "#alert-list li")]


def panel_cases(d, d2, ports, trace):
    open_page(d, ports["http"])
    # Who it is, in the HTML as served.
    html = d.execute_script("return document.getElementById('identity').textContent")
    for want in ("PTS 500", "0.1.0", "TCPIP0::127.0.0.1::%d::SOCKET" % ports["scpi"]):
        check("identity shows", want in html, want)
    # The window's names, roles and Tab order.
    names = {e.get_attribute("id"): e.get_attribute("aria-label")
             for e in d.find_elements(By.CSS_SELECTOR, "[aria-label]")}
    check("knob name", names.get("Knob1(1)") == "Frequency digit 2 knob", names.get("Knob1(1)"))
    check("level name", names.get("Knob1(10)") == "Output level knob")
    check("box name", names.get("TextFreq") == "Start Frequency (Hz)", names.get("TextFreq"))
    check("light name", names.get("SendLED") == "Send light, dark", names.get("SendLED"))
    el(d, "TextFreq").click()
    order = []
    for _ in range(23):
        order.append(d.switch_to.active_element.get_attribute("id")
                     or d.switch_to.active_element.find_element(By.XPATH, "..").get_attribute("id"))
        d.switch_to.active_element.send_keys(Keys.TAB)
    want = (["TextFreq", "TextFreqStop", "TextFreqStep", "TextSweepTime", "CmdSend", "CmdStart",
             "CmdStop", "CmdSngl"] + [f"Knob1({i})" for i in range(11)] + ["Option1(0)"])
    check("Tab order", order[:len(want)] == want, str(order))

    # Type and Send: the word goes out.
    before = len(outs(trace))
    box = el(d, "TextFreq")
    box.click()
    box.send_keys("1234567.8")
    el(d, "CmdSend").click()
    wait("Send writes the word", lambda: len(outs(trace)) > before)
    check("Send's word", outs(trace) and "Cmd1=4" in outs(trace)[-1], str(outs(trace)[-1:]))
    wait("Send light lit", lambda: el(d, "SendLED").get_attribute("aria-label") == "Send light, lit")

    # A knob turned with the keyboard: the digit and the box follow.
    knob = el(d, "Knob1(4)")
    value = int(knob.get_attribute("value"))
    knob.send_keys(Keys.ARROW_RIGHT)
    wait("knob turns the digit", lambda: el(d, "D(4)").text == str(value + 1))

    # A change over SCPI reaches both pages.
    open_page(d2, ports["http"])
    scpi(ports["scpi"], "FREQ 7654321")
    for page in (d, d2):
        wait("SCPI change on a page", lambda: el(page, "TextFreq").get_attribute("value") == "7654321")

    # A refused frequency: its text on the page that sent it, nothing sent.
    before = len(outs(trace))
    box.click()
    box.send_keys("600000000")
    el(d, "CmdSend").click()
    wait("limit text shown", lambda: LIMIT_TEXT in " ".join(alerts(d)))
    check("refused word not sent", len(outs(trace)) == before)
    check("other page has no alert", alerts(d2) == [], str(alerts(d2)))
    check("alerts are live", el(d, "alert-list").get_attribute("aria-live") == "assertive")


def axe_case(d):
    folder = os.path.join(SCRATCH, "axe")
    os.makedirs(folder)
    r = subprocess.run(["npm", "install", "--silent", "--no-audit", "--no-fund", "--prefix", folder,
                        "axe-core@4"], capture_output=True, text=True, timeout=300)
    if r.returncode != 0:
        failures.append("axe-core could not be installed: " + r.stderr.strip()[-300:])
        return
    with open(os.path.join(folder, "node_modules", "axe-core", "axe.min.js")) as f:
        d.execute_script(f.read())
    result = d.execute_async_script(
        "const done = arguments[0]; axe.run(document).then(r => done(r.violations))")
    bad = [(v["id"], v["impact"]) for v in result if v["impact"] in ("serious", "critical")]
    check("axe finds nothing serious", not bad, str(bad))
    print(f"axe-core: {len(result)} findings, none serious or critical" if not bad else "")


def token_case(d):
    path = os.path.join(SCRATCH, "token")
    with open(path, "w") as f:
        f.write("s3cret-token\n")
    os.chmod(path, 0o644)
    p = subprocess.run([PROGRAM, "--no-window", "--simulate", "--http=127.0.0.1:0",
                        "--http-token-file=" + path], capture_output=True, text=True, timeout=20)
    check("world-readable token file refused", p.returncode == 1 and p.stderr.count("\n") == 1,
          p.stderr)
    os.chmod(path, 0o600)
    p, ports, _ = start("--http-token-file=" + path)
    try:
        open_page(d, ports["http"])
        check("view only without the token", not el(d, "CmdSend").is_enabled())
        field = d.find_element(By.CSS_SELECTOR, "input#token")
        check("token field labelled", d.find_element(By.CSS_SELECTOR, "label[for=token]").text
              == "Access token")
        field.send_keys("wrong\n")
        wait("wrong token told", lambda: "not accepted" in " ".join(alerts(d)))
        check("still view only", not el(d, "CmdSend").is_enabled())
        field.send_keys("s3cret-token\n")
        wait("control with the token", lambda: el(d, "CmdSend").is_enabled())
    finally:
        stop(p)


async def hostile_cases(port):
    url = f"ws://127.0.0.1:{port}/ws"
    own = f"http://127.0.0.1:{port}"

    async def refused(status, **kw):
        try:
            async with websockets.connect(url, **kw):
                return False
        except websockets.exceptions.InvalidStatusCode as e:
            return e.status_code == status
    check("foreign Origin refused", await refused(403, origin="http://evil.example"))
    check("no Origin refused", await refused(403))
    # A DNS-rebinding name: the browser sends its own name as Host and Origin.
    evil = f"evil.example:{port}"
    for head in (f"GET /ws HTTP/1.1\r\nHost: {evil}\r\nOrigin: http://{evil}\r\n"
                 "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n",
                 f"GET / HTTP/1.1\r\nHost: {evil}\r\n\r\n"):
        with socket.create_connection(("127.0.0.1", port)) as s:
            s.sendall(head.encode())
            answer = s.recv(200).decode()
        check("rebinding Host refused", answer.startswith("HTTP/1.1 421"), answer[:40])
    watcher = await websockets.connect(url, origin=own)
    await watcher.recv()  # hello

    async def closed(ws):
        try:
            while True:
                await asyncio.wait_for(ws.recv(), 5)
        except websockets.exceptions.ConnectionClosed:
            return True
        except asyncio.TimeoutError:
            return False
    garbage = await websockets.connect(url, origin=own)
    await garbage.send("this is not JSON")
    check("garbage closed", await closed(garbage))
    flood = await websockets.connect(url, origin=own)
    try:
        for i in range(1000):
            await flood.send(json.dumps({"id": i, "scpi": "*IDN?"}))
    except websockets.exceptions.ConnectionClosed:
        pass
    check("flood closed", await closed(flood))
    # The browser's page and the watcher are two of the sixteen; one host
    # has at most eight.
    def page_from(host):
        return websockets.connect(url, origin=own, local_addr=(host, 0))
    more = ([await page_from("127.0.0.1") for _ in range(4)] +
            [await page_from("127.0.0.2") for _ in range(8)] +
            [await page_from("127.0.0.3") for _ in range(2)])
    check("9th page of one host refused",
          await refused(503, origin=own, local_addr=("127.0.0.2", 0)))
    check("17th page refused", await refused(503, origin=own, local_addr=("127.0.0.4", 0)))
    for ws in more:
        await ws.close()
    await watcher.send(json.dumps({"id": 1, "scpi": "*IDN?;*OPC?"}))
    reply = None
    while reply is None or reply.get("t") != "reply":
        reply = json.loads(await asyncio.wait_for(watcher.recv(), 5))
    check("others unaffected", reply["out"].startswith("pts-panel,"), str(reply))
    check("one response message", (reply["out"].count("\n"), reply["out"].endswith(";1\n")),
          (1, True))
    # Messages as long as on the raw socket; one longer closes the page.
    await watcher.send(json.dumps({"id": 2, "scpi": "*CLS;" * 40000 + "*IDN?"}))
    reply = None
    while reply is None or reply.get("t") != "reply":
        reply = json.loads(await asyncio.wait_for(watcher.recv(), 5))
    check("200 KiB message run", reply["out"].startswith("pts-panel,"), str(reply)[:80])
    big = await websockets.connect(url, origin=own)
    await big.send(json.dumps({"id": 1, "scpi": "*CLS;" * 60000}))
    check("300 KiB message closed", await closed(big))
    await watcher.close()


def main():
    # An address this machine does not have: the bind fails, nothing is sent.
    bad = subprocess.run([PROGRAM, "--no-window", "--simulate", "--http=192.0.2.1:1"],
                         capture_output=True, text=True, timeout=20)
    check("unusable address: status 1, one line", bad.returncode == 1 and
          bad.stderr.count("\n") == 1, repr(bad.stderr))
    p, ports, trace = start(listen=True)
    d = browser()
    d2 = browser()
    try:
        panel_cases(d, d2, ports, trace)
        d2.quit()
        asyncio.run(hostile_cases(ports["http"]))
        open_page(d, ports["http"])
        axe_case(d)
        token_case(d)
    finally:
        d.quit()
        stop(p)
    shutil.rmtree(SCRATCH, ignore_errors=True)
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


main()
