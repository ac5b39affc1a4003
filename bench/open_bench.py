#!/usr/bin/python3
# What the user sees, measured from outside: the real program on a private X
# server, keys sent as a person sends them, the screen polled until it shows
# their effect. Medians of three (one run of a file past 20M lines).
#   bench/open_bench.py VOST [FILE...]   (files of make_cloud's, the marker last)

import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import BUTTON, TEXT_BOX, PrivateDisplay, wait_for  # noqa: E402
from PIL import Image  # noqa: E402
from Xlib import X  # noqa: E402


def grab(s, window, box=None):
    # Through the driver's own connection: a screenshot tool's new connection
    # and whole-screen copy take some 60 ms, more than most figures here.
    # Of the root window, cut to the screen, as a window may reach past it.
    left, top, width, height = s.rect(window)
    x, y, w, h = box or (0, 0, width, height)
    screen = s.root.get_geometry()
    x0, y0 = max(left + x, 0), max(top + y, 0)
    w, h = min(left + x + w, screen.width) - x0, min(top + y + h, screen.height) - y0
    raw = s.root.get_image(x0, y0, w, h, X.ZPixmap, 0xFFFFFFFF).data
    return Image.frombytes("RGB", (w, h), raw, "raw", "BGRX")


def until(check, what):
    # Seconds from now until check() holds, polled every 2 ms.
    start = time.monotonic()
    give_up = start + 600
    while not check():
        if time.monotonic() > give_up:
            raise TimeoutError(f"waited 600 s for {what}")
        time.sleep(0.002)
    return time.monotonic() - start


def key_to_change(s, key, window, box=None):
    # Seconds from the key sent until the window's pixels change.
    before = grab(s, window, box).tobytes()
    start = time.monotonic()
    s.xdotool("key", key)
    until(lambda: grab(s, window, box).tobytes() != before, "the screen to change")
    return time.monotonic() - start


def measure(vost, path, out):
    with PrivateDisplay(vost, out) as s:
        control = s.find("control")
        s.click(control, *BUTTON)
        view = s.find("view")
        # Beside the control window, so that it hides none of the text box.
        s.xdotool("windowmove", "--sync", view.id, 780, 134)
        _, _, width, height = s.rect(view)
        scale = min(width, height) / 100
        marker = (int(width / 2 + 40 * scale) - 2, int(height / 2 - 40 * scale) - 2, 5, 5)
        dialog = s.open_dialog(control)
        s.type(path)
        start = time.monotonic()
        s.xdotool("key", "Return")
        opened = time.monotonic() - start + until(
            lambda: any(r > 128 and g < 64 for r, g, _ in grab(s, view, marker).getdata()), "the marker")
        s.gone(dialog)
        # A line typed at the end: its last key to its point, (44, 44, 0),
        # where the cloud leaves room; then the line taken out again.
        s.click_to_type(control, TEXT_BOX)
        point = (int(width / 2 + 44 * scale) - 2, int(height / 2 - 44 * scale) - 2, 5, 5)
        s.key("ctrl+End")
        s.type("44 44 ")
        line = key_to_change(s, "0", view, point)
        s.key(*["BackSpace"] * 7)
        # A key at the end of the last line and at the start of the first,
        # and a turn of the view.
        s.key("ctrl+End", "BackSpace")
        typed = {}
        for place in ("ctrl+End", "ctrl+Home"):
            s.key(place)
            typed[place] = []
            for key in ("1", "BackSpace") * 2:
                typed[place].append(key_to_change(s, key, control))
        turned = []
        s.click_to_type(view, (width // 2, height // 2))
        for key in ("Right", "Left") * 2:
            turned.append(key_to_change(s, key, view))
        with open(f"/proc/{s.app.pid}/status") as status:
            peak = next(int(f.split()[1]) for f in status if f.startswith("VmHWM")) / 1024
        return (opened, statistics.median(typed["ctrl+End"]), statistics.median(turned), line, peak,
                statistics.median(typed["ctrl+Home"]))


def cpu_seconds(pid):
    # User and system time of a process, its threads included.
    with open(f"/proc/{pid}/stat") as stat:
        fields = stat.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def idle_cpu(vost, path, out, seconds=10):
    # Shares of a core taken by the program and by the X server while a small
    # cloud is shown and nothing changes.
    with PrivateDisplay(vost, out) as s:
        control = s.find("control")
        s.open_file(control, path)
        s.click(control, *BUTTON)
        view = s.find("view")
        wait_for(lambda: s.reds(view), "the cloud", 60)
        time.sleep(2)
        pids = (s.app.pid, s.xvfb.pid)
        before = [cpu_seconds(pid) for pid in pids]
        time.sleep(seconds)
        return [(cpu_seconds(pid) - b) / seconds * 100 for pid, b in zip(pids, before)]


vost, files = sys.argv[1], sys.argv[2:]
out = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(vost))), "bench", "open-bench")
os.makedirs(out, exist_ok=True)
small = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "samples", "torus_knot.xyz")
program, server = idle_cpu(vost, os.path.abspath(small), out)
print(f"idle_cpu_program: {program:.0f} %", flush=True)
print(f"idle_cpu_x_server: {server:.1f} %", flush=True)
for path in files:
    lines = sum(1 for _ in open(path, "rb"))
    # Three runs, one of the largest files.
    runs = [measure(vost, os.path.abspath(path), out) for _ in range(3 if lines < 20_000_000 else 1)]
    for name, index, unit, factor in (("open_to_screen", 0, "s", 1),
                                      ("text_box_key_to_screen", 1, "ms", 1000),
                                      ("arrow_key_to_screen", 2, "ms", 1000),
                                      ("typed_line_to_its_point", 3, "ms", 1000),
                                      ("peak_memory_from_outside", 4, "MB", 1),
                                      ("text_box_key_at_start_to_screen", 5, "ms", 1000)):
        value = statistics.median(run[index] for run in runs) * factor
        print(f"{name}_{lines}_lines: {value:.{2 if unit == 's' else 0}f} {unit}", flush=True)
