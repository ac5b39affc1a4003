#!/usr/bin/env python3
"""A long run of the real program: a sample cloud open, the view showing it
frame after frame, and an edit in the text box every second (a point line
typed, then taken away again). The program's resident memory is sampled
from /proc each second; after a warm-up it must stay flat.

    scripts/soak.py --vost build/app/vost --source . --out build/soak [--minutes 10]
"""

import argparse
import os
import shutil
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from vost_e2e import Failure, Session, is_red  # noqa: E402

WARM_UP_S = 60
# What the resident size may gain from the end of the warm-up to the end.
ALLOWED_GROWTH_KB = 8 * 1024


def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise RuntimeError("no VmRSS")


def red_pixels(s, view):
    gl = s.gl_client(view)
    shot = s.grab()
    return sum(1 for y in range(gl.y, gl.y + gl.h, 2) for x in range(gl.x, gl.x + gl.w, 2)
               if is_red(shot.pixel(x, y)))


def soak(args):
    sample = os.path.join(args.source, "samples", "torus_knot.xyz")
    with open(sample) as f:
        original = f.read()
    samples = []  # (seconds since start, RSS in kB)
    shutil.rmtree(os.path.join(args.out, "soak"), ignore_errors=True)
    with Session(args.vost, args.out, "soak") as s:
        s.open_via_menu(sample)
        view, _ = s.show_view()
        s.expect_memo(original, "opened", timeout=30)
        s.click_memo_end()
        pid = s.app.pid
        start = time.monotonic()
        end = start + args.minutes * 60
        edit = 0
        next_minute = 60
        while time.monotonic() < end:
            tick = time.monotonic()
            if not s.running():
                raise Failure(f"the program ended (exit code {s.app.returncode}) after "
                              f"{tick - start:.0f} s")
            # Even edits type a point line, odd ones take it away again.
            line = f"{edit // 2 % 40} {edit // 2 % 30} {edit // 2 % 20}"
            if edit % 2 == 0:
                s.type_text(line, delay=10)
                s.key("Return")
            else:
                s.key(*["BackSpace"] * (len(line) + 1))
            edit += 1
            samples.append((time.monotonic() - start, rss_kb(pid)))
            now = time.monotonic() - start
            if now >= next_minute and edit % 2 == 0:
                next_minute += 60
                minute = int(now // 60)
                recent = [kb for t, kb in samples if t >= now - 60]
                reds = red_pixels(s, view)
                print(f"minute {minute:2d}: RSS {statistics.median(recent) / 1024:.1f} MB, "
                      f"{edit} edits, {reds} red pixels in the view", flush=True)
                if not reds:
                    raise Failure("the view shows no points", s.screenshot("no-points"))
                # The edits arrive: the text is back to the file's.
                s.expect_memo(original, f"edits-minute-{minute}")
                s.click_memo_end()
            time.sleep(max(0.0, 1.0 - (time.monotonic() - tick)))
    return samples


def judge(samples, out):
    with open(os.path.join(out, "soak", "rss.csv"), "w") as f:
        f.write("seconds,rss_kb\n")
        f.writelines(f"{t:.1f},{kb}\n" for t, kb in samples)
    after = [kb for t, kb in samples if t >= WARM_UP_S]
    first = statistics.median(after[:60])
    last = statistics.median(after[-60:])
    # The least-squares slope over everything after the warm-up.
    ts = [t for t, _ in samples if t >= WARM_UP_S]
    mt, mk = statistics.fmean(ts), statistics.fmean(after)
    slope = sum((t - mt) * (k - mk) for t, k in zip(ts, after)) / sum((t - mt) ** 2 for t in ts)
    print(f"RSS: {samples[0][1] / 1024:.1f} MB at the start, {first / 1024:.1f} MB after the "
          f"warm-up, {last / 1024:.1f} MB in the last minute (max {max(after) / 1024:.1f} MB); "
          f"trend {slope * 60:.1f} kB per minute over {len(samples)} samples")
    if last - first > ALLOWED_GROWTH_KB:
        print(f"soak: the resident size grew by {(last - first) / 1024:.1f} MB after the "
              f"warm-up (allowed {ALLOWED_GROWTH_KB / 1024:.0f} MB)", file=sys.stderr)
        return 1
    return 0


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--vost", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--minutes", type=float, default=10)
    args = ap.parse_args()
    if args.minutes * 60 < WARM_UP_S + 120:
        ap.error("a soak needs at least three minutes")
    try:
        samples = soak(args)
    except Failure as f:
        print(f"soak: {f}", file=sys.stderr)
        return 1
    return judge(samples, args.out)


if __name__ == "__main__":
    sys.exit(main())
