#!/usr/bin/python3
# What only the real program shows: the menu and the dialog (Qt's own, also
# under a desktop's platform theme), the button, closing the windows and their
# frames under a window manager, the exit code, the start without OpenGL, the
# report box that leaves the keyboard to the text box, no state left behind,
# the command line, editing in the text box and saving, and all of it that a
# Wayland desktop changes.

import os
import subprocess
import sys

from harness import BUTTON, TEXT_BOX, Failure, PrivateDisplay, Skipped, Wayland, wait_for

POINTS = ["40 0 0", "0 30 0", "-30 -40 0"]


def expect(actual, wanted, what):
    if actual != wanted:
        raise Failure(f"{what}: {actual!r}, expected {wanted!r}")


def expect_points(s, view, points):
    # A red pixel at each point, unturned, and none elsewhere.
    _, _, width, height = s.rect(view)
    scale = min(width, height) / 100
    places = [(width / 2 + float(x) * scale, height / 2 - float(y) * scale)
              for x, y, _ in map(str.split, points)]
    near = lambda a, b: abs(a[0] - b[0]) <= 2 and abs(a[1] - b[1]) <= 2
    wait_for(lambda: (reds := s.reds(view)) and all(any(near(r, p) for r in reds) for p in places)
             and all(any(near(r, p) for p in places) for r in reds), f"the view to show {points}")


def start(s, path):
    control = s.find("control")
    s.open_file(control, path)
    # A click on the button right after the dialog closes is not lost.
    s.click(control, *BUTTON)
    view = s.find("view")
    expect_points(s, view, POINTS)
    return control, view


def opening(s, path):
    control, _ = start(s, path)
    # The dialog by its shortcut, given a name that is no file, which is
    # reported in a box that takes the keyboard.
    s.open_file(control, os.path.join(os.path.dirname(path), "no such file.xyz"), shortcut=True)
    s.message_box()
    s.key("Return")
    # Nothing of it is kept once the program ends.
    expect(s.exit_code(closing=control), 0, "the exit code")
    expect(list(os.walk(s.home)), [(s.home, [], [])], "what the program left in its home and config home")


def closing(s, path):
    # Under a window manager, the descriptions' sizes are outer ones, its
    # frame inside them, and its close only hides the view.
    control, view = start(s, path)
    frames = (139, 134, 628, 312), (115, 160, 544, 375)
    wait_for(lambda: (s.frame(control), s.frame(view)) == frames, f"the frames {frames}")
    s.close(view)
    # A line typed half way is reported, the view hidden, in a box that
    # leaves the keyboard to the text box.
    s.click_to_type(control, TEXT_BOX)
    s.key("ctrl+End")
    s.type("1 2")
    box = s.find("vost")
    expect(s.focus(), control.id, "the window with the keyboard")
    s.type(" 3")
    s.close(box)
    s.click(control, *BUTTON)
    expect(s.find("view"), view, "the view shown again")
    expect_points(s, view, POINTS + ["1 2 3"])
    # Asked first, as the text has changed, and let go.
    s.close(control, goes=False)
    s.message_box()
    s.key("alt+d")
    expect(s.exit_code(), 0, "the exit code with the view open")


def editing(s, path):
    # Selected by the mouse and by keys, copied, pasted and typed over, and a
    # long line edited at its end, as Ctrl+S writes it; a close with changes
    # not saved asks first.
    long = "1 2 3" + " 4" * 500000
    with open(path, "a") as f:
        f.write(long + "\n")
    control = s.find("control")
    s.open_file(control, path)
    s.click_to_type(control, TEXT_BOX)
    s.key("ctrl+Home", "shift+End", "ctrl+c", "ctrl+End", "ctrl+v")
    rows = wait_for(lambda: (rows := s.text_rows(control)) and len(rows) >= 4 and rows, "the lines on screen")
    s.xdotool("mousemove", *s.at(control, 20, rows[0]), "click", "--repeat", 2, 1)
    s.type("41")
    s.xdotool("mousemove", *s.at(control, 18, rows[1]), "mousedown", 1,
              "mousemove", *s.at(control, 500, rows[1]), "mouseup", 1)
    s.type("5 5 5")
    s.key("ctrl+End", "Up", "End")
    s.type(" 9")
    s.key("ctrl+s")
    wanted = f"41 0 0\n5 5 5\n-30 -40 0\n{long} 9\n40 0 0"
    wait_for(lambda: open(path).read() == wanted, "the file saved")
    s.type("7")
    s.close(control, goes=False)
    s.message_box()
    s.key("alt+d")
    expect(s.exit_code(), 0, "the exit code after the changes were given up")
    expect(open(path).read(), wanted, "the file after changes given up")


