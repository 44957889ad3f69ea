#!/usr/bin/python3
"""What the operator types or turns on the web page, as fast as a keyboard
or a paste delivers it, is what the boards get: headless Chromium drives the
page and the simulated boards' trace says what went out.

    web_entry_test.py PROGRAM
"""
import random
import sys

from selenium.webdriver.common.keys import Keys

from web_support import (LEVEL_PWM, browser, check, el, finish, open_page, outs, port_of, start,
                         stop, wait, word)

PROGRAM = sys.argv[1]


def send_and_read(d, trace):
    """Presses Send; the word the board got."""
    before = len(outs(trace))
    el(d, "CmdSend").click()
    if not wait("Send writes a word", lambda: len(outs(trace)) > before):
        return None
    return word(outs(trace)[-1])


def typed_cases(d, trace):
    box = el(d, "TextFreq")
    rng = random.Random(27)
    for n in [rng.randrange(10**8, 5 * 10**8) for _ in range(8)]:
        # The keys follow the click at once: the server's emptying of the box
        # and its pushes arrive while they are being typed.
        box.click()
        box.send_keys(str(n))
        check("box shows what was typed", box.get_attribute("value") == str(n),
              box.get_attribute("value"))
        got = send_and_read(d, trace)
        check("typed burst sent", got and got[:2] == (4, n * 10), f"{n}: {got}")
    # A paste: the whole number in one edit.
    for text, tenths in (("123456789.3", 1234567893), ("9087.6", 90876)):
        box.click()
        d.execute_cdp_cmd("Input.insertText", {"text": text})
        got = send_and_read(d, trace)
        check("pasted number sent", got and got[1] == tenths, f"{text}: {got}")


def knob_cases(d, trace):
    box = el(d, "TextFreq")
    for digit, level in ((5, 4), (9, -3), (2, 6), (7, -8)):
        box.click()
        box.send_keys("100000000")
        knob, level_knob = el(d, "Knob1(3)"), el(d, "Knob1(10)")
        start_level = int(level_knob.get_attribute("value"))
        # Every press of a burst is its own turn; none may be lost or undone.
        knob.send_keys(Keys.ARROW_RIGHT * digit)
        level_knob.send_keys((Keys.ARROW_RIGHT if level > 0 else Keys.ARROW_LEFT) * abs(level))
        want_level = min(13, max(3, start_level + level))
        got = send_and_read(d, trace)
        check("knob turns sent", got and got[1:] == ((100000000 + digit * 100000) * 10,
                                                       LEVEL_PWM[want_level]),
              f"digit {digit}, level {start_level}{level:+}: {got}")


def layout_cases(d):
    """At 1280 x 800: the messages right under the panel and in view; sliders
    a pointer can take; the model list; the progress bar's percentage."""
    box = lambda name: d.execute_script(
        "const r = document.getElementById(arguments[0]).getBoundingClientRect();"
        "return [r.top, r.bottom, r.width, innerHeight]", name)
    panel, alerts, knob = box("panel"), box("alerts"), box("Knob1(0)")
    check("messages right under the panel", 0 <= alerts[0] - panel[1] <= 16, f"{panel} {alerts}")
    check("messages in view", alerts[1] <= alerts[3], str(alerts))
    check("slider wide enough", knob[2] >= 24, str(knob))
    # What the page sends, as it sends it.
    d.execute_script("window.sent = []; const send = WebSocket.prototype.send;"
                     "WebSocket.prototype.send = function (m) { sent.push(m); send.call(this, m); }")
    models = lambda: [m for m in d.execute_script("return sent") if "SYST:MOD" in m]
    select = el(d, "model")
    options = d.execute_script("return [...arguments[0].options].map(o => o.text)", select)
    at = options.index("PTS 500")
    for leave, keys, to in ((Keys.ENTER, Keys.ARROW_DOWN * 2, at + 2), (Keys.TAB, Keys.ARROW_UP * 2, at)):
        select.send_keys(keys)
        check("arrows alone change no model", models() == [], str(models()))
        select.send_keys(leave)
        want = options[to]
        check("one change once confirmed", len(models()) == 1 and want.replace(" ", "") in
              models()[0], f"{want}: {models()}")
        wait("model changed", lambda: el(d, "id-model").text.replace(" ", "") ==
             want.replace(" ", ""))
        d.execute_script("sent.length = 0")
    # A sweep long enough to be watched, then stopped.
    d.execute_script("send('FREQ:STAR 1000;STOP 2000;:SWE:STEP 100;TIME 1000;:INIT:CONT ON')")
    wait("progress shown", lambda: el(d, "progress").is_displayed())
    shown = d.execute_script("const b = document.querySelector('#progress progress');"
                             "return [b.value, b.max, "
                             "document.getElementById('progress-percent').textContent]")
    check("progress percentage", shown[2] == f"{shown[0] * 100 // shown[1]}%", str(shown))
    d.execute_script("send('ABOR')")
    wait("progress gone", lambda: not el(d, "progress").is_displayed())


def main():
    p, said, trace = start(PROGRAM)
    d = browser()
    try:
        d.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                          {"width": 1280, "height": 800, "deviceScaleFactor": 1, "mobile": False})
        open_page(d, f"http://127.0.0.1:{port_of(said[0])}/")
        typed_cases(d, trace)
        knob_cases(d, trace)
        layout_cases(d)
    finally:
        d.quit()
        stop(p)
    sys.exit(finish())


main()
