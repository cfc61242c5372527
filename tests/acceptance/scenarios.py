"""The kiosk in real use: the real binary, a fresh home, real pointer input and real time.
Usage: scenarios.py [SCENARIO ...] inside scripts/acceptance.sh; QUORIN_SESSIONS sets the number
of sessions in `many_sessions` (20)."""
import contextlib, datetime, os, re, shlex, shutil, signal, sqlite3, subprocess, sys, tempfile, time

from kiosk import (BINARY, BUILD, CHOICES, HEADER, PAGES, ROOT, Failure, Kiosk, Skip, check,
                   children, desktop_portal, extents, on_screen, quietly, read, run, under, wait,
                   window_manager, write, xdotool)

FULL = [3, 2, 1, 0, 2, 2, 0, 1]  # score 4
SEVEN = [1, 2, 3, 0, 1, 2, 3, None]
PLEASE_COMPLETE = ("Please enter all eight questions on the screening tool to receive "
                   "accurate results.")
MORE_TIME = "\nWould you like more time?\n"
MORE_TIME_ES = "\n¿Necesita más tiempo?\n"
CONFIRM_RESTART = "Restart the screening tool?\n\nWarning, any progress will be lost."
WRITE_FAILED = "Error\nCould not write to csv file!"
NO_RESULTS = "Error\nThere are no results to export yet.\nSomeone must take the survey first."
WRONG_CODE = "Error\nIncorrect code.  Please try again."
UNSAVED = ("Error\nCould not save the answers to disk!\n\nThey are kept while the kiosk runs, "
           "but would be lost if it stopped. Please tell staff.")
NO_APPLICATION = ("Open File Error\nNo valid applications found.  Please install a spreadsheet "
                  "application, or plug in a USB drive to save the results on it.")
# {} is the command that sets the passcode, naming the kiosk's home.
DEFAULT_NOTICE = ("The export passcode is still the out-of-the-box code. Set this kiosk's own "
                  "with: {}")
UNUSABLE_NOTICE = ("The passcode file cannot be read, so the export is off. Set the passcode "
                   "again with: {}")
UNUSABLE = ("Error\nThe kiosk's passcode file cannot be read, so no code can be checked and the "
            "export is off.\n\nSet the passcode again with: {}")
LOCK = 8  # seconds, long enough for a busy machine to type a code meanwhile
LOCKED = f"Export Locked\nFive wrong codes in a row.\n\nThe export is locked for {LOCK} seconds."
STILL_LOCKED = "Export Locked\nThe export is locked after five wrong codes.\n\nTry again in {}."
SAVED = ("Results Saved\nThe results were saved to the USB drive \u201cSTICK\u201d as {}.\n\n"
         "You can take the drive out now.")
INCOMPLETE = ("Results Incomplete\nThe results were saved to the USB drive \u201cSTICK\u201d as {}, "
              "but the latest sessions may be missing: the kiosk could not add them to "
              "results.csv yet.\n\nSave the results again once the kiosk has added them.")
NOT_SAVED = "Not Saved\nThe USB drive \u201cSTICK\u201d "
UNREADABLE = ("Not Saved\nThe kiosk could not read its own results file, so nothing was saved to "
              "the USB drive \u201cSTICK\u201d.\n\nTry again. If this happens again, ask for "
              "support: the kiosk's storage may be failing.")
FULL_DRIVE = ("is full.\n\nThe results were not saved. Make room on it or use another drive, "
              "then try again.")
READ_ONLY = ("cannot be written to: it is read-only or its lock switch is on.\n\nThe results "
             "were not saved.")
REMOVED = ("was removed or stopped answering while the results were being saved.\n\nThe "
           "results were not saved. Plug it in again and try again.")
NOT_A_FOLDER = "not a folder"  # written where Documents should be: every write of a row fails
AID_ROLE = "check box"  # a checkable button, as a screen reader meets it

def started(timeout=300, **kwargs):
    """A launched kiosk with the questionnaire started; the time-out set on the start screen."""
    k = Kiosk(**kwargs).launch()
    k.start(timeout)
    return k

def to_questions(k, answers=(), help=None):
    k.tap_dot(5)
    k.expect("Questions")
    k.answer(answers, help)

def check_rows(k, *sessions):
    """results.csv holds the header and one row per (answers, help) in `sessions`."""
    rows = k.rows()
    check(rows is not None and ",".join(rows[0]) == HEADER, f"results.csv header: {rows}")
    check(len(rows) == len(sessions) + 1, f"{len(rows) - 1} rows, expected {len(sessions)}")
    for number, (row, (answers, help)) in enumerate(zip(rows[1:], sessions), 1):
        score = sum(1 for a in answers if a is not None and a >= 2)
        expected = [str(number), row[1], str(score), "Y" if help else "N",
                    *["" if a is None else str(a) for a in answers]]
        check(row == expected and len(row[1]) == len("2013-04-02 14:05:09 +0000"),
              f"row {number}: {row}")

def check_cleared(k, when="kept"):
    check(k.answers_stored() == [None] * 8, f"answers {when}: {k.answers_stored()}")

def finished_session(k, answers=FULL, help=True):
    """Answers everything, asks for the result and waits for the score page."""
    to_questions(k, answers, help)
    k.click("See my result")
    score = str(sum(1 for a in answers if a >= 2))
    # The question page's painted score box, as a screen reader meets it.
    wait(lambda: k.find("Your score").description == score, f"the score box to say {score}")
    k.expect("Your result", timeout=6)
    k.find(score, "label")

