"""Drives the real kiosk as a person does: real pointer events at controls found by their
accessible name and role over AT-SPI, real time, and a fresh kiosk home per launch.

Needs an X display (DISPLAY) and a D-Bus session (DBUS_SESSION_BUS_ADDRESS) shared with the
kiosk; scripts/acceptance.sh provides both.
"""
import contextlib
import csv
import os
import shutil
import signal
import sqlite3
import subprocess
import tempfile
import threading
import time

import pyatspi
from gi.repository import Gio, GLib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BINARY = os.environ.get("QUORIN_BIN", os.path.join(ROOT, "build", "dev", "app", "quorin"))
W, H = 768, 1024
PAGES = ["Welcome", "How it works", "About this check-in", "Who made this check-in",
         "Questions", "Your result", "Practice"]
HEADER = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8"
CHOICES = ["Never", "Some days", "Most days", "Every day"]
PLEASE_COMPLETE = ("Please enter all eight questions on the screening tool to receive "
                   "accurate results.")
MORE_TIME = "\nWould you like more time?\n"
CONFIRM_RESTART = "Restart the screening tool?\n\nWarning, any progress will be lost."
WRITE_FAILED = "Error\nCould not write to csv file!"


class Failure(AssertionError):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


def wait(condition, what, timeout=5.0):
    """Polls until `condition()` gives something true, and returns it."""
    end = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except Failure:
            raise
        except Exception:  # an object went away while we looked (an alert closing): look again
            value = None
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"waited {timeout:g} s for {what}")
        time.sleep(0.05)


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)


def _children(node):
    try:
        return [node.getChildAtIndex(i) for i in range(node.childCount)]
    except Exception:  # the object went away while we looked
        return []


@contextlib.contextmanager
def window_manager():
    """Runs a window manager (openbox) on the display for the kiosks launched meanwhile."""
    wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL)
    time.sleep(1)  # it takes the screen over
    try:
        yield
    finally:
        wm.terminate()
        wm.wait()


PORTAL = """<node><interface name="org.freedesktop.portal.OpenURI">
<method name="OpenFile"><arg type="s" direction="in"/><arg type="h" direction="in"/>
<arg type="a{sv}" direction="in"/><arg type="o" direction="out"/></method>
</interface></node>"""


@contextlib.contextmanager
def desktop_portal(responses):
    """A desktop portal on the session bus whose file chooser ends each OpenFile request with the
    next of `responses` (0 opened, 1 cancelled, 2 failed); yields the list of requests seen."""
    requests, ready = [], threading.Event()
    context = GLib.MainContext()
    loop = GLib.MainLoop(context)

    def call(conn, sender, path, interface, method, params, invocation):
        token = params.unpack()[2].get("handle_token", "quorin")
        handle = ("/org/freedesktop/portal/desktop/request/"
                  f"{sender[1:].replace('.', '_')}/{token}")
        invocation.return_value(GLib.Variant("(o)", (handle,)))
        code = responses[len(requests) % len(responses)]
        requests.append(code)
        conn.emit_signal(None, handle, "org.freedesktop.portal.Request", "Response",
                         GLib.Variant("(ua{sv})", (code, {})))

    def serve():
        context.push_thread_default()
        bus = Gio.DBusConnection.new_for_address_sync(
            os.environ["DBUS_SESSION_BUS_ADDRESS"],
            Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT
            | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION, None, None)
        node = Gio.DBusNodeInfo.new_for_xml(PORTAL)
        bus.register_object("/org/freedesktop/portal/desktop", node.interfaces[0], call)
        bus.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                      "RequestName", GLib.Variant("(su)", ("org.freedesktop.portal.Desktop", 4)),
                      None, Gio.DBusCallFlags.NONE, -1, None)
        ready.set()
        loop.run()
        bus.close_sync(None)

    thread = threading.Thread(target=serve, daemon=True)
    thread.start()
    ready.wait(5)
    try:
        yield requests
    finally:
        context.invoke_full(GLib.PRIORITY_DEFAULT, loop.quit)
        thread.join(5)


def extents(node):
    e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height


def on_screen(node):
    try:
        x, y, w, h = extents(node)
    except Exception:
        return False
    return w > 0 and h > 0 and 0 <= x + w / 2 < W and 0 <= y + h / 2 < H