def without_opengl(s, path):
    # The message comes while the view is made, before the control window.
    s.message_box()
    expect("control" in s.shown().values(), False, "the control window before the message was answered")
    s.key("Return")
    # The view shows, and takes keys, with nothing drawn.
    control = s.find("control")
    s.click(control, *BUTTON)
    view = s.find("view")
    s.click_to_type(view, (50, 50))
    s.key("Up", "Left", "Down", "Right")
    expect(s.reds(view), [], "red pixels without OpenGL")
    expect(s.exit_code(closing=control), 0, "the exit code")


def command_line(vost, out, path):
    # What it prints where, and its exit code, before any window.
    usage = "Usage: vost [FILE]\n"
    for args, code, stream, wanted in [(["--help"], 0, "stdout", usage), (["--version"], 0, "stdout", "vost 0.1"),
                                       (["--frobnicate"], 2, "stderr", usage), ([path, path], 2, "stderr", usage)]:
        run = subprocess.run([vost, *args], capture_output=True, text=True, timeout=60, env={})
        streams = {"stdout": run.stdout, "stderr": run.stderr}
        expect((run.returncode, wanted in streams.pop(stream), *streams.values()), (code, True, ""),
               f"vost {' '.join(args)}: exit code, {stream} and the other stream")
    # A file named opens at start-up; one that cannot be opened is reported
    # as from the menu, and the program goes on.
    with PrivateDisplay(vost, out, args=[path]) as s:
        s.click(s.find("control"), *BUTTON)
        expect_points(s, s.find("view"), POINTS)
    with PrivateDisplay(vost, out, args=[path + ".missing"]) as s:
        s.message_box()
        s.key("Return")
        expect(s.exit_code(closing=s.find("control")), 0, "the exit code after a file it could not open")


def wayland(vost, out, path):
    # Natively on Wayland: the points, a quarter turn, the view's close hiding
    # it and the button (which has the keyboard) showing it again, the end.
    with Wayland(vost, out, args=[path]) as s:
        s.find("control")
        s.key("shift+Tab", "space")
        expect_points(s, s.find("view"), POINTS)
        s.key(*["Right"] * 18)
        expect_points(s, "view", ["0 0 0", "0 30 0", "0 -40 0"])
        s.close("view")
        s.key("space")
        s.find("view")
        expect(s.exit_code(closing="control"), 0, "the exit code")


def on_x(group, **settings):
    # The group on a private X display of its own, set up so.
    def run(vost, out, path):
        with PrivateDisplay(vost, out, **settings) as s:
            group(s, path)
    return run


GROUPS = {"opening": on_x(opening), "opening_gtk3": on_x(opening, env={"QT_QPA_PLATFORMTHEME": "gtk3"}),
          "without_opengl": on_x(without_opengl, env={"QT_XCB_GL_INTEGRATION": "none"}),
          "closing": on_x(closing, window_manager="openbox"), "editing": on_x(editing),
          "command_line": command_line, "wayland": wayland}

if __name__ == "__main__":
    vost, out, group = sys.argv[1:]  # the program, a folder for what it leaves, a group
    os.makedirs(out, exist_ok=True)
    path = os.path.join(out, "cloud.xyz")
    with open(path, "w") as f:
        f.write("".join(p + "\n" for p in POINTS))
    try:
        GROUPS[group](vost, out, path)
    except Failure as failure:
        sys.exit(f"FAIL {group}: {failure} (screenshots in {out})")
    except Skipped as reason:
        print(f"SKIPPED {group}: {reason}")
        sys.exit(77)