def done(k, answers, help=None, alerts=(), hold=0):
    """A session through to the score page by its dot, ended with "I'm done"."""
    to_questions(k, answers, help)
    k.tap_dot(6)
    k.expect("Your result")
    k.finish()
    k.expect("Welcome", alerts, hold=hold)

def timed_out(k, page, warning=MORE_TIME):
    """The time-out's warning shows over `page`, then the forced restart brings the title page
    with no alert left."""
    k.expect(page, [warning], timeout=12)
    # The restart comes an interval after the warning; relaying out pages in larger text on a busy
    # machine can take a few seconds more.
    k.expect("Welcome", [], timeout=20)

def questions_page():
    """Only the page on screen is reachable; with seven answers the score pages are refused by
    drag, dot and button, and nothing behind the alert can be pressed. An answer the store
    cannot write is said, kept and written with the next. "Start over" asks first."""
    with started() as k:
        check([w.name for w in children(k.app)] == ["Quorin"], "not one top-level window")
        reached = lambda: [n.name for n in under(k.app)
                           if n.name in PAGES and n.getRoleName() == "filler"]
        check(reached() == ["Welcome"], f"pages reached through the window: {reached()}")
        # A tap as a swipe settles, or as a dot's move runs, presses nothing on the passing page
        # and stops nothing half-way: the pages come to rest on one, whole.
        for move, page in ((lambda: k.drag(-500), "How it works"),
                           (lambda: k.tap_dot(5), "Questions")):  # answers pass under the tap
            move()
            xdotool("mousemove", 500, 400, "click", "1")
            wait(lambda: extents(k.find(page, "filler"))[0] == 0, f"{page} at rest, whole")
        check(k.answers_stored() == [None] * 8, f"answers: {k.answers_stored()}")
        k.tap_dot(1)
        k.expect("Welcome")
        k.find("Page 5 of 7", "page tab").queryAction().doAction(0)
        k.expect("Questions")
        check(reached() == ["Questions"], f"pages reached through the window: {reached()}")
        k.answer(SEVEN)
        for attempt in (lambda: k.drag(-500), lambda: k.tap_dot(6), lambda: k.tap_dot(7),
                        lambda: k.click("See my result")):
            attempt()
            k.expect("Questions", [PLEASE_COMPLETE], hold=0.5)
            # Nor can a screen reader press what the alert stands over (it offers no action).
            for name, role in ((f"Question 8: {CHOICES[0]}", "radio button"),
                               ("Page 1 of 7", "page tab")):
                node = k.find(name, role)
                quietly(lambda: node.queryAction().doAction(0))
            k.expect("Questions", [PLEASE_COMPLETE], hold=0.5)
            check(k.answers_stored()[7] is None, f"pressed behind the alert: {k.answers_stored()}")
            alert = k.alert_nodes()[0]
            unnamed = [n for n in under(alert) if n.getRoleName() == "label" and not n.name]
            check(alert.name == PLEASE_COMPLETE and not unnamed, f"the alert {alert.name!r}")
            k.dismiss("Questions", PLEASE_COMPLETE)
        db = sqlite3.connect(k.path("settings.sqlite3"), timeout=0, isolation_level=None)
        db.execute("BEGIN EXCLUSIVE")  # the kiosk's writes wait, then give up
        try:
            k.click(f"Question 1: {CHOICES[3]}", "radio button")
            k.expect("Questions", [UNSAVED], timeout=15)
            check(k.answers_stored()[0] == 1, "written through the lock?")
        finally:
            db.execute("ROLLBACK")
            db.close()
        k.press_alert("Close")
        shown = [c for c in CHOICES if k.checked(f"Question 1: {c}")]
        check(shown == [CHOICES[3]], f"question 1 shows {shown}")
        k.answer([None, 3])
        k.expect("Questions", [])
        check(k.answers_stored()[:2] == [3, 3], f"stored: {k.answers_stored()}")
        k.click("Start over")
        k.dismiss("Questions", CONFIRM_RESTART, "Cancel")
        check(k.answers_stored()[:2] == [3, 3], f"answers after Cancel: {k.answers_stored()}")
        check(k.checked(f"Question 1: {CHOICES[3]}"), "question 1's choice no longer shown")
        k.click("Start over")
        k.press_alert("Restart")
        k.expect("Welcome")
        check_cleared(k, "after Restart")
        to_questions(k)
        check(not k.checked(f"Question 1: {CHOICES[3]}"), "question 1 still shown as chosen")
        check(k.rows() is None, "an unfinished session was logged")

