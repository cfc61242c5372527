"""Looks at the installed kiosk running under the compositor, for deb_test.sh, with the acceptance
suite's kiosk.py beside it.
  kiosk_probe.py PID WIDTH HEIGHT
Over AT-SPI (DBUS_SESSION_BUS_ADDRESS) the window of kiosk PID fills the output and shows the start
button; a screenshot (grim, WAYLAND_DISPLAY) is the whole output, filled by the kiosk; pressing the
start button brings the first page. Exits 1 with the reason when a check fails."""
import os, subprocess, sys, time

from PIL import Image

import kiosk
from kiosk import Failure, check, children, extents, wait

# The kiosk's background colour (app/platform/kiosk_style.hpp); where the kiosk does not cover
# the output, the compositor shows black.
BACKGROUND = (0xF2, 0xF5, 0xF7)

def screen(width, height):
    """What is wrong with a screenshot of the output; None when the kiosk fills it."""
    path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "start.png")
    subprocess.run(["grim", path], check=True)
    shot = Image.open(path).convert("RGB")
    if shot.size != (width, height):
        return f"the screenshot is {shot.size}, not {width}x{height}"
    edges = {"left edge": [(0, y) for y in range(height)],
             "right edge": [(width - 1, y) for y in range(height)],
             "bottom edge": [(x, height - 1) for x in range(width)]}
    for name, points in edges.items():
        share = sum(shot.getpixel(p) == BACKGROUND for p in points) / len(points)
        if share < 0.5:
            return f"the kiosk's background covers {share:.0%} of the screenshot's {name}"
    most, colour = max(shot.getcolors(width * height))
    if most > 0.9 * width * height:
        return f"{most / (width * height):.0%} of the screenshot is one colour {colour}"

def main(pid, width, height):
    kiosk.W, kiosk.H = output = int(width), int(height)
    k = kiosk.Kiosk(home="/")  # launched by the compositor, not by us
    # The kiosk joins the accessibility bus once the bus has been asked for: poll.
    k.app = wait(lambda: kiosk.app_of(int(pid)), "the kiosk on the accessibility bus", 30)
    # The window may join the bus before the compositor's first configure has sized it.
    wait(lambda: tuple(extents(children(k.app)[0])[2:]) == output,
         f"the kiosk's window to fill the {output} output", 10)
    action = k.find("Start questionnaire", timeout=10).queryAction()
    for _ in range(5):  # the first frame may follow the window's appearance by a moment
        if not (problem := screen(*output)):
            break
        time.sleep(0.5)
    check(not problem, problem)
    names = [action.getName(i) for i in range(action.nActions)]
    check("Press" in names, f"the start button offers {names}, not Press")
    action.doAction(names.index("Press"))

    def first_page():
        page = k.page_now() == "Welcome" and k.nodes("Welcome", "filler")
        return (page and extents(page[0])[2] == kiosk.W and k.nodes("Page 1 of 7", "page tab")
                and not k.nodes("Start questionnaire"))
    wait(first_page, "the first page across the screen after the start button", 10)
    print(f"the kiosk fills the {output} output; its start button brings the first page")

if __name__ == "__main__":
    try:
        main(*sys.argv[1:])
    except Failure as e:
        sys.exit(f"kiosk_probe: {e}")
