#!/usr/bin/python3
"""Reads and drives the panel through the accessibility bus, as a screen
reader does: one run of the program on two simulated boards under Xvfb, with
a session bus and the accessibility bus.

Usage: accessibility_bus_test.py PROGRAM [--list]
Exits 77 (skipped) when Xvfb, D-Bus or pyatspi are not installed. With
--list it prints the window's accessible tree after start-up and stops.
"""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SKIP = 77
INNER = "PTS_A11Y_INNER"


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def outer():
    for tool in ("Xvfb", "dbus-run-session", "xdotool"):
        if not shutil.which(tool):
            skip(tool + " is not installed (scripts/deps installs it)")
    if not os.path.exists("/usr/libexec/at-spi-bus-launcher"):
        skip("at-spi2-core is not installed")
    try:
        import pyatspi  # noqa: F401
    except ImportError:
        skip("python3-pyatspi is not installed")
    # Xvfb picks a free display itself and names it once it accepts clients
    # (xvfb-run -a guesses one beforehand). -noreset: by default the server
    # resets when its last client leaves, and the accessibility bus's
    # launcher connects and leaves just as the program starts to connect.
    r, w = os.pipe()
    xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24",
                             "-nolisten", "tcp", "-noreset"], pass_fds=(w,),
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.close(w)
    with os.fdopen(r, "rb") as f:
        display = f.readline().strip().decode()
    if not display:
        xvfb.wait()
        print("FAIL Xvfb did not start (exit %s)" % xvfb.returncode)
        sys.exit(1)
    env = dict(os.environ, **{INNER: "1", "DISPLAY": ":" + display})
    env.pop("QT_QPA_PLATFORM", None)  # a real X display, which the bridge needs
    try:
        cmd = ["dbus-run-session", "--", sys.executable] + sys.argv
        code = subprocess.run(cmd, env=env).returncode
    finally:
        xvfb.terminate()
        xvfb.wait(timeout=10)
    sys.exit(code)


# ---- Inside the session -------------------------------------------------

failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)


def wait_for(probe, what, seconds=10.0):
    """Polls until probe() gives something true; a deadline, not a timing check."""
    end = time.monotonic() + seconds
    while True:
        try:
            value = probe()
        except Exception:  # the tree changes under us while the window updates
            value = None
        if value or time.monotonic() > end:
            check(bool(value), what)
            return value
        time.sleep(0.05)


def walk(acc):
    yield acc
    for i in range(acc.childCount):
        child = acc.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def value_of(acc):
    try:
        v = acc.queryValue()
    except NotImplementedError:
        return None
    return v.currentValue, v.minimumValue, v.maximumValue


def listing(app):
    for acc in walk(app):
        depth, p = 0, acc.parent
        while p is not None and p != app.parent:
            depth, p = depth + 1, p.parent
        v = value_of(acc)
        extra = " | value %g (%g..%g)" % v if v else ""
        print("%s%s | %r | %r%s" % ("  " * (depth - 1), acc.getRoleName(), acc.name,
                                    acc.description, extra))


