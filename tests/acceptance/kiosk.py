"""Drives the real kiosk as a person does: real pointer events at controls found over AT-SPI, real
time, a fresh kiosk home per launch. Runs inside scripts/acceptance.sh's X display and D-Bus."""
import contextlib, csv, json, os, pathlib, shutil, sqlite3, subprocess, tempfile, threading, time

import pyatspi
from gi.repository import Gio, GLib

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BINARY = os.environ.get("QUORIN_BIN", os.path.join(ROOT, "build", "dev", "app", "quorin"))
BUILD = os.path.dirname(os.path.dirname(BINARY))
# The tests' text-to-speech engine, built beside the kiosk: it records what it is asked to say.
SPEECH_PLUGINS = os.environ.get("QUORIN_SPEECH_PLUGINS", os.path.join(BUILD, "tests", "speech"))
W, H = 768, 1024  # the screen; the deploy probe sets its output's
PAGES = ["Welcome", "How it works", "About this check-in", "Who made this check-in",
         "Questions", "Your result", "Practice"]
PAGES_ES = ["Bienvenida", "Cómo funciona", "Sobre este cuestionario",
            "Quién hizo este cuestionario", "Preguntas", "Su resultado", "Ejercicio"]
HEADER = "#,Start Date,Score,Wants Help,Q1,Q2,Q3,Q4,Q5,Q6,Q7,Q8"
CHOICES = ["Never", "Some days", "Most days", "Every day"]

class Failure(AssertionError):
    pass

class Skip(Exception):  # reported as SKIP, never as a pass
    pass

def check(condition, what):
    if not condition:
        raise Failure(what)

def quietly(f, default=None):
    """f(), or `default` when an object went away while we looked (an alert closing)."""
    try:
        return f()
    except Failure:
        raise
    except Exception:
        return default

def wait(condition, what, timeout=10.0):  # returns condition()'s first true value
    end = time.monotonic() + timeout
    while not (value := quietly(condition)):
        if time.monotonic() > end:
            raise Failure(f"waited {timeout:g} s for {what}")
        time.sleep(0.05)
    return value

def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True)

def children(node):
    return quietly(lambda: [node.getChildAtIndex(i) for i in range(node.childCount)], [])

def under(node):  # breadth first
    out, todo = [], children(node)
    while todo:
        out.append(todo.pop(0))
        todo.extend(children(out[-1]))
    return out

def write(path, text):
    pathlib.Path(path).write_text(text)

def read(path):
    return pathlib.Path(path).read_text()

def extents(node):
    e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    return e.x, e.y, e.width, e.height

def on_screen(node):
    x, y, w, h = quietly(lambda: extents(node), (0, 0, 0, 0))
    return w > 0 and h > 0 and 0 <= x + w / 2 < W and 0 <= y + h / 2 < H

def app_of(pid):
    """Process `pid` on the accessibility bus once it has a window, else None."""
    mine = lambda app: app.get_process_id() == pid and app.childCount > 0
    return next((a for a in children(pyatspi.Registry.getDesktop(0)) if quietly(lambda: mine(a))),
                None)

@contextlib.contextmanager
def window_manager():
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
def desktop_portal(response):
    """A desktop portal on the session bus whose file chooser ends every OpenFile request with
    `response` (0 opened, 1 cancelled, 2 failed); yields the list of requests seen."""
    requests, ready = [], threading.Event()
    loop = GLib.MainLoop(GLib.MainContext())

    def call(conn, sender, path, interface, method, params, invocation):
        token = params.unpack()[2].get("handle_token", "quorin")
        handle = f"/org/freedesktop/portal/desktop/request/{sender[1:].replace('.', '_')}/{token}"
        invocation.return_value(GLib.Variant("(o)", (handle,)))
        requests.append(response)
        conn.emit_signal(None, handle, "org.freedesktop.portal.Request", "Response",
                         GLib.Variant("(ua{sv})", (response, {})))

    def serve():
        loop.get_context().push_thread_default()
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
        loop.get_context().invoke_full(GLib.PRIORITY_DEFAULT, loop.quit)
        thread.join(5)

