#!/usr/bin/env python3
"""The windows' lives: the view hides and comes back, closing the control
window ends the program cleanly, and without OpenGL the program says so and
the control window still works."""

import sys
import time

from vost_e2e import Failure, is_red, main, points_of, text_of, wait_for

BASE = ["40 0 0", "0 30 0", "-30 -40 0"]


def expect_exit(s, label, timeout=20):
    code = s.exit_code(timeout)
    if code is None:
        raise Failure(f"{label}: the program still runs {timeout} s after its control window "
                      f"was closed", s.screenshot(label))
    if code != 0:
        raise Failure(f"{label}: the program ended with exit code {code}, expected 0 "
                      f"(its output is in the log next to the screenshots)")


def view_hides_and_returns(ctx):
    path = ctx.cloud_file("cloud.xyz", BASE)
    with ctx.session() as s:
        s.open_via_menu(path)
        view, _ = s.show_view()
        s.expect_picture("shown", points_of(BASE))

        s.x.request_close(view.id)
        if not s.gone(view.id, 10):
            raise Failure("closing the view did not hide it", s.screenshot("view-close"))
        time.sleep(0.5)
        if not s.running():
            raise Failure(f"closing the view ended the program (exit code {s.app.returncode})")
        if not s.visible("control"):
            raise Failure("closing the view took the control window too",
                          s.screenshot("control-gone"))

        # The text box still works with the view hidden, and the button
        # brings the view back with what was typed meanwhile.
        s.click_memo_end()
        s.type_text("-10 -10 0")
        lines = BASE + ["-10 -10 0"]
        s.expect_memo(text_of(lines)[:-1], "typed-while-hidden")
        s.show_view()
        s.expect_picture("shown-again", points_of(lines))


def quit_with_view_open(ctx):
    path = ctx.cloud_file("cloud.xyz", BASE)
    with ctx.session() as s:
        s.open_via_menu(path)
        s.show_view()
        s.expect_picture("shown", points_of(BASE))
        s.x.request_close(s.control().id)
        expect_exit(s, "quit-with-view")


def quit_at_once(ctx):
    with ctx.session() as s:
        s.x.request_close(s.control().id)
        expect_exit(s, "quit-at-once")


def without_opengl(ctx):
    path = ctx.cloud_file("cloud.xyz", BASE)
    with ctx.session(extra_env={"QT_XCB_GL_INTEGRATION": "none"}) as s:
        # The message comes first, before the control window, and waits.
        box = wait_for(s.report_boxes, 30, 0.05)
        if not box:
            raise Failure("no message box came up without OpenGL", s.screenshot("no-box"))
        box = box[0]
        if s.visible("control"):
            raise Failure("the control window showed before the message was answered",
                          s.screenshot("control-early"))
        time.sleep(1.0)
        if s.visible("control") or not s.report_boxes():
            raise Failure("the message did not wait for its answer", s.screenshot("no-wait"))
        if not s.wait_focus(box.id):
            raise Failure("the message box does not have the keyboard focus",
                          s.screenshot("box-focus"))
        s.key("Return")
        if not s.gone(box.id, 10):
            raise Failure("Return did not answer the message box", s.screenshot("box-stays"))

        s.control()
        s.open_via_menu(path)
        s.expect_edit(path, "path-field")
        s.expect_memo(text_of(BASE), "opened")
        s.click_memo_end()
        s.type_text("5 5 5")
        s.expect_memo(text_of(BASE + ["5 5 5"])[:-1], "typed")

        # The view comes up, with nothing drawn in it.
        s.press_button()
        view = s.find("view")
        time.sleep(1.5)
        shot = s.grab()
        gl = s.gl_client(view)
        reds = sum(1 for y in range(gl.y, gl.y + gl.h) for x in range(gl.x, gl.x + gl.w)
                   if is_red(shot.pixel(x, y)))
        path_shot = s.save(shot, "view-without-opengl")
        if reds:
            raise Failure(f"{reds} red pixels in the view without OpenGL", path_shot)
        others = s.report_boxes()
        if others:
            raise Failure(f"a further message came up: {others}", path_shot)

        s.x.request_close(s.control().id)
        expect_exit(s, "quit-without-opengl")


if __name__ == "__main__":
    sys.exit(main([view_hides_and_returns, quit_with_view_open, quit_at_once, without_opengl],
                  "windows"))