class Kiosk:
    """One kiosk process with its own home; use as a context manager."""

    def __init__(self, home=None, args=(), env=None):
        self.home = home or tempfile.mkdtemp(prefix="quorin-acceptance-")
        self.own_home = home is None
        self.args, self.env = list(args), env or {}
        self.proc = self.app = None

    # --- process ---------------------------------------------------------------------------
    def launch(self):
        env = dict(os.environ, QUORIN_HOME=self.home, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1", **self.env)
        self.log = open(os.path.join(self.home, "kiosk.log"), "ab")
        self.started = time.monotonic()
        self.proc = subprocess.Popen([BINARY, *self.args], env=env, stdout=self.log,
                                     stderr=subprocess.STDOUT)
        self.app = wait(self._find_app, "the kiosk on the accessibility bus", 15)
        return self

    def _find_app(self):
        check(self.proc.poll() is None, f"the kiosk exited with {self.proc.returncode}")
        desktop = pyatspi.Registry.getDesktop(0)
        for app in _children(desktop):
            try:
                if app.get_process_id() == self.proc.pid and app.childCount > 0:
                    return app
            except Exception:
                pass
        return None

    def stop(self, sig=signal.SIGTERM, timeout=5.0):
        """Sends `sig` and returns the exit status, or None when the kiosk did not stop."""
        if self.proc is None or self.proc.poll() is not None:
            return self.proc and self.proc.returncode
        self.proc.send_signal(sig)
        try:
            return self.proc.wait(timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None
        finally:
            self.log.close()

    def __enter__(self):
        return self if self.proc else self.launch()

    def __exit__(self, *exc):
        self.stop()
        if self.own_home and exc[0] is None:
            shutil.rmtree(self.home, ignore_errors=True)

    def rss_kb(self):
        with open(f"/proc/{self.proc.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        return 0

    # --- what is on screen -----------------------------------------------------------------
    def nodes(self, name=None, role=None, visible=True):
        """Every accessible object of the kiosk matching `name` and `role` (e.g. "push button")."""
        found, todo = [], [self.app]
        while todo:
            node = todo.pop()
            try:
                node_name, node_role = node.name, node.getRoleName()
            except Exception:
                continue
            # The pages off screen hold nothing visible: not walking them saves most of the walk.
            if not (visible and node_role == "filler" and node_name in PAGES
                    and not on_screen(node)):
                todo.extend(reversed(_children(node)))
            if name is not None and node_name != name:
                continue
            if role is not None and node_role != role:
                continue
            if visible and not on_screen(node):
                continue
            found.append(node)
        return found

    def find(self, name, role="push button", timeout=5.0):
        """The one visible control called `name`, waiting for it to appear."""
        def one():
            hits = self.nodes(name, role)
            check(len(hits) <= 1, f"{len(hits)} visible {role}s called {name!r}")
            return hits[0] if hits else None
        return wait(one, f"a visible {role} {name!r}", timeout)

    def page(self):
        """Name of the page filling the screen, once the strip has come to rest."""
        return wait(self.page_now, "the pages to come to rest", 5)

    def page_now(self):
        """Name of the page filling the screen, or None (moving, or no pages shown)."""
        shown = [p for p in self.nodes(role="filler") if p.name in PAGES]
        rest = [p for p in shown if abs(extents(p)[0]) <= 1]
        return rest[0].name if len(shown) == 1 and rest else None

    def alerts(self):
        """The texts of the alerts on screen, oldest first: the message, or title and message."""
        texts = []
        for alert in self.alert_nodes():
            labels = [n.name for n in self._under(alert) if n.getRoleName() == "label" and n.name]
            texts.append("\n".join(labels))
        return texts

    def alert_nodes(self):
        """The alerts on screen: windows of their own, so children of the application."""
        alerts = []
        for node in _children(self.app):
            try:
                if (node.getRoleName() == "alert"
                        and node.getState().contains(pyatspi.STATE_SHOWING)):
                    alerts.append(node)
            except Exception:
                pass
        return alerts

    def _under(self, node):
        out, todo = [], _children(node)
        while todo:
            n = todo.pop(0)
            out.append(n)
            todo.extend(_children(n))
        return out

    def expect(self, page=None, alerts=(), timeout=5.0):
        """Waits until `page` is shown with exactly `alerts` on screen."""
        def state():
            return (page is None or self.page_now() == page) and self.alerts() == list(alerts)
        try:
            wait(state, "", timeout)
        except Failure:
            seen = wait(lambda: (self.page_now(), self.alerts()), "a steady screen")
            raise Failure(f"expected page {page!r} with alerts {list(alerts)!r}, saw page "
                          f"{seen[0]!r} with alerts {seen[1]!r}") from None

    # --- acting ----------------------------------------------------------------------------
    def click(self, name, role="push button"):
        self.tap(self.find(name, role))

    def tap(self, node):
        x, y, w, h = extents(node)
        cx, cy = x + w // 2, y + h // 2
        # Moving onto the pointer's own position with --sync can stall: never use --sync.
        xdotool("mousemove", cx, cy, "click", "1")

    def drag(self, dx, y=H // 2, steps=12):
        """Drags a finger horizontally across the middle of the screen by `dx` pixels."""
        x0 = W // 2 - dx // 2
        xdotool("mousemove", x0, y, "mousedown", "1")
        for i in range(1, steps + 1):
            time.sleep(0.02)
            xdotool("mousemove", x0 + dx * i // steps, y)
        time.sleep(0.05)
        xdotool("mouseup", "1")

    def press_alert(self, button):
        """Presses `button` on the one alert that has it."""
        node = wait(lambda: next((n for a in self.alert_nodes() for n in self._under(a)
                                  if n.name == button and n.getRoleName() == "push button"),
                                 None), f"an alert button {button!r}")
        self.tap(node)

    def type_into(self, name, text, enter=False):
        self.click(name, "password text" if "passcode" in name.lower() else "text")
        xdotool("key", "ctrl+a", "BackSpace")
        if text:
            xdotool("type", "--delay", "20", text)
        if enter:
            xdotool("key", "Return")

    def start(self, timeout=10):
        """On the start screen: sets the time-out and starts the questionnaire."""
        self.type_into("Inactivity time-out in seconds", str(timeout))
        self.click("Start questionnaire")
        self.expect("Welcome")

    def tap_dot(self, number):
        self.tap(self.find(f"Page {number} of 7", "page tab"))

    def answer(self, answers, help=None):
        """Answers question i with answers[i] (None skips it), then the help question."""
        buttons = {n.name: n for n in wait(lambda: self.nodes(role="radio button"),
                                           "the answer buttons")}
        for q, choice in enumerate(answers, 1):
            if choice is not None:
                self.tap(buttons[f"Question {q}: {CHOICES[choice]}"])
        if help is not None:
            self.click("Yes, please" if help else "No, thanks", "radio button")

    def checked(self, name, role="radio button"):
        return self.find(name, role).getState().contains(pyatspi.STATE_CHECKED)

    # --- what is stored --------------------------------------------------------------------
    def rows(self):
        path = os.path.join(self.home, "Documents", "results.csv")
        if not os.path.exists(path):
            return None
        with open(path, newline="") as f:
            return list(csv.reader(f))

    def seed(self, **settings):
        """Writes settings into the store before launch, as an earlier run would have."""
        db = sqlite3.connect(os.path.join(self.home, "settings.sqlite3"))
        db.execute("CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY NOT NULL,"
                   " kind TEXT NOT NULL, value NOT NULL)")
        for key, value in settings.items():
            kind = "boolean" if isinstance(value, bool) else "integer"
            if key == "qn_start":
                kind = "date"
            db.execute("INSERT OR REPLACE INTO settings VALUES (?, ?, ?)", (key, kind, int(value)))
        db.commit()
        db.close()

    def setting(self, key):
        db = sqlite3.connect(f"file:{os.path.join(self.home, 'settings.sqlite3')}?mode=ro",
                             uri=True)
        try:
            row = db.execute("SELECT value FROM settings WHERE key = ?", (key,)).fetchone()
            return row and row[0]
        finally:
            db.close()

    def answers_stored(self):
        return [self.setting(f"qn_q_{q}") for q in range(1, 9)]


def row_ok(row, number, answers, help_wanted=False):
    """True when a results row holds session `number` with these answers."""
    score = sum(1 for a in answers if a is not None and a >= 2)
    expected = [str(number), row[1], str(score), "Y" if help_wanted else "N",
                *["" if a is None else str(a) for a in answers]]
    return row == expected and len(row[1]) == len("2013-04-02 14:05:09 +0000")


def run(scenarios, selected=()):
    """Runs the scenario functions (each takes nothing), prints one line per scenario and the
    closing tally, and returns the number that failed."""
    passed = failed = 0
    for scenario in scenarios:
        name = scenario.__name__
        if selected and name not in selected:
            continue
        began = time.monotonic()
        try:
            scenario()
            passed += 1
            print(f"PASS {name} ({time.monotonic() - began:.1f} s)", flush=True)
        except Exception as e:  # every failure is reported, the run goes on
            failed += 1
            print(f"FAIL {name} ({time.monotonic() - began:.1f} s): {type(e).__name__}: {e}",
                  flush=True)
    print(f"acceptance: {passed} passed, {failed} failed")
    return failed