class Kiosk:
    """One kiosk process with its own home; use as a context manager."""

    def __init__(self, home=None, args=(), env=None):
        self.home = home or tempfile.mkdtemp(prefix="quorin-acceptance-")
        self.own_home = home is None
        self.args, self.env = list(args), env or {}
        self.proc = self.app = None
        self.arrived = 0.0  # when expect() last saw its page come to rest

    def path(self, *parts):
        return os.path.join(self.home, *parts)

    def launch(self):
        env = dict(os.environ, QUORIN_HOME=self.home, QT_QPA_PLATFORM="xcb",
                   QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_ACCESSIBILITY="1",
                   QT_PLUGIN_PATH=SPEECH_PLUGINS, QUORIN_SPEECH_ENGINE="recording",
                   QUORIN_SPEECH_RECORD=self.path("speech.jsonl"), **self.env)
        self.log = open(self.path("kiosk.log"), "ab")
        self.proc = subprocess.Popen([BINARY, *self.args], env=env, stdout=self.log,
                                     stderr=subprocess.STDOUT)

        def appeared():
            check(self.proc.poll() is None, f"the kiosk exited with {self.proc.returncode}")
            return app_of(self.proc.pid)
        self.app = wait(appeared, "the kiosk on the accessibility bus", 15)
        return self

    def stop(self):
        """Sends SIGTERM and returns the exit status, or None when the kiosk did not stop."""
        self.log.close()
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
                return None
        return self.proc.returncode

    def __enter__(self):
        return self if self.proc else self.launch()

    def __exit__(self, *exc):
        self.stop()
        if self.own_home and exc[0] is None:
            shutil.rmtree(self.home, ignore_errors=True)

    def log_lines(self, containing):
        return [line for line in read(self.path("kiosk.log")).splitlines() if containing in line]

    def nodes(self, name=None, role=None):
        """The kiosk's visible objects matching `name` and `role` (e.g. "push button")."""
        found, todo = [], [self.app]
        while todo:
            node = todo.pop()
            node_name, node_role = quietly(lambda: (node.name, node.getRoleName()), (None, None))
            # The pages off screen hold nothing visible: not walking them saves most of the walk.
            if node_role is None or (node_role == "filler" and node_name in PAGES + PAGES_ES
                                     and not on_screen(node)):
                continue
            todo.extend(reversed(children(node)))
            if name in (None, node_name) and role in (None, node_role) and on_screen(node):
                found.append(node)
        return found

    def find(self, name, role="push button", timeout=10.0):
        """The one visible control called `name`, waiting for it to appear."""
        def one():
            hits = self.nodes(name, role)
            check(len(hits) <= 1, f"{len(hits)} visible {role}s called {name!r}")
            return hits[0] if hits else None
        return wait(one, f"a visible {role} {name!r}", timeout)

    def page_now(self):
        """Name of the page filling the screen, or None (moving, or no pages shown)."""
        shown = [p for p in self.nodes(role="filler") if p.name in PAGES + PAGES_ES]
        rest = [p for p in shown if abs(extents(p)[0]) <= 1]
        return rest[0].name if len(shown) == 1 and rest else None

    def alert_nodes(self):
        """The alerts on screen: windows of their own, so children of the application."""
        showing = lambda n: n.getRoleName() == "alert" and n.getState().contains(
            pyatspi.STATE_SHOWING)
        return [node for node in children(self.app) if quietly(lambda: showing(node))]

    def alerts(self):
        """The texts of the alerts on screen, oldest first: the message, or title and message."""
        return ["\n".join(n.name for n in under(alert) if n.getRoleName() == "label" and n.name)
                for alert in self.alert_nodes()]

    def expect(self, page=None, alerts=(), timeout=10.0, hold=0):
        """Waits until `page` is shown with exactly `alerts` on screen; with `hold`, checks again
        that many seconds later (so that what comes late shows, and has no time to go again)."""
        state = lambda: (page is None or self.page_now() == page) and self.alerts() == list(alerts)
        for pause in (0, hold) if hold else (0,):
            time.sleep(pause)
            try:
                wait(state, "", min(timeout, 5) if pause else timeout)
                if page is not None and not pause:
                    self.arrived = time.monotonic()
            except Failure:
                seen = wait(lambda: (self.page_now(), self.alerts()), "a steady screen")
                raise Failure(f"expected page {page!r} with alerts {list(alerts)!r}, saw page "
                              f"{seen[0]!r} with alerts {seen[1]!r}") from None

    def dismiss(self, page, alert, button="Close"):
        """Waits for `alert` alone over `page`, presses `button` and sees it gone."""
        self.expect(page, [alert])
        self.press_alert(button)
        self.expect(page, [])

    def click(self, name, role="push button"):
        self.tap(self.find(name, role))

    def finish(self, name="I’m done"):
        """Taps a control that ends the session once its page has been seen, as a person does:
        the kiosk takes a tap in the first moment after a page arrives for a double tap's second."""
        time.sleep(max(0.0, self.arrived + 1.0 - time.monotonic()))
        self.click(name)

    def tap(self, node, taps=1, delay=150, at=(0.5, 0.5)):
        """Taps `node` at the fraction `at` of its width and height (the middle unless told)."""
        x, y, w, h = extents(node)
        # Moving onto the pointer's own position with --sync can stall: never use --sync.
        xdotool("mousemove", x + int(w * at[0]), y + int(h * at[1]), "click", "--repeat", taps,
                "--delay", delay, "1")
        return x + int(w * at[0]), y + int(h * at[1])

    def drag(self, dx, y=H // 2, dy=0, x=W // 2):
        """Drags a finger by `dx` across and `dy` down, in 12 steps, starting dx/2 left of x."""
        x0 = x - dx // 2
        xdotool("mousemove", x0, y, "mousedown", "1")
        for i in range(1, 13):
            time.sleep(0.02)
            xdotool("mousemove", x0 + dx * i // 12, y + dy * i // 12)
        time.sleep(0.05)
        xdotool("mouseup", "1")

    def press_alert(self, button, taps=1):
        node = wait(lambda: next((n for a in self.alert_nodes() for n in under(a)
                                  if n.name == button and n.getRoleName() == "push button"),
                                 None), f"an alert button {button!r}")
        # A window manager may still be placing the new window: tap where it has come to rest,
        # as a person would, not where it was first mapped.
        def settled():
            before = extents(node)
            time.sleep(0.1)
            return before == extents(node)
        wait(settled, f"the alert button {button!r} at rest", 3)
        self.tap(node, taps)

    def type_into(self, name, text, enter=False):
        self.click(name, "password text" if "passcode" in name.lower() else "text")
        xdotool("key", "ctrl+a", "BackSpace")
        if text:
            xdotool("type", "--delay", "20", text)
        if enter:
            xdotool("key", "Return")

    def keypad(self, digits, enter=True):
        """Taps `digits` on the start screen's keypad ("<" is its Delete key), then Enter."""
        for key in digits + ("\n" if enter else ""):
            self.click({"<": "Delete", "\n": "Enter"}.get(key, key))

    def codes(self, tries, keyboard=False):
        """Enters each (code, alert) of `tries` as a passcode and closes the alert it brings."""
        for code, alert in tries:
            if keyboard:
                self.type_into("Administrator passcode", code, enter=True)
            else:
                self.keypad(code)
            self.dismiss(None, alert)

    def start(self, timeout=10):
        """On the start screen: sets the time-out and starts the questionnaire."""
        self.type_into("Inactivity time-out in seconds", str(timeout))
        self.click("Start questionnaire")
        self.expect("Welcome")

    def tap_dot(self, number):
        self.click(f"Page {number} of 7", "page tab")

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

    def rows(self):
        """The rows of results.csv, header first; None without the file."""
        with contextlib.suppress(FileNotFoundError):
            return list(csv.reader(read(self.path("Documents", "results.csv")).splitlines()))

    def seed(self, **settings):
        """Writes settings into the store before launch, as an earlier run would have."""
        with contextlib.closing(sqlite3.connect(self.path("settings.sqlite3"))) as db, db:
            db.execute("CREATE TABLE IF NOT EXISTS settings (key TEXT PRIMARY KEY NOT NULL,"
                       " kind TEXT NOT NULL, value NOT NULL)")
            for key, value in settings.items():
                kind = "boolean" if isinstance(value, bool) else "integer"
                db.execute("INSERT OR REPLACE INTO settings VALUES (?, ?, ?)",
                           (key, "date" if key == "qn_start" else kind, int(value)))

    def setting(self, key):
        uri = f"file:{self.path('settings.sqlite3')}?mode=ro"
        with contextlib.closing(sqlite3.connect(uri, uri=True)) as db:
            row = db.execute("SELECT value FROM settings WHERE key = ?", (key,)).fetchone()
        return row and row[0]

    def answers_stored(self):
        return [self.setting(f"qn_q_{q}") for q in range(1, 9)]

    def speech(self):
        """What the kiosk asked its voice to do, oldest first: {"say": text, "locale": name} or
        {"stop": True}; a line not yet ended is left for the next look."""
        with contextlib.suppress(FileNotFoundError):
            return [json.loads(line) for line in read(self.path("speech.jsonl")).splitlines(True)
                    if line.endswith("\n")]
        return []

def run(scenarios, selected=()):
    """Runs the scenarios, one line each and a tally; returns the number that failed."""
    tally = {"PASS": 0, "FAIL": 0, "SKIP": 0}
    for scenario in (s for s in scenarios if not selected or s.__name__ in selected):
        began, outcome, why = time.monotonic(), "PASS", ""
        try:
            scenario()
        except Skip as e:
            outcome, why = "SKIP", f": {e}"
        except Exception as e:  # every failure is reported, the run goes on
            outcome, why = "FAIL", f": {type(e).__name__}: {e}"
        tally[outcome] += 1
        print(f"{outcome} {scenario.__name__} ({time.monotonic() - began:.1f} s){why}", flush=True)
    print(f"acceptance: {tally['PASS']} passed, {tally['FAIL']} failed, {tally['SKIP']} skipped")
    return tally["FAIL"]
