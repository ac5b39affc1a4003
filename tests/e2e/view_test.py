#!/usr/bin/env python3
"""The view: where the points land, how the arrow keys turn them, what a
resize does, and the samples opened one after the other."""

import sys

from vost_e2e import (CONTROL_POS, CONTROL_SIZE, VIEW_POS, VIEW_SIZE, Failure, main, points_of,
                      read_cloud, text_of, turned, wait_for)

# Points on both sides of every axis; some beyond the shorter side's span
# but within the longer one's, some out of the window, some out in depth.
CLOUD = [
    "40 0 0",
    "0 30 0",
    "-30 -40 0",
    "-60 20 10",  # x beyond 50: only the wider side shows it
    "65 -10 -20",
    "0 0 45",
    "12.5 -7.25 3",
    "0 60 0",  # above the top edge
    "-20 20 70",  # in front of the near plane
    "20 -20 -70",  # behind the far plane
]


def opened(ctx, s, path, content):
    """Checks that the path field and the text box show the file."""
    s.expect_edit(path, "path-field")
    s.expect_memo(content, "text-box")


def projection(ctx):
    path = ctx.cloud_file("projection.xyz", CLOUD)
    with ctx.session() as s:
        control = s.control()
        if (control.x, control.y) != CONTROL_POS or (control.w, control.h) != CONTROL_SIZE:
            raise Failure(f"the control window is {control}, expected at {CONTROL_POS} with "
                          f"the size {CONTROL_SIZE}", s.screenshot("control-place"))
        # The view exists from the start, hidden until asked for.
        views = [w for w in s.x.windows() if w.name == "view"]
        if len(views) != 1 or views[0].mapped:
            raise Failure(f"expected one hidden window titled 'view' at the start, found "
                          f"{views}", s.screenshot("start"))
        s.open_via_menu(path)
        opened(ctx, s, path, text_of(CLOUD))
        view, gl = s.show_view()
        if (view.x, view.y) != VIEW_POS or (gl.w, gl.h) != VIEW_SIZE:
            raise Failure(f"the view is at {view.x},{view.y} with a client of {gl.w}x{gl.h}, "
                          f"expected {VIEW_POS} and {VIEW_SIZE}", s.screenshot("view-place"))
        s.expect_picture("first-frame", points_of(CLOUD), at_least=7)


def turning(ctx):
    path = ctx.cloud_file("turning.xyz", CLOUD)
    cloud = points_of(CLOUD)
    with ctx.session() as s:
        s.open_via_menu(path)
        view, _ = s.show_view()
        s.expect_picture("unturned", cloud)

        # A quarter turn to the right brings (40,0,0) to the middle column,
        # and what was out in depth comes into view at the side.
        keys = ["Right"] * 18
        s.key_to(view.id, *keys)
        s.expect_picture("right-90", cloud, turned(keys))

        more = ["Up"] * 6 + ["Left"] * 3 + ["Down"] * 2
        s.key_to(view.id, *more)
        keys += more
        s.expect_picture("right-90-up-30-left-15-down-10", cloud, turned(keys))

        # Any resize starts again from the unturned view, at the new shape:
        # taller than wide, so now x spans -50..50 and y more.
        s.xdotool("windowsize", view.id, 400, 500)
        if not wait_for(lambda: (s.view_windows()[1].w, s.view_windows()[1].h) == (400, 500),
                        15):
            raise Failure("the view's client did not follow the resize to 400x500",
                          s.screenshot("resize"))
        s.expect_picture("resized-400x500", cloud)

        keys = ["Down"] * 4
        s.key_to(view.id, *keys)
        s.expect_picture("resized-down-20", cloud, turned(keys))

        s.xdotool("windowsize", view.id, *VIEW_SIZE)
        if not wait_for(lambda: (s.view_windows()[1].w, s.view_windows()[1].h) == VIEW_SIZE,
                        15):
            raise Failure("the view's client did not follow the resize back",
                          s.screenshot("resize-back"))
        s.expect_picture("resized-back", cloud)


def samples(ctx):
    knot, helix = ctx.sample("torus_knot.xyz"), ctx.sample("helix.xyz")
    with ctx.session() as s:
        s.open_via_menu(knot)
        with open(knot) as f:
            opened(ctx, s, knot, f.read())
        s.show_view()
        s.expect_picture("torus-knot", read_cloud(knot), at_least=1000)

        # The second file takes the first one's place entirely; this time
        # through the keyboard shortcut.
        s.open_via_menu(helix, use_shortcut=True)
        with open(helix) as f:
            opened(ctx, s, helix, f.read())
        s.expect_picture("helix-replaces-knot", read_cloud(helix), at_least=1000)


if __name__ == "__main__":
    sys.exit(main([projection, turning, samples], "view"))