def time_outs():
    """Left answers never reach the next person; a complete session left anywhere is logged by
    the forced restart; an idle kiosk stays quiet. One warning at a time, "More Time" (tapped
    twice) gives a whole interval, and the restart closes every alert."""
    with started(10) as k:
        to_questions(k, [1, 2, 3])
        k.tap_dot(1)
        timed_out(k, "Welcome")
        check_cleared(k)
        to_questions(k, FULL)
        k.tap_dot(1)
        timed_out(k, "Welcome")
        check_rows(k, (FULL, False))
        k.expect("Welcome", [], hold=11)
        finished_session(k, FULL, False)
        timed_out(k, "Your result")
        check_rows(k, (FULL, False), (FULL, False))
        partial = [0, 3, 0, 0, 0, 0]
        to_questions(k, partial)
        began = time.monotonic()
        k.click("Start over")
        k.expect("Questions", [CONFIRM_RESTART])
        k.expect("Questions", [MORE_TIME], timeout=12)
        check(time.monotonic() - began > 8, "the warning came early")
        k.press_alert("More Time", taps=2)
        began = time.monotonic()
        k.expect("Questions", [])
        check(k.answers_stored() == partial + [None] * 2, f"answers: {k.answers_stored()}")
        k.expect("Questions", [MORE_TIME], timeout=12)
        check(time.monotonic() - began > 9, "More Time gave less than a whole interval")
        k.expect("Welcome", [], timeout=12)
        check_cleared(k)
        check(len(k.rows()) == 3, "an unfinished session was logged")

def write_failure():
    """An unusable documents folder: the alerts show and close at a touch with and without a
    window manager, SIGTERM still stops the kiosk, and the rows wait in the store until the
    folder is back."""
    k = Kiosk()
    k.seed(qn_start=1_700_000_000 * 10**9, qn_help_wanted=True,
           **{f"qn_q_{q}": a for q, a in enumerate(FULL, 1)})
    write(k.path("Documents"), NOT_A_FOLDER)
    k.launch().expect(None, [WRITE_FAILED])
    check(k.stop() is not None, "SIGTERM did not stop the kiosk with the alert open")
    for wm in (contextlib.nullcontext, window_manager):
        for args in (["--kiosk"], []):
            with wm(), Kiosk(k.home, args) as k:
                try:
                    k.dismiss(None, WRITE_FAILED)
                    k.start(300)
                    to_questions(k)
                    k.click("See my result")
                    k.dismiss("Questions", PLEASE_COMPLETE)
                    done(k, FULL, alerts=[WRITE_FAILED], hold=1)
                except Failure as e:
                    raise Failure(f"{wm.__name__} {args}: {e}") from None
    os.remove(k.path("Documents"))
    with Kiosk(k.home) as k:
        k.find("Start questionnaire")
        check(k.alerts() == [], f"alerts at launch: {k.alerts()}")
        check_rows(k, (FULL, True), *[(FULL, False)] * 4)

def notices(k):
    """The texts of the notices on the start screen."""
    return [n.name for n in k.nodes(role="label") if "passcode" in n.name or "locked" in n.name]

def passcodes():
    """Five wrong codes in a row lock the export for the time shown; a right one restarts the
    count. The keypad types both fields. The command the notice names stores only a hash (a
    mistyped one changes nothing); a damaged hash turns the export off. Enter pressed twice or
    held does not close, unread, the alert the first press brought."""
    with Kiosk(env={"QUORIN_LOCKOUT_SECONDS": str(LOCK)}) as k:
        command = f"quorin --home {k.home} --set-passcode"
        check(notices(k) == [DEFAULT_NOTICE.format(command)], f"notices: {notices(k)}")
        # A second kiosk on the same home would log its sessions twice: it does not start.
        second = subprocess.run([BINARY, "--home", k.home], capture_output=True, text=True,
                                timeout=10)
        check(second.returncode == 1 and "another kiosk is running" in second.stderr,
              f"a second kiosk on the home: {second.returncode} {second.stderr[-200:]}")
        # A screen reader meets an alert's title, its message and then its button, in that order.
        k.keypad("1111")
        k.expect(None, [WRONG_CODE])
        in_order = lambda node: [node] + [n for c in children(node) for n in in_order(c)]
        heard = [n.name for n in in_order(k.alert_nodes()[0])
                 if n.name and n.getRoleName() in ("label", "push button")]
        check(heard == WRONG_CODE.split("\n") + ["Close"], f"the alert read as {heard}")
        k.press_alert("Close")
        k.codes([("1111", WRONG_CODE)] * 3 + [("7395", NO_RESULTS)] + [("1111", WRONG_CODE)] * 4 +
                [("", WRONG_CODE)] * 2)
        before = time.monotonic()  # the lock begins between these two moments
        k.codes([("2222", LOCKED)])
        locked_at = time.monotonic()
        check(any("locked" in n for n in notices(k)), f"no lock shown: {notices(k)}")
        k.keypad("7395")
        left = LOCK - int(time.monotonic() - locked_at)
        alert = wait(lambda: k.alerts() and k.alerts()[0], "the alert")
        # The lock began before its alert was dismissed, by up to a second or two on a busy machine.
        check(alert in [STILL_LOCKED.format(f"{n} second" + "s" * (n != 1))
                        for n in range(max(1, left - 2), left + 2)], f"while locked: {alert!r}")
        k.press_alert("Close")
        wait(lambda: not any("locked" in n for n in notices(k)), "the lock to end", LOCK + 2)
        check(time.monotonic() - before > LOCK - 0.5, "the lock ended early")
        k.codes([("7395", NO_RESULTS)])
        for typed, alert in (("7395 ", WRONG_CODE), ("7395", NO_RESULTS)):
            k.codes([(typed, alert)], keyboard=True)
            left = k.find("Administrator passcode", "password text").queryText().characterCount
            check(left == 0, f"{left} characters left after {typed!r}")
        # Enter twice in quick succession: the second does not close, unread, the alert that the
        # first one brought.
        k.type_into("Administrator passcode", "7395")
        xdotool("key", "--delay", "40", "Return", "Return")
        k.expect(None, [NO_RESULTS], hold=1)
        k.dismiss(None, NO_RESULTS)
        # Nor does Enter held down, once it repeats.
        k.type_into("Administrator passcode", "7395")
        xdotool("keydown", "Return")
        time.sleep(1.5)
        xdotool("keyup", "Return")
        k.expect(None, [NO_RESULTS], hold=0.5)
        k.dismiss(None, NO_RESULTS)
        k.click("Inactivity time-out in seconds", "text")
        k.keypad("<<<<4<75")
        wait(lambda: k.setting("qn_timeout") == 75, "the time-out typed on the keypad stored")
        k.click("Administrator passcode", "password text")
        k.codes([("73950<", NO_RESULTS), ("7396", WRONG_CODE)])
    # A mistyped command line changes no passcode, neither there nor in the default home, and
    # says why at a terminal without a display as well (a kiosk started by mistake would fail);
    # so does a kiosk home that is a file.
    env = {n: v for n, v in os.environ.items()
           if n not in ("QUORIN_HOME", "DISPLAY", "WAYLAND_DISPLAY")}
    env["XDG_DATA_HOME"] = k.path("default")
    shown = shlex.split(command)[1:]
    for args, code, status in ((["--set-passcode", "--hom", k.home], "246810", 2),
                               (["--set-passcode", k.home], "246810", 2), (shown, "12a4", 2),
                               (["--home", "--set-passcode"], "246810", 2),
                               (["--home=", "--set-passcode"], "246810", 2),
                               (["--home", k.home, "--set-pascode"], "246810", 1),
                               (shown, "123", 2), (shown, "246810", 0),
                               (["--home", k.path("passcode")], "", 1)):
        done = subprocess.run([BINARY, *args], input=code + "\n", text=True,
                              capture_output=True, env=env, timeout=30)
        check(done.returncode == status and done.stderr.startswith("quorin: "),
              f"{args} {code!r}: {done.returncode}, not {status}: {done.stderr[-300:]}")
    check(not os.path.exists(k.path("default")), "a passcode set in the default home")
    stored = read(k.path("passcode"))
    check("246810" not in stored and stored.startswith("$argon2"), f"passcode file: {stored!r}")
    check(os.stat(k.path("passcode")).st_mode & 0o077 == 0, "the hash is readable by others")
    with Kiosk(k.home) as k:
        check(notices(k) == [], f"notices with an own passcode: {notices(k)}")
        k.codes([("7395", WRONG_CODE), ("2468100", WRONG_CODE), ("246810", NO_RESULTS)], True)
    write(k.path("passcode"), stored.replace("$argon2id$", "$argon9$"))
    with Kiosk(k.home) as k:
        check(notices(k) == [UNUSABLE_NOTICE.format(command)], f"notices: {notices(k)}")
        k.codes([("7395", UNUSABLE.format(command))])

