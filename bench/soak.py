#!/usr/bin/python3
# Minutes of the real program: a sample open, the view drawing frame after
# frame, and an edit every second (a point line typed, then taken away). Its
# resident memory is sampled each second; what it gains after a minute's
# warm-up is the figure, which should be nothing.
#   bench/soak.py --vost build/app/vost --sample samples/torus_knot.xyz --out build/soak

import argparse
import os
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import BUTTON, TEXT_BOX, PrivateDisplay  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--vost", required=True)
parser.add_argument("--sample", required=True)
parser.add_argument("--out", required=True)
parser.add_argument("--minutes", type=float, default=10)
args = parser.parse_args()
os.makedirs(args.out, exist_ok=True)


def resident_kb(pid):
    with open(f"/proc/{pid}/status") as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:"))


with PrivateDisplay(args.vost, args.out) as s, open(os.path.join(args.out, "rss.csv"), "w") as log:
    control = s.find("control")
    s.open_file(control, os.path.abspath(args.sample))
    s.click(control, *BUTTON)
    s.find("view")
    s.click_to_type(control, TEXT_BOX)
    s.key("ctrl+End")
    start, warm, edit, kb = time.monotonic(), None, 0, 0
    while (elapsed := time.monotonic() - start) < args.minutes * 60:
        if s.app.poll() is not None:
            sys.exit(f"soak: the program ended after {elapsed:.0f} s")
        if edit % 2 == 0:
            s.type(f"\n{edit % 40} {edit % 30} {edit % 20}")
        else:
            s.key("shift+Home", "BackSpace", "BackSpace")
        edit += 1
        kb = resident_kb(s.app.pid)
        log.write(f"{elapsed:.1f},{kb}\n")
        warm = warm or (elapsed > 60 and kb)
        time.sleep(max(0.0, start + edit - time.monotonic()))
print(f"soak_edits: {edit} edits")
print(f"soak_memory_growth_after_warm_up: {(kb - (warm or kb)) / 1024:.1f} MB")
