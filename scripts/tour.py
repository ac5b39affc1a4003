#!/usr/bin/python3
# A short tour of the viewer on a virtual display, for a machine with no
# screen: opens a sample through the menu and the dialog from a folder under
# a temporary home, shows the view beside the control window, turns it, and
# leaves screenshots of both windows (both.png is the README's picture).
#   scripts/tour.py build/app/vost samples/torus_knot.xyz build/screenshots

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import BUTTON, PrivateDisplay, wait_for  # noqa: E402
from PIL import Image, ImageGrab  # noqa: E402

vost, sample, out = sys.argv[1:4]
os.makedirs(out, exist_ok=True)
with PrivateDisplay(vost, out, prefix="vost-tour-") as s:
    clouds = os.path.join(s.home, "clouds")
    os.makedirs(clouds)
    shutil.copy(sample, clouds)
    control = s.find("control")
    s.open_file(control, "~/clouds/" + os.path.basename(sample))
    s.click(control, *BUTTON)
    view = s.find("view")
    # Side by side, so that neither picture holds a piece of the other.
    s.xdotool("windowmove", "--sync", control.id, 24, 134)
    s.xdotool("windowmove", "--sync", view.id, 24 + s.rect(control)[2] + 12, 134)
    s.xdotool("key", "--window", view.id, "--delay", 150, *["Right"] * 6, *["Up"] * 4)
    wait_for(lambda: s.reds(view), "the cloud in the view")
    shots = []
    for window, name in ((control, "control"), (view, "view")):
        left, top, width, height = s.rect(window)
        shots.append(ImageGrab.grab((left, top, left + width, top + height), xdisplay=s.display))
        shots[-1].save(os.path.join(out, f"{name}.png"))
    both = Image.new("RGB", (shots[0].width + 12 + shots[1].width, max(i.height for i in shots)),
                     "white")
    both.paste(shots[0], (0, 0))
    both.paste(shots[1], (shots[0].width + 12, 0))
    both.save(os.path.join(out, "both.png"))
    s.close(control)
    if s.exit_code() != 0:
        sys.exit("tour: the program did not end with exit code 0")
print(f"tour: opened {sample} as ~/clouds/, turned the view; screenshots in {out}: control, view, both")