# USB sticks carry vfat. A kernel without the vfat driver (some virtual machines) mounts the same
# image through FUSE (fusefat), so the kiosk still meets FAT's rules, only in user space.
KERNEL_VFAT = "\tvfat\n" in read("/proc/filesystems")

def mount_image(image, mount, read_only=False):
    command = (["mount", "-o", "loop,ro" if read_only else "loop", image, mount] if KERNEL_VFAT
               else ["fusefat", "-o", "ro" if read_only else "rw+", image, mount])
    if subprocess.run(command, capture_output=True).returncode:
        raise Skip(f"cannot mount a vfat image here ({command[0]})")

def umount(mount, *options):
    subprocess.run(["umount", *options, mount], check=not options, capture_output=True)

@contextlib.contextmanager
def usb_drive(home, size_kb=4096, read_only=False, full=False, files=None):
    """Yields (mount point, image): a vfat image mounted as <home>/media/STICK, holding `files`
    ({name: text})."""
    image, mount = os.path.join(home, "stick.img"), os.path.join(home, "media", "STICK")
    os.makedirs(mount, exist_ok=True)
    with open(image, "wb") as f:
        f.truncate(size_kb * 1024)
    subprocess.run(["mkfs.vfat", "-n", "STICK", image], check=True, capture_output=True)
    if full:  # until not one cluster is left after a sync
        mount_image(image, mount)
        for filler in range(4):
            subprocess.run(["dd", "if=/dev/zero", f"of={mount}/filler{filler}", "bs=512"],
                           capture_output=True)
            os.sync()
        umount(mount)
    mount_image(image, mount, read_only)
    for name, text in (files or {}).items():
        write(os.path.join(mount, name), text)
    try:
        yield mount, image
    finally:
        umount(mount, "-l")

def on_image(image, name):
    """The bytes of `name` on the image, read through a fresh mount; None when absent."""
    with tempfile.TemporaryDirectory() as look:
        mount_image(image, look, read_only=True)
        try:
            path = os.path.join(look, name)
            return open(path, "rb").read() if os.path.exists(path) else None
        finally:
            umount(look)

