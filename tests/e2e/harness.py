# The real program on a private display, driven as a person drives it. On X:
# windows found and closed through Xlib (python3-xlib), keys and clicks
# through xdotool, screenshots through Pillow. On Wayland: through sway.

import io
import json
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time
from contextlib import ExitStack

from PIL import Image, ImageGrab
from Xlib import X, display, protocol

# Places in the control window (menu bar included): the File menu, and points
# in the path field, the text box and the button, far enough right that the
# view, where it first comes up, does not cover them.
FILE_MENU, PATH_FIELD, TEXT_BOX, BUTTON = (18, 9), (580, 79), (580, 133), (580, 231)
# Where the text box's lines are drawn: left, top, right and bottom.
TEXT_AREA = (18, 101, 560, 196)


class Failure(Exception): ...


class Skipped(Exception): ...


def stop(process):
    if process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


def wait_for(check, what, timeout=20):
    # Polls until check() gives something true and returns it.
    give_up = time.monotonic() + timeout
    while not (value := check()):
        if time.monotonic() > give_up:
            raise Failure(f"waited {timeout} s for {what}")
        time.sleep(0.05)
    return value


class Driver:
    # What the X and the Wayland drivers do alike. Each lists the windows
    # shown (a window to its title), gives their rects and grabs the screen.

    def __init__(self, vost, out, prefix="vost-e2e-", **settings):
        # The program on a display of its own. What is started is stopped at
        # the end, the last first; at once if the start fails.
        self.out, self.tmp, self.cleanup = out, tempfile.mkdtemp(prefix=prefix), ExitStack()
        self.cleanup.callback(shutil.rmtree, self.tmp, ignore_errors=True)
        with self.cleanup:
            self.begin(os.path.abspath(vost), **settings)
            self.cleanup = self.cleanup.pop_all()

    def start(self, args, **kw):
        # A process group of its own, so that nothing outlives the test.
        process = subprocess.Popen(args, start_new_session=True, **kw)
        self.cleanup.callback(stop, process)
        return process

    def __enter__(self):
        return self

    def __exit__(self, kind, *_):
        with self.cleanup:
            if kind is not None:  # the screen as the failure left it
                self.grab().save(os.path.join(self.out, "failure.png"))

    def find(self, title):
        return wait_for(lambda: next((w for w, name in self.shown().items() if name == title), None),
                        f"a window titled {title!r}")

    def gone(self, window):
        wait_for(lambda: window not in self.shown(), "a window to go")

    def reds(self, window):
        # Red pixels inside a window, in its coordinates.
        left, top, width, height = self.rect(window)
        image = self.grab().crop((left, top, left + width, top + height))
        return [(i % image.width, i // image.width) for i, (r, g, b, *_) in enumerate(image.getdata())
                if r > 128 and g < 64 and b < 64]

    def exit_code(self, closing=None):
        # The program's, once the window given is closed.
        if closing: self.close(closing)
        wait_for(lambda: self.app.poll() is not None, "the program to end")
        return self.app.returncode


class XDisplay(Driver):
    # The windows on an X display, driven through Xlib and xdotool.

    def __init__(self, name, env):
        self.display, self.env = name, env
        self.x = display.Display(name)
        self.root = self.x.screen().root

    def prop(self, window, name):
        return window.get_full_property(self.x.intern_atom(name), X.AnyPropertyType)

    def shown(self, parent=None):
        # The top-level windows shown, and their titles; under a window
        # manager, those in its frames (which have no title).
        out = {}
        for child in (parent or self.root).query_tree().children:
            try:
                name = child.get_full_text_property(self.x.intern_atom("_NET_WM_NAME")) or child.get_wm_name()
                if name is None and parent is None:
                    out.update(self.shown(child))
                elif name is not None and child.get_attributes().map_state == X.IsViewable:
                    out[child] = name
            except Exception:  # windows come and go while they are listed
                continue
        return out

    def rect(self, window):
        # x, y, width and height on the screen.
        geometry, at = window.get_geometry(), self.root.translate_coords(window, 0, 0)
        return at.x, at.y, geometry.width, geometry.height

    def frame(self, window):
        # The window's rect with the window manager's frame around it, once it has one.
        left, right, top, bottom = getattr(self.prop(window, "_NET_FRAME_EXTENTS"), "value", (0, 0, 0, 0))
        x, y, width, height = self.rect(window)
        return x - left, y - top, width + left + right, height + top + bottom

    def grab(self):
        return ImageGrab.grab(xdisplay=self.display)

    def focus(self):
        return getattr(self.x.get_input_focus().focus, "id", None)

    def close(self, window, goes=True):
        # What a window manager sends when its close button is pressed; the
        # window goes, unless it is to ask first.
        window.send_event(protocol.event.ClientMessage(
            window=window, client_type=self.x.intern_atom("WM_PROTOCOLS"),
            data=(32, [self.x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
        self.x.flush()
        if goes:
            self.gone(window)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=60)

    def at(self, window, x, y):
        # A place in the window, on the screen.
        left, top, _, _ = self.rect(window)
        return left + x, top + y

    def click(self, window, x, y):
        self.xdotool("mousemove", *self.at(window, x, y), "click", 1)

    def text_rows(self, window):
        # The middle of each line of text in the text box, in the window: rows
        # of dark pixels, one run of them a line.
        left, top, _, _ = self.rect(window)
        x0, y0, x1, y1 = TEXT_AREA
        image = self.grab().crop((left + x0, top + y0, left + x1, top + y1)).convert("L")
        runs = []
        for y in range(image.height):
            if min(image.crop((0, y, image.width, y + 1)).getdata()) >= 96:
                continue
            if runs and runs[-1][1] == y - 1:
                runs[-1][1] = y
            else:
                runs.append([y, y])
        return [y0 + (a + b) // 2 for a, b in runs]

    def click_to_type(self, window, place):
        # Without a window manager nothing gives a clicked window the keyboard;
        # it is given as one would.
        self.click(window, *place)
        if self.focus() != window.id:
            self.xdotool("windowfocus", "--sync", window.id)

    def type(self, text):
        self.xdotool("type", "--delay", 20, "--", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", 30, *keys)

    def open_dialog(self, control, shortcut=False):
        # By the shortcut where the path field has the keyboard, or through the menu.
        self.click_to_type(control, PATH_FIELD) if shortcut else self.click(control, *FILE_MENU)
        self.key(*(["ctrl+o"] if shortcut else ["Down", "Return"]))
        return self.message_box("Open")

    def open_file(self, control, path, shortcut=False):
        dialog = self.open_dialog(control, shortcut)
        self.type(path)
        self.key("Return")
        self.gone(dialog)

    def message_box(self, title="vost"):
        # A box that waits for its answer, and so has the keyboard.
        box = self.find(title)
        wait_for(lambda: self.focus() == box.id, f"{title!r} to take the keyboard")
        return box


class PrivateDisplay(XDisplay):
    # Xvfb of its own, a window manager if asked for, and the program on it
    # with a home of its own; its arguments follow the program's path.

    __init__ = Driver.__init__  # not XDisplay's, which takes a display that is there

    def begin(self, vost, env=None, window_manager=None, args=()):
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        self.xvfb = self.start(["Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten",
                                "tcp"], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        name = ":" + self.xvfb.stdout.readline().strip()
        clean = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_"))}
        XDisplay.__init__(self, name, dict(clean, DISPLAY=name, HOME=self.home, LIBGL_ALWAYS_SOFTWARE="1",
                                           QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.tmp, **(env or {})))
        if window_manager:
            self.start([window_manager], env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_for(lambda: self.prop(self.root, "_NET_SUPPORTING_WM_CHECK"), "the window manager")
        self.app = self.start([vost, *args], env=self.env, cwd=self.tmp, stdout=subprocess.DEVNULL,
                              stderr=open(os.path.join(self.out, "log.txt"), "a"))


class Wayland(Driver):
    # A headless sway with the program on it as a Wayland client, both run as
    # an unprivileged user when the tests run as root (sway refuses root):
    # windows found and closed through swaymsg, keys typed with wtype,
    # screenshots taken with grim. Sway's windows float, at their own sizes.
    # A window is known by its title.

    def begin(self, vost, args=()):
        if missing := [t for t in ("sway", "swaymsg", "wtype", "grim") if not shutil.which(t)]:
            raise Skipped(f"not installed: {', '.join(missing)} (scripts/setup.sh installs them)")
        config = os.path.join(self.tmp, "config")
        with open(config, "w") as f:
            f.write('output * resolution 1280x1024 background #000000 solid_color\n'
                    'for_window [title=".*"] floating enable\n')
        self.prefix = []
        if os.geteuid() == 0:
            try:
                user = pwd.getpwnam("vost-wayland")
            except KeyError:
                raise Skipped("no user vost-wayland to run sway as (scripts/setup.sh makes one)")
            # The folder is sway's runtime folder too, which must be its user's.
            # The program and the files it is given are copied into it: that
            # user may not reach them where they are (a build in a mode-700 folder).
            vost, *args = [shutil.copy(f, self.tmp) for f in (vost, *args)]
            subprocess.run(["chown", "-R", f"{user.pw_uid}:{user.pw_gid}", self.tmp], check=True)
            self.prefix = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups"]
            if subprocess.run(self.prefix + ["test", "-r", config]).returncode:
                raise Skipped(f"vost-wayland cannot enter {self.tmp}: TMPDIR must be a folder every user can enter")
        # Sway takes the path of its socket for commands from SWAYSOCK.
        self.env = {"PATH": "/usr/bin:/bin", "HOME": self.tmp, "XDG_RUNTIME_DIR": self.tmp,
                    "SWAYSOCK": os.path.join(self.tmp, "sway-ipc.sock"), "WLR_BACKENDS": "headless",
                    "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1"}
        log = open(os.path.join(self.out, "log.txt"), "a")
        sway = self.start(self.prefix + ["sway", "-c", config], env=self.env, stderr=log)

        def sockets():
            if sway.poll() is not None:
                raise Skipped(f"sway could not start here (its log is in {self.out}/log.txt)")
            return os.path.exists(self.env["SWAYSOCK"]) and [
                n for n in os.listdir(self.tmp) if n.startswith("wayland-") and "." not in n]
        self.env["WAYLAND_DISPLAY"] = wait_for(sockets, "sway's sockets")[0]
        self.app = self.start(self.prefix + [vost, *args], stderr=log,
                              env=dict(self.env, QT_QPA_PLATFORM="wayland", LIBGL_ALWAYS_SOFTWARE="1"))

    def run(self, *command):
        return subprocess.check_output(self.prefix + list(command), env=self.env, timeout=60)

    def rects(self):
        # Title to the client area on the screen, for the windows shown.
        out, nodes = {}, [json.loads(self.run("swaymsg", "-t", "get_tree"))]
        while nodes:
            node = nodes.pop()
            nodes += node.get("nodes", []) + node.get("floating_nodes", [])
            if node.get("pid") and node.get("visible"):
                outer, inner = node["rect"], node["window_rect"]
                out[node["name"]] = (outer["x"] + inner["x"], outer["y"] + inner["y"],
                                     inner["width"], inner["height"])
        return out

    def shown(self):
        return {title: title for title in self.rects()}

    def rect(self, title):
        return self.rects()[title]

    def grab(self):
        return Image.open(io.BytesIO(self.run("grim", "-t", "ppm", "-")))

    def close(self, title):
        self.run("swaymsg", f'[title="^{title}$"] kill')
        self.gone(title)

    def key(self, *keys):
        # Keys as xdotool names them ("shift+Tab"). Each wtype is a keyboard
        # of its own: pauses keep it there until the window has had its keys.
        words = []
        for key in keys:
            *held, name = key.split("+")
            words += [w for m in held for w in ("-M", m)] + ["-k", name] + [w for m in held for w in ("-m", m)]
        self.run("wtype", "-s", "200", *words, "-s", "300")