def inner(program, list_only):
    import pyatspi

    signal.alarm(60)  # a call that hangs ends the run instead of holding ctest
    trace = tempfile.NamedTemporaryFile(prefix="pts-a11y-", suffix=".trace", delete=False)
    trace.close()
    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1")
    proc = subprocess.Popen([program, "--simulate=0x5E,0x5C", "--trace=" + trace.name], env=env)
    try:
        def find_app():
            desktop = pyatspi.Registry.getDesktop(0)
            for i in range(desktop.childCount):
                a = desktop.getChildAtIndex(i)
                if a is not None and a.get_process_id() == proc.pid:
                    return a
            return None

        app = wait_for(find_app, "the program is on the accessibility bus")
        if not app:
            return

        def find(role, name=None, prefix=None):
            for acc in walk(app):
                if acc.getRole() != role:
                    continue
                if name is not None and acc.name != name:
                    continue
                if prefix is not None and not acc.name.startswith(prefix):
                    continue
                return acc
            return None

        def press(acc):
            act = acc.queryAction()
            for i in range(act.nActions):
                if act.getName(i) in ("press", "Press", "click"):
                    return act.doAction(i)
            raise AssertionError("no press action on " + acc.name)

        def showing(acc):
            return acc.getState().contains(pyatspi.STATE_SHOWING)

        def text_of(acc):
            t = acc.queryText()
            return t.getText(0, t.characterCount)

        def type_into(box, typed):
            # Into the box as the operator types: focus, then keys. Xvfb has
            # no window manager to give the window the keyboard focus.
            subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--pid", str(proc.pid),
                            "--name", "^Test program", "windowfocus", "--sync"],
                           stdout=subprocess.DEVNULL, check=False, timeout=10)
            box.queryComponent().grabFocus()
            pyatspi.Registry.generateKeyboardEvent(0, typed, pyatspi.KEY_STRING)
            wait_for(lambda: text_of(box) == typed, "%r takes %s" % (box.name, typed))

        def close_box(text_prefix):
            box = wait_for(lambda: find(pyatspi.ROLE_ALERT), "a message box opens: " + text_prefix)
            if not box:
                return
            texts = [a.name for a in walk(box) if a.getRole() == pyatspi.ROLE_LABEL]
            check(any(t.startswith(text_prefix) for t in texts), "its text: %r" % texts)
            press(next(a for a in walk(box) if a.getRole() == pyatspi.ROLE_PUSH_BUTTON))
            wait_for(lambda: not find(pyatspi.ROLE_ALERT), "the box closes")

        # Start-up: the read-back greets the selected unit.
        close_box("Hello from Optiono1_Click")
        wait_for(lambda: find(pyatspi.ROLE_LABEL, "PTS 500"), "the model label reads back PTS 500")
        if list_only:
            listing(app)
            return

        R = pyatspi
        controls = [
            (R.ROLE_TEXT, "Start Frequency (Hz)"), (R.ROLE_TEXT, "Stop  Frequency (Hz)"),
            (R.ROLE_TEXT, "Frequency Step (Hz)"), (R.ROLE_TEXT, "Sweep Time (s)"),
            (R.ROLE_PUSH_BUTTON, "Send"), (R.ROLE_PUSH_BUTTON, "Start"),
            (R.ROLE_PUSH_BUTTON, "Stop"), (R.ROLE_PUSH_BUTTON, "Single"),
            (R.ROLE_PUSH_BUTTON, "Off"), (R.ROLE_RADIO_BUTTON, "Unit  0"),
            (R.ROLE_RADIO_BUTTON, "Unit  2"), (R.ROLE_DIAL, "Output level knob"),
            (R.ROLE_IMAGE, "Send light, dark"), (R.ROLE_IMAGE, "Sweep stopped light, lit"),
            (R.ROLE_LABEL, "3"), (R.ROLE_PROGRESS_BAR, "Sweep progress"),
        ] + [(R.ROLE_DIAL, "Frequency digit %d knob" % i) for i in range(1, 11)]
        for role, name in controls:
            check(find(role, name) is not None, "found %s %r" % (pyatspi.Role(role), name))
        units = [a for a in walk(app) if a.getRole() == R.ROLE_RADIO_BUTTON]
        states = [(u.name, u.getState().contains(R.STATE_CHECKED),
                   u.getState().contains(R.STATE_SENSITIVE)) for u in units]
        check(states == [("Unit  0", False, True), ("Unit  2", True, True),
                         ("Unit3", False, False), ("Unit4", False, False)],
              "the unit buttons' checked and sensitive states: %r" % states)
        knob1 = find(R.ROLE_DIAL, "Frequency digit 1 knob")
        check(knob1.description == "100 MHz", "the first knob's weight: %r" % knob1.description)

        # Typing a frequency: the digits' names follow.
        freq = find(R.ROLE_TEXT, "Start Frequency (Hz)")
        type_into(freq, "123456789")

        def digit_names():
            return [a.name for a in walk(app)
                    if a.getRole() == R.ROLE_LABEL and a.description.startswith("Frequency digit")]
        wait_for(lambda: digit_names() == list("1234567890"), "the digits read 1234567890")

        # A knob turned through the value interface turns as the operator would.
        knob3 = find(R.ROLE_DIAL, "Frequency digit 3 knob")
        knob3.queryValue().currentValue = 7
        wait_for(lambda: text_of(freq) == "127456789", "the box follows the turned knob")
        wait_for(lambda: knob3.queryValue().currentValue == 7, "the knob reads 7")

        # Send through the action interface: the word goes to the boards.
        def out_lines():
            with open(trace.name) as f:
                return [line for line in f if " out Cmd1=4 " in line]
        before = len(out_lines())
        press(find(R.ROLE_PUSH_BUTTON, "Send"))
        wait_for(lambda: len(out_lines()) >= before + 2, "Send writes Cmd1=4 to both boards")
        wait_for(lambda: find(R.ROLE_IMAGE, "Send light, lit"), "the Send light is lit")

        # A menu command that opens a box returns at once (a call that waited
        # for the box to close would never see the box from here).
        info = find(R.ROLE_MENU_ITEM, "Info")
        press(info)
        close_box("PTS Synthesizer Control, front panel")

        # A sweep shows its progress while it runs and hides it when stopped.
        for name, typed in (("Stop  Frequency (Hz)", "200000000"),
                            ("Frequency Step (Hz)", "1000"), ("Sweep Time (s)", "600")):
            type_into(find(R.ROLE_TEXT, name), typed)
        press(find(R.ROLE_PUSH_BUTTON, "Start"))
        bar = find(R.ROLE_PROGRESS_BAR, "Sweep progress")
        wait_for(lambda: showing(bar) and bar.queryValue().currentValue >= 1,
                 "the progress bar shows during the sweep")
        line = wait_for(lambda: find(R.ROLE_LABEL, prefix="Sweep step "), "the progress line")
        if line:
            check(" of 72544," in line.name and "left in this pass" in line.name,
                  "the line names the step and time left: %r" % line.name)
        press(find(R.ROLE_PUSH_BUTTON, "Stop"))
        wait_for(lambda: not showing(bar), "the progress bar goes when the sweep stops")

        press(find(R.ROLE_PUSH_BUTTON, "Off"))
        try:
            code = proc.wait(timeout=10)
        except subprocess.TimeoutExpired:
            code = None
        check(code == 0, "Off ends the program (exit %s)" % code)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        os.unlink(trace.name)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        sys.exit(2)
    if not os.environ.get(INNER):
        outer()
    inner(sys.argv[1], "--list" in sys.argv[2:])
    if failures:
        print("%d failed" % len(failures))
        sys.exit(1)
    print("all checks passed")


if __name__ == "__main__":
    main()