def usb_export():
    """The results go to the USB drive under the kiosk's safe name and the day's date, replacing
    the day's copy they extend and keeping one of other rows. Each way a drive fails says why,
    and nothing is taken for a copy or written where the drive was. Waiting sessions go in first,
    or the kiosk says the copy lacks them."""
    if os.geteuid() or not shutil.which("mkfs.vfat") or not (KERNEL_VFAT or
                                                              shutil.which("fusefat")):
        raise Skip("mounting a vfat image needs root, mkfs.vfat (dosfstools) and vfat or fusefat")
    shim = os.path.join(BUILD, "tests", "torture", "quorin_fault_shim.so")
    check(os.path.exists(shim), f"no fault shim at {shim}: build the target quorin_fault_shim")
    name = f"results-Ward-3-kiosk-{datetime.date.today():%Y-%m-%d}.csv"
    second, leftover = name[:-4] + "-2.csv", f".{name}.0123456789abcdef.tmp"
    results = HEADER + "\n1,2026-12-07 09:00:00 +0000,4,Y,3,2,1,0,2,2,0,1\n"
    other = HEADER + "\n7,2026-12-01 09:00:00 +0000,0,N,0,0,0,0,0,0,0,0\n"
    stop = lambda fn, n: {"QFAULT_FN": fn, "QFAULT_N": n, "QFAULT_DO": "stop"}
    cases = {  # drive, fault shim settings, what the kiosk says
        "saved": ({"files": {name: HEADER + "\n", leftover: "1,2026"}}, {}, SAVED.format(name)),
        "started again": ({"files": {name: other}}, {}, SAVED.format(second)),
        # a failing stick ends the earlier copy early: it must not pass for the start of this one
        "read cut short": ({"files": {name: other}},
                           {"QFAULT_FN": "read", "QFAULT_N": "1", "QFAULT_DO": "zero"},
                           SAVED.format(second)),
        "full": ({"size_kb": 2048, "full": True}, {}, NOT_SAVED + FULL_DRIVE),
        "read-only": ({"read_only": True}, {}, NOT_SAVED + READ_ONLY),
        "unmounted": ({}, stop("write", "1"), NOT_SAVED + REMOVED),
        # pulled out once the earlier copy was read: the copy must not go into the empty mount
        # folder on the kiosk's own disk
        "unmounted first": ({"files": {name: HEADER + "\n"}}, stop("read", "1"),
                            NOT_SAVED + REMOVED),
        # after the copy and its folder were synced: only reading it back can tell
        "unmounted late": ({}, stop("fsync", "2"), NOT_SAVED + REMOVED),
        "sync fails": ({}, {"QFAULT_FN": "fsync", "QFAULT_N": "1", "QFAULT_DO": "eio"},
                       NOT_SAVED + REMOVED),
        # a session waits in the store, and results.csv will not take it (every append's sync
        # fails)
        "sessions waiting": ({}, {"QFAULT_FN": "fdatasync", "QFAULT_N": "1", "QFAULT_DO": "eio",
                                  "QFAULT_PERSIST": "1", "QFAULT_PREFIX": "Documents"},
                             INCOMPLETE.format(name)),
        # the kiosk's own disk fails every read of results.csv: staff are told it is the kiosk's
        # file, not the drive
        "own file unreadable": ({}, {"QFAULT_FN": "read", "QFAULT_N": "1", "QFAULT_DO": "eio",
                                     "QFAULT_PERSIST": "1", "QFAULT_PREFIX": "Documents"},
                                UNREADABLE)}
    for case, (drive, fault, alert) in cases.items():
        home = Kiosk().home
        os.makedirs(os.path.join(home, "Documents"))
        write(os.path.join(home, "Documents", "results.csv"), results)
        waiting = case == "sessions waiting"
        if waiting:
            with contextlib.closing(sqlite3.connect(os.path.join(home, "settings.sqlite3"))) as db:
                with db:
                    db.execute("CREATE TABLE settings (key TEXT PRIMARY KEY NOT NULL, kind TEXT NOT"
                               " NULL, value NOT NULL)")
                    db.execute("INSERT INTO settings VALUES ('qn_pending_rows', 'text', ?)",
                               ("2,2026-12-07 10:00:00 +0000,0,N,0,0,0,0,0,0,0,0\n",))
        with usb_drive(home, **drive) as (mount, image):
            env = dict(fault, QUORIN_EXPORT_ROOT=os.path.dirname(mount),
                       QUORIN_KIOSK_NAME="Ward 3/kiosk")
            if fault:
                env.update(LD_PRELOAD=shim,
                           QFAULT_PREFIX=os.path.join(home, "Documents")
                           if fault.get("QFAULT_PREFIX") == "Documents" else mount)
            with Kiosk(home, env=env) as k:
                if waiting:  # the launch could not write it either
                    k.dismiss(None, WRITE_FAILED)
                k.keypad("7395")
                if fault.get("QFAULT_DO") == "stop":  # pulled out while the copy was written
                    stat = f"/proc/{k.proc.pid}/stat"
                    wait(lambda: read(stat).rsplit(")", 1)[1].split()[0] == "T", "the copy stopped")
                    subprocess.run(["umount", "-l", mount], check=True)
                    os.kill(k.proc.pid, signal.SIGCONT)
                    k.expect(None, [alert])
                    left = os.listdir(mount)
                    check(not left, f"{case}: written to the empty mount folder: {left}")
                try:
                    if waiting:  # the export's own try says so first
                        k.expect(None, [WRITE_FAILED, alert])
                    else:
                        k.dismiss(None, alert)
                except Failure as e:
                    raise Failure(f"{case}: {e}") from None
        # Unmounted late, the copy did reach the drive, but the kiosk could not confirm it.
        there = case in ("saved", "unmounted late", "sessions waiting")
        expected = {name: results if there else None, leftover: None}
        if case in ("started again", "read cut short"):
            expected = {name: other, second: results}
        if case == "unmounted first":  # the earlier copy stays as it was
            expected = {name: HEADER + "\n", leftover: None}
        for file, text in expected.items():
            copy = on_image(image, file)
            check(copy == (text and text.encode()), f"{case}: {file} on the drive: {copy!r}")
        shutil.rmtree(home)

