#!/usr/bin/python3
# What only the real program shows: the menu and the dialog, the button,
# closing the windows, the exit code, the start without OpenGL, and the report
# box that leaves the keyboard to the text box.

import argparse
import os
import sys

from harness import BUTTON, PATH_FIELD, TEXT_BOX, Failure, Session, wait_for

POINTS = ["40 0 0", "0 30 0", "-30 -40 0"]
TEXT = "".join(p + "\n" for p in POINTS)


def expect(actual, wanted, what):
    if actual != wanted:
        raise Failure(f"{what}: {actual!r}, expected {wanted!r}")


def expect_points(s, view, points):
    # A red pixel at each point, unturned, and none elsewhere.
    _, _, width, height = s.rect(view)
    scale = min(width, height) / 100
    places = [(width / 2 + float(x) * scale, height / 2 - float(y) * scale)
              for x, y, _ in (p.split() for p in points)]
    near = lambda a, b: abs(a[0] - b[0]) <= 2 and abs(a[1] - b[1]) <= 2

    def right():
        reds = s.reds(view)
        return (reds and all(any(near(r, p) for r in reds) for p in places) and
                all(any(near(r, p) for p in places) for r in reds))
    wait_for(right, f"the view to show {points}")


def start(s, path):
    control = s.find("control")
    s.open_file(control, path)
    # A click on the button right after the dialog closes is not lost.
    s.click(control, *BUTTON)
    view = s.find("view")
    expect_points(s, view, POINTS)
    return control, view


def opening(s, path):
    control = s.find("control")
    expect(s.rect(control), (139, 134, 628, 312), "the control window")
    expect([shown for _, name, shown in s.windows() if name == "view"], [False], "the view")
    control, view = start(s, path)
    expect(s.rect(view)[2:], (544, 375), "the view's size")
    expect(s.text_of(control, PATH_FIELD), path, "the path field")
    expect(s.text_of(control, TEXT_BOX), TEXT, "the text box")
    # Cancelled, the dialog changes nothing; a name that is no file shows,
    # the failure is reported, and the text stays.
    dialog = s.open_dialog(control, shortcut=True)
    s.key("Escape")
    s.gone(dialog)
    missing = os.path.join(os.path.dirname(path), "no such file.xyz")
    s.open_file(control, missing, shortcut=True)
    s.message_box()
    s.key("Return")
    expect(s.text_of(control, PATH_FIELD), missing, "the path field")
    expect(s.text_of(control, TEXT_BOX), TEXT, "the text box")


def closing(s, path):
    control, view = start(s, path)
    s.close(view)
    s.gone(view)
    s.click_to_type(control, TEXT_BOX)
    s.key("ctrl+End")
    s.type("-10 -10 0")
    s.click(control, *BUTTON)
    expect_points(s, s.find("view"), POINTS + ["-10 -10 0"])
    s.close(control)
    expect(s.exit_code(), 0, "the exit code with the view open")


def quit_at_once(s, path):
    s.close(s.find("control"))
    expect(s.exit_code(), 0, "the exit code")


def without_opengl(s, path):
    # The message comes while the view is made, before the control window.
    box = s.message_box()
    if any(shown for _, name, shown in s.windows() if name == "control"):
        raise Failure("the control window came before the message was answered")
    s.key("Return")
    s.gone(box)
    control = s.find("control")
    s.open_file(control, path)
    s.click_to_type(control, TEXT_BOX)
    s.key("ctrl+End")
    s.type("5 5 5")
    expect(s.text_of(control, TEXT_BOX), TEXT + "5 5 5", "the text box")
    s.click(control, *BUTTON)
    expect(s.reds(s.find("view")), [], "red pixels without OpenGL")
    s.close(control)
    expect(s.exit_code(), 0, "the exit code")


def report_keeps_keyboard(s, path):
    control, view = start(s, path)
    s.click_to_type(control, TEXT_BOX)
    s.key("ctrl+End")
    s.type("1 2")
    box = s.find("vost")
    expect(s.focus(), control.id, "the window with the keyboard")
    s.type(" 3")
    expect(s.text_of(control, TEXT_BOX), TEXT + "1 2 3", "the text box")
    s.close(box)
    s.gone(box)
    expect_points(s, view, POINTS + ["1 2 3"])


def no_state_left_behind(s, path):
    # Files opened through the dialog and the program ended: nothing is kept.
    control = s.find("control")
    s.open_file(control, path)
    dialog = s.open_dialog(control, shortcut=True)
    s.key("Escape")
    s.gone(dialog)
    s.close(control)
    expect(s.exit_code(), 0, "the exit code")
    kept = [os.path.join(top, name) for top, dirs, files in os.walk(s.home) for name in dirs + files]
    expect(kept, [], "what the program left in its home and config home")


def window_manager(s, path):
    # The descriptions' sizes are outer ones: the manager's frame is inside them.
    control = s.find("control")
    wait_for(lambda: s.frame(control) == (139, 134, 628, 312), "the control window's frame")
    control, view = start(s, path)
    wait_for(lambda: s.frame(view) == (115, 160, 544, 375), "the view's frame")
    # Covered by the control window, the view comes to the front on the button.
    s.click(control, 600, 250)
    wait_for(lambda: s.stacking()[-1] == control.id, "the control window on top")
    s.click(control, *BUTTON)
    wait_for(lambda: s.stacking()[-1] == view.id, "the view on top")
    # The manager's own close only hides the view.
    s.close_by_manager(view)
    s.gone(view)
    s.click(control, *BUTTON)
    expect_points(s, s.find("view"), POINTS)


GROUPS = {"opening": opening, "closing": closing, "quit_at_once": quit_at_once,
          "without_opengl": without_opengl, "report_keeps_keyboard": report_keeps_keyboard,
          "no_state_left_behind": no_state_left_behind, "window_manager": window_manager}
ENV = {"without_opengl": {"QT_XCB_GL_INTEGRATION": "none"}}

if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--vost", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--group", choices=GROUPS, required=True)
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    path = os.path.join(args.out, "cloud.xyz")
    with open(path, "w") as f:
        f.write(TEXT)
    try:
        with Session(args.vost, args.out, ENV.get(args.group),
                     "openbox" if args.group == "window_manager" else None) as s:
            GROUPS[args.group](s, path)
    except Failure as failure:
        sys.exit(f"FAIL {args.group}: {failure} (screenshots in {args.out})")
