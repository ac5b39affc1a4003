#!/usr/bin/env python3
"""Writes the sample clouds next to this script (or into the directory given).

Every point lies within 45 units of the origin, so each cloud stays inside
the view's visible box (-50..50 along the shorter side and in depth) however
it is turned. Pure arithmetic, no randomness: the files come out the same on
every run, byte for byte.
"""

import math
import os
import sys


def fmt(v):
    # Adding 0.0 turns a rounded -0.0 into 0.0, so no "-0.0000" appears.
    return f"{round(v, 4) + 0.0:.4f}"


def write(path, points):
    with open(path, "w", newline="\n") as f:
        for x, y, z in points:
            f.write(f"{fmt(x)} {fmt(y)} {fmt(z)}\n")


def sphere_shell(n=1500, radius=40.0):
    """Evenly spread over a sphere: the golden-angle spiral."""
    golden = math.pi * (3.0 - math.sqrt(5.0))
    for i in range(n):
        y = 1.0 - 2.0 * (i + 0.5) / n
        r = math.sqrt(1.0 - y * y)
        a = golden * i
        yield radius * r * math.cos(a), radius * y, radius * r * math.sin(a)


def helix(n=1200, radius=25.0, turns=6.0, height=70.0):
    """A coil standing along y, so turning about y leaves its outline alone."""
    for i in range(n):
        t = i / (n - 1)
        a = 2.0 * math.pi * turns * t
        yield radius * math.cos(a), height * (t - 0.5), radius * math.sin(a)


def torus_knot(n=2000, p=2, q=3, big=28.0, small=12.0):
    """The (p, q) torus knot, the trefoil for (2, 3)."""
    for i in range(n):
        a = 2.0 * math.pi * i / n
        r = big + small * math.cos(q * a)
        yield r * math.cos(p * a), r * math.sin(p * a), small * math.sin(q * a)


SAMPLES = {
    "sphere_shell.xyz": sphere_shell,
    "helix.xyz": helix,
    "torus_knot.xyz": torus_knot,
}


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for name, make in SAMPLES.items():
        path = os.path.join(out, name)
        write(path, list(make()))
        print(path)


if __name__ == "__main__":
    main()
