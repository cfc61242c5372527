"""Looks at the installed kiosk running under the compositor, for deb_test.sh.
  kiosk_probe.py screen SHOT.ppm WIDTH HEIGHT   the screenshot is the whole portrait output,
                                                filled by the kiosk
  kiosk_probe.py changed BEFORE.ppm AFTER.ppm   the screen changed between two screenshots
  kiosk_probe.py ready PID WIDTH HEIGHT         over AT-SPI (DBUS_SESSION_BUS_ADDRESS): the window
                                                of kiosk PID fills the output and shows the start
                                                button
  kiosk_probe.py press PID WIDTH HEIGHT         pressing the start button brings the first page
Exits 1 with the reason when a check fails."""
import collections, sys, time

# The kiosk's background colour (app/platform/kiosk_style.hpp); where the kiosk does not cover
# the output, the compositor shows black.
BACKGROUND = bytes((0xF2, 0xF5, 0xF7))

def fail(reason):
    print(f"kiosk_probe: {reason}", file=sys.stderr)
    sys.exit(1)

def read_ppm(path):
    """(width, height, RGB bytes) of a binary PPM as grim writes it."""
    with open(path, "rb") as f:
        data = f.read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not data[pos:pos + 1].isspace():
            pos += 1
        fields.append(data[start:pos])
    if fields[0] != b"P6" or fields[3] != b"255":
        fail(f"{path} is not an 8-bit binary PPM")
    width, height = int(fields[1]), int(fields[2])
    return width, height, data[pos + 1:pos + 1 + 3 * width * height]

def pixel(pixels, width, x, y):
    i = 3 * (y * width + x)
    return pixels[i:i + 3]

def screen(path, want_width, want_height):
    width, height, pixels = read_ppm(path)
    if (width, height) != (want_width, want_height):
        fail(f"the screenshot is {width}x{height}, not {want_width}x{want_height}")
    edges = {
        "left edge": [pixel(pixels, width, 0, y) for y in range(height)],
        "right edge": [pixel(pixels, width, width - 1, y) for y in range(height)],
        "bottom edge": [pixel(pixels, width, x, height - 1) for x in range(width)],
    }
    for name, line in edges.items():
        share = line.count(BACKGROUND) / len(line)
        if share < 0.5:
            fail(f"the kiosk's background covers {share:.0%} of the screenshot's {name}")
    counts = collections.Counter(pixels[i:i + 3] for i in range(0, len(pixels), 3))
    colour, most = counts.most_common(1)[0]
    if most > 0.9 * width * height:
        fail(f"{most / (width * height):.0%} of the screenshot is one colour ({colour.hex()})")
    print(f"screenshot {width}x{height}, {len(counts)} colours, background at the edges")

def changed(before, after):
    w1, h1, a = read_ppm(before)
    w2, h2, b = read_ppm(after)
    if (w1, h1) != (w2, h2):
        fail(f"the screen changed size, {w1}x{h1} to {w2}x{h2}")
    differing = sum(a[i:i + 3] != b[i:i + 3] for i in range(0, len(a), 3))
    if differing < 0.05 * w1 * h1:
        fail(f"only {differing} pixels changed on screen after the start button")
    print(f"{differing} pixels changed on screen")

def wait(condition, what, timeout):
    end = time.monotonic() + timeout
    while True:
        try:
            value = condition()
        except Exception:  # an object went away while we looked
            value = None
        if value:
            return value
        if time.monotonic() > end:
            fail(f"waited {timeout} s for {what}")
        time.sleep(0.1)

class Kiosk:
    """The kiosk process `pid` over AT-SPI, on an output of width x height."""

    def __init__(self, pid, width, height):
        import pyatspi
        self.atspi, self.width, self.height = pyatspi, width, height
        # The kiosk joins the accessibility bus once the bus has been asked for: poll.
        self.app = wait(lambda: next((a for a in self.children(pyatspi.Registry.getDesktop(0))
                                      if a.get_process_id() == pid and a.childCount > 0), None),
                        "the kiosk on the accessibility bus", 30)

    @staticmethod
    def children(node):
        return [node.getChildAtIndex(i) for i in range(node.childCount)]

    def extents(self, node):
        e = node.queryComponent().getExtents(self.atspi.DESKTOP_COORDS)
        return e.x, e.y, e.width, e.height

    def controls(self, name, role):
        """The visible objects called `name` in `role`."""
        found, todo = [], [self.app]
        while todo:
            node = todo.pop()
            todo.extend(self.children(node))
            if node.name == name and node.getRoleName() == role:
                x, y, w, h = self.extents(node)
                if w > 0 and h > 0 and 0 <= x + w / 2 < self.width and 0 <= y + h / 2 < self.height:
                    found.append(node)
        return found

    def start_button(self):
        return wait(lambda: self.controls("Start questionnaire", "push button"),
                    "the start button", 10)[0]

def ready(kiosk):
    window = Kiosk.children(kiosk.app)[0]
    # The window may join the bus before the compositor's first configure has sized it.
    output = (kiosk.width, kiosk.height)
    end = time.monotonic() + 10
    while (size := tuple(kiosk.extents(window)[2:])) != output and time.monotonic() < end:
        time.sleep(0.1)
    if size != output:
        fail(f"the kiosk's window is {size}, the output {output}")
    kiosk.start_button()
    print(f"the kiosk's window fills the {kiosk.width}x{kiosk.height} output")

def press(kiosk):
    action = kiosk.start_button().queryAction()
    names = [action.getName(i) for i in range(action.nActions)]
    if "Press" not in names:
        fail(f"the start button offers {names}, not Press")
    action.doAction(names.index("Press"))

    def first_page():
        page = kiosk.controls("Welcome", "filler")
        return (page and kiosk.extents(page[0])[0] == 0
                and kiosk.extents(page[0])[2] == kiosk.width
                and kiosk.controls("Page 1 of 7", "page tab")
                and not kiosk.controls("Start questionnaire", "push button"))
    wait(first_page, "the first page across the screen after the start button", 10)
    print("start button pressed: the first page fills the screen")

if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "screen":
        screen(args[0], int(args[1]), int(args[2]))
    elif command == "changed":
        changed(args[0], args[1])
    elif command in ("ready", "press"):
        kiosk = Kiosk(int(args[0]), int(args[1]), int(args[2]))
        (ready if command == "ready" else press)(kiosk)
    else:
        fail(f"unknown command {command}")