def reading_aids():
    """Larger text and high contrast, switched on by touch and by a screen reader's action on the
    title page: its text grows half as large again, the screen turns dark, and the question page,
    now taller than the screen, scrolls up and down under a finger (also one put down on a
    choice, which it leaves unchosen) and still swipes sideways; the time-out's restart turns both
    off for the next person."""
    from PIL import ImageGrab  # Debian's python3-pil

    # The lightness of the screen's top left corner, the page's background.
    corner = lambda: ImageGrab.grab(xdisplay=os.environ["DISPLAY"]).convert("L").getpixel((6, 6))
    aids_on = lambda: [k.checked(aid, AID_ROLE) for aid in ("Larger text", "High contrast")]
    title = lambda: extents(k.find("Welcome", "label"))[3]
    with started(10) as k:
        height, light = title(), corner()
        k.click("Larger text", AID_ROLE)
        wait(lambda: title() >= 1.5 * height, "text half as large again")
        # As a screen reader's user turns it on: by its one action, which must do what a tap does.
        k.find("High contrast", AID_ROLE).queryAction().doAction(0)
        wait(lambda: corner() < 40 < light, f"a dark screen (was {light})")
        check(aids_on() == [True, True], f"aids shown as {aids_on()}")
        # The question page, now taller than the screen, follows a finger up.
        k.tap_dot(5)
        k.expect("Questions")
        top = extents(k.find("Question 1: Never", "radio button"))[1]
        x, y, w, h = extents(k.find("Question 3: Some days", "radio button"))
        k.drag(0, x=x + w // 2, y=y + h // 2, dy=-300)  # on a choice, which stays unchosen
        wait(lambda: extents(k.find("Question 2: Never", "radio button"))[1] < top,
             "the page scrolled by a drag on a choice")
        check(not k.checked("Question 3: Some days", "radio button"), "the choice taken")
        k.drag(500, y=700)  # and sideways to the page before, as always
        k.expect("Who made this check-in")
        # In either language the widest row stays clear of the scroll bar.
        home, title_page = "Page 1 of 7", "Welcome"
        for language, dots, page, score in (("Español", "Página {} de 7", "Preguntas",
                                             "Su puntuación"),
                                            ("English", "Page {} of 7", "Questions", "Your score")):
            k.click(home, "page tab")
            k.expect(title_page)  # a tap on pages still moving is taken for stopping them
            k.click(language, "radio button")
            k.click(dots.format(5), "page tab")
            k.expect(page)
            home, title_page = dots.format(1), "Bienvenida"
            nodes = under(k.app)  # the score box lies below the fold: seen across, not on screen
            bars = [extents(n)[0] for n in nodes if n.getRoleName() == "scroll bar"
                    and on_screen(n) and extents(n)[3] > extents(n)[2]]
            x, _, w, _ = extents(next(n for n in nodes if n.name == score))
            check(bars and x + w <= min(bars), f"{score} reaches {x + w}, the scroll bar {bars}")
        timed_out(k, "Questions")
        check(aids_on() == [False, False], f"aids after the restart: {aids_on()}")
        wait(lambda: title() == height and corner() == light, "the usual look back")
        k.expect("Welcome", [])

def read_aloud():
    """Read aloud reads the page the pages rest on, a tapped question alone, Spanish in Spanish;
    the control, a page turn and the restart stop it; alerts are read only to a listener; a long
    reading outlasts the time-out; a voice that fails or never starts takes its control away.
    Each word lasts a second, so every step is mid-sentence."""
    choices = "Never. Some days. Most days. Every day."
    one_question = re.compile(r"(\d)\. ([^.]+)\. " + re.escape(choices))
    said = lambda count: wait(lambda: k.speech()[count:] or None, "the voice asked to speak")
    stopped = lambda count, by: wait(lambda: k.speech()[count:] == [{"stop": True}],
                                     f"speech stopped by {by}: {k.speech()}")

    with started(10, env={"QUORIN_SPEECH_WORD_MS": "1000"}) as k:
        k.click("Read aloud", AID_ROLE)
        title = said(0)
        check(title[0].get("locale") == "en_US" and "Welcome." in title[0]["say"],
              f"the title page read as {title}")
        wait(lambda: k.checked("Read aloud", AID_ROLE), "the control shown on while speaking")
        check(k.log_lines('Read aloud is offered: the text-to-speech engine "recording" has '
                          'started'), "the voice's start not logged")
        k.tap_dot(2)
        k.expect("How it works")
        stopped(1, "turning the page")
        k.tap_dot(1)
        k.expect("Welcome")
        # Tapped as the strip moves off, it reads the page the strip comes to rest on.
        taps = []
        for name, role in (("Page 5 of 7", "page tab"), ("Read aloud", AID_ROLE)):
            x, y, w, h = extents(k.find(name, role))
            taps += ["mousemove", x + w // 2, y + h // 2, "click", "1"]
        xdotool(*taps)
        k.expect("Questions")
        text = said(2)[0]["say"]
        questions = one_question.findall(text)
        check([int(n) for n, _ in questions] == list(range(1, 9)),
              f"the question page read as {text!r}")
        for _, question in questions:
            k.find(question, "label")  # each read as it stands on the page
        k.answer([2])  # while it speaks
        wait(lambda: k.checked("Question 1: Most days"), "the answer taken while it speaks")
        check(k.speech()[3:] == [], f"answering while it spoke: {k.speech()[3:]}")
        k.tap(k.find("Felt down, low or sad", "label"))  # its answer said as chosen
        tapped = wait(lambda: k.speech()[3:] if len(k.speech()) >= 5 else None,
                      "the page's reading replaced")
        said_one = choices.replace("Most days.", "Most days, selected.")
        check(tapped == [{"stop": True}, {"say": f"1. Felt down, low or sad. {said_one}",
                                          "locale": "en_US"}], f"a tap on question 1 said {tapped}")
        # Pressed while speaking, through a screen reader: silence.
        k.find("Read aloud", AID_ROLE).queryAction().doAction(0)
        stopped(5, "its control")
        check(not k.checked("Read aloud", AID_ROLE), "the control still shown on")
        k.click("See my result")  # an alert to someone who listens is read out, until it goes
        check(said(6) == [{"say": PLEASE_COMPLETE + " Close.", "locale": "en_US"}],
              f"the alert read as {k.speech()[6:]}")
        k.dismiss("Questions", PLEASE_COMPLETE)
        stopped(7, "closing the alert")
        k.tap_dot(1)
        k.expect("Welcome")
        k.click("Español", "radio button")
        k.expect("Bienvenida")
        k.click("Leer en voz alta", AID_ROLE)
        spanish = said(8)[-1]
        check(spanish.get("locale") == "es_ES" and "Bienvenida." in spanish["say"],
              f"the title page in Spanish: {spanish}")
        count = len(k.speech())
        # A reading longer than the time-out is listened to, not cut off by the warning. Stopped,
        # the time-out's warning is read out (a whole time-out follows its reading); the restart
        # silences it and brings English back.
        k.expect("Bienvenida", [], hold=12)
        check(k.checked("Leer en voz alta", AID_ROLE) and k.speech()[count:] == [],
              f"a long reading cut off: {k.speech()[count:]}")
        k.click("Leer en voz alta", AID_ROLE)
        k.expect("Bienvenida", [MORE_TIME_ES], timeout=12)
        k.expect("Welcome", [], timeout=30)
        warning = {"say": "¿Necesita más tiempo? Empezar de nuevo. Más tiempo.", "locale": "es_ES"}
        check(k.speech()[count:count + 2] == [{"stop": True}, warning] and
              k.speech()[count + 2:] in ([], [{"stop": True}]),
              f"around the time-out: {k.speech()[count:]}")
        # Someone who only chose Spanish and listened on the title page walks away: an interval
        # later it is English again, and the next person, who has not listened, hears no alerts.
        k.click("Español", "radio button")
        k.click("Leer en voz alta", AID_ROLE)
        wait(lambda: k.checked("Leer en voz alta", AID_ROLE), "the title page read out")
        k.click("Leer en voz alta", AID_ROLE)
        k.expect("Welcome", [], timeout=15)
        k.find("Read aloud", AID_ROLE)
        count = len(k.speech())
        to_questions(k)
        k.click("See my result")
        k.dismiss("Questions", PLEASE_COMPLETE)
        check(k.speech()[count:] == [], f"an alert read to the next person: {k.speech()[count:]}")
    with started(10, env={"QUORIN_SPEECH_FAIL": "1"}) as k:
        k.find("Start the check-in")
        wait(lambda: k.nodes("Read aloud") == [], "a read-aloud control without a voice")
        check(k.log_lines('Read aloud is not offered: the text-to-speech engine "recording" did '
                          'not start'), "no reason logged for the missing voice")
    # Turned at once, before the voice reports speaking (speech-dispatcher's way), the page is
    # still silenced.
    with started(10, env={"QUORIN_SPEECH_START_MS": "2000"}) as k:
        k.click("Read aloud", AID_ROLE)
        said(0)
        k.tap_dot(2)
        k.expect("How it works", hold=3)
        check(k.speech()[1:] == [{"stop": True}] and not k.checked("Read aloud", AID_ROLE),
              f"a page that is gone read on: {k.speech()}")
    # A voice that never starts holds back no page (started() went through them); its control is
    # offered meanwhile, then taken away.
    with started(10, env={"QUORIN_SPEECH_HANG": "1"}) as k:
        k.find("Read aloud", AID_ROLE)
        wait(lambda: k.nodes("Read aloud") == [], "the control of a voice that did not start", 25)
        check(k.log_lines('engine "recording" did not start within 15 s'), "no reason logged")

def export():
    """The right code offers results.csv to the desktop (an empty one is no results); when
    nothing can open it, the alert names no other platform's program. An interface override that
    wires an action its screen does not have (the export without the passcode, here) is refused:
    the built-in screen is used."""
    k = Kiosk()
    fake, results = k.path("bin"), k.path("Documents", "results.csv")
    opener = os.path.join(fake, "xdg-open")
    for folder in (fake, k.path("Documents"), k.path("ui")):
        os.makedirs(folder)
    write(opener, '#!/bin/sh\necho "$1" >> "$0.calls"\nexit "$(cat "$0.status")"\n')
    os.chmod(opener, 0o755)
    start = read(os.path.join(ROOT, "resources", "ui", "Start.ui"))
    write(k.path("ui", "Start.ui"),
          start.replace("<string>startScreener:</string>", "<string>openDoc:</string>"))
    write(results, "")  # emptied by staff who took the rows away: nothing to offer
    with Kiosk(k.home, env={"PATH": fake + ":" + os.environ["PATH"]}) as k:
        k.type_into("Administrator passcode", "7395", enter=True)
        k.dismiss(None, NO_RESULTS)
        write(results, HEADER + "\n")
        # Without a portal, xdg-open's exit status decides; with one, the chooser's response
        # (a failed chooser falls back to xdg-open).
        for response, status, alerts in ((None, "0", []), (None, "3", [NO_APPLICATION]),
                                          (0, "3", []), (1, "3", []), (2, "0", []),
                                          (2, "3", [NO_APPLICATION])):
            write(opener + ".status", status)
            portal = contextlib.nullcontext([]) if response is None else desktop_portal(response)
            with portal as requests:
                k.type_into("Administrator passcode", "7395", enter=True)
                k.expect(None, alerts, hold=0.5)
                check(len(requests) == (response is not None), f"portal requests: {requests}")
            for _ in alerts:
                k.press_alert("Close")
        k.start(300)  # the override's action would export instead
        calls = read(opener + ".calls").split()
        check(calls == [results] * 4, f"opened {calls}")

CHOICES_ES = ["Nunca", "Algunos días", "Muchos días", "Todos los días"]

def languages():
    """Español by a touch mid-session: pages, page dots and alerts in Spanish, the answers given
    in English still chosen; the session logs the same row as the same answers in English; the
    next person, after "done", starts in English (after the time-out: read_aloud)."""
    spanish = lambda q, c: f"Pregunta {q}: {CHOICES_ES[c]}"
    with started() as k:
        to_questions(k, FULL[:3])
        k.tap_dot(1)
        k.expect("Welcome")
        check(k.checked("English") and not k.checked("Español"), "English not shown chosen")
        k.click("Español", "radio button")
        k.expect("Bienvenida")
        check(k.checked("Español") and not k.checked("English"), "Español not shown chosen")
        k.find("¿Cómo se ha sentido últimamente?", "label")
        k.click("Página 5 de 7", "page tab")
        k.expect("Preguntas")
        kept = [q for q, c in enumerate(FULL[:3], 1) if k.checked(spanish(q, c))]
        check(kept == [1, 2, 3], f"answers shown after the switch: {kept}")
        for q in range(4, 8):
            k.click(spanish(q, FULL[q - 1]), "radio button")
        k.click("Resultado")
        k.dismiss("Preguntas", "Responda las ocho preguntas del cuestionario para obtener un "
                  "resultado correcto.", "Cerrar")
        k.click(spanish(8, FULL[7]), "radio button")
        k.click("Sí, por favor", "radio button")
        k.click("Resultado")
        k.expect("Su resultado", timeout=6)
        k.finish("Terminé")
        k.expect("Welcome")
        check(k.checked("English"), "English not shown chosen for the next person")
        finished_session(k, FULL, True)
        k.finish()
        k.expect("Welcome")
        check_rows(k, (FULL, True), (FULL, True))

def many_sessions():
    """Sessions in a row: one through "See my result" and "I'm done" (the answers cleared), one
    ended on the practice page (a slow double tap took it there), then n through the score's
    dot; rows 1..n+2 right, no alert left over, memory flat."""
    n, second = int(os.environ.get("QUORIN_SESSIONS", "20")), SEVEN[:7] + [3]
    with started() as k:
        finished_session(k, FULL, True)
        k.finish()
        k.expect("Welcome")
        check_cleared(k)
        finished_session(k, second, False)
        # A slow double tap on the way to the exercise shows the exercise: the second tap, on the
        # practice page's "I'm done" that came under the finger, does not end the session.
        x, y = k.tap(k.find("Try a calming exercise"), taps=2, delay=400, at=(0.5, 0.15))
        k.expect("Practice", hold=1)
        bx, by, bw, bh = extents(k.find("I’m done"))
        check(bx <= x < bx + bw and by <= y < by + bh, "the second tap missed \"I'm done\"")
        k.finish()
        k.expect("Welcome", hold=1)  # an alert that comes late would show by then
        rss, sessions = [], [(FULL, True), (second, False)]
        for i in range(n):
            sessions.append(([(i + q) % 4 for q in range(8)], i % 2 == 0))
            done(k, *sessions[-1])
            status = read(f"/proc/{k.proc.pid}/status")
            rss.append(int(re.search(r"VmRSS:\s*(\d+)", status)[1]))
        check_rows(k, *sessions)
        print(f"  resident memory after 1 session {rss[0] / 1024:.1f} MB, after {n} "
              f"{rss[-1] / 1024:.1f} MB", flush=True)
        check(rss[-1] - rss[0] < 8 * 1024, f"memory grew from {rss[0]} kB to {rss[-1]} kB")

SCENARIOS = [languages, questions_page, export, passcodes, usb_export, write_failure, many_sessions,
             time_outs, reading_aids, read_aloud]

if __name__ == "__main__":
    sys.exit(1 if run(SCENARIOS, sys.argv[1:]) else 0)
