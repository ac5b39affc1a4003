# The real program on a private X server, driven as a person drives it:
# windows found and closed through Xlib (python3-xlib), keys and clicks
# through xdotool, screenshots through Pillow.

import io
import json
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time

from PIL import Image, ImageGrab
from Xlib import X, display, protocol

# Places in the control window (menu bar included): the File menu, and points
# in the path field, the text box and the button, far enough right that the
# view, where it first comes up, does not cover them.
FILE_MENU, PATH_FIELD, TEXT_BOX, BUTTON = (18, 9), (580, 79), (580, 133), (580, 231)


class Failure(Exception):
    pass


def wait_for(check, what, timeout=20):
    # Polls until check() gives something true and returns it.
    give_up = time.monotonic() + timeout
    while not (value := check()):
        if time.monotonic() > give_up:
            raise Failure(f"waited {timeout} s for {what}")
        time.sleep(0.05)
    return value


def close(x, window):
    # What a window manager sends when its close button is pressed.
    window.send_event(protocol.event.ClientMessage(
        window=window, client_type=x.intern_atom("WM_PROTOCOLS"),
        data=(32, [x.intern_atom("WM_DELETE_WINDOW"), X.CurrentTime, 0, 0, 0])))
    x.flush()


def start(args, **kw):
    # A process group of its own, so that nothing outlives the test.
    return subprocess.Popen(args, start_new_session=True, **kw)


def reds_in(image):
    # Red pixels of a screenshot, in its coordinates.
    width = image.width
    return [(i % width, i // width) for i, (r, g, b, *_) in enumerate(image.getdata())
            if r > 128 and g < 64 and b < 64]


def exit_code(process):
    return wait_for(lambda: process.poll() is not None and (process.returncode,),
                    "the program to end")[0]


def stop(process):
    if process and process.poll() is None:
        os.killpg(process.pid, signal.SIGKILL)
        process.wait()


class XDisplay:
    # The windows on an X display, driven through Xlib and xdotool.

    def __init__(self, name, env):
        self.display, self.env, self.wm = name, env, None
        self.x = display.Display(name)
        self.root = self.x.screen().root

    def atom(self, name):
        return self.x.intern_atom(name)

    def windows(self, parent=None):
        # The top-level windows with their titles and whether they are shown;
        # under a window manager, those in its frames (which have no title).
        out = []
        for child in (parent or self.root).query_tree().children:
            try:
                name = child.get_full_property(self.atom("_NET_WM_NAME"), X.AnyPropertyType)
                name = name.value.decode() if name else child.get_wm_name()
                if name is not None:
                    out.append((child, name, child.get_attributes().map_state == X.IsViewable))
                elif parent is None:
                    out.extend(self.windows(child))
            except Exception:  # windows come and go while they are listed
                continue
        return out

    def find(self, title):
        return wait_for(lambda: next((w for w, name, shown in self.windows() if shown and
                                      name == title), None), f"a window titled {title!r}")

    def gone(self, window):
        wait_for(lambda: all(w != window or not shown for w, _, shown in self.windows()),
                 "a window to go")

    def rect(self, window):
        # x, y, width and height on the screen.
        geometry, at = window.get_geometry(), self.root.translate_coords(window, 0, 0)
        return at.x, at.y, geometry.width, geometry.height

    def focus(self):
        return getattr(self.x.get_input_focus().focus, "id", None)

    def close(self, window):
        close(self.x, window)

    def stacking(self):
        # The managed windows, bottom first, as the window manager keeps them.
        return list(self.root.get_full_property(self.atom("_NET_CLIENT_LIST_STACKING"),
                                                X.AnyPropertyType).value)

    def frame(self, window):
        # The window's rect with the window manager's frame around it.
        left, right, top, bottom = window.get_full_property(
            self.atom("_NET_FRAME_EXTENTS"), X.AnyPropertyType).value
        x, y, width, height = self.rect(window)
        return x - left, y - top, width + left + right, height + top + bottom

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env, check=True, timeout=60)

    def click(self, window, x, y):
        left, top, _, _ = self.rect(window)
        self.xdotool("mousemove", left + x, top + y, "click", 1)

    def click_to_type(self, window, place):
        # Without a window manager nothing gives a clicked window the keyboard;
        # it is given as one would.
        self.click(window, *place)
        if self.wm is None and self.focus() != window.id:
            self.xdotool("windowfocus", "--sync", window.id)

    def type(self, text):
        self.xdotool("type", "--delay", 20, "--", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", 30, *keys)

    def reds(self, window):
        # Red pixels inside a window, in its coordinates.
        left, top, width, height = self.rect(window)
        return reds_in(ImageGrab.grab((left, top, left + width, top + height), xdisplay=self.display))

    def open_dialog(self, control, shortcut=False):
        if shortcut:
            self.click_to_type(control, PATH_FIELD)
            self.key("ctrl+o")
        else:
            self.click(control, *FILE_MENU)
            self.key("Down", "Return")
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

    def __init__(self, vost, out, env=None, window_manager=None, args=(), prefix="vost-e2e-"):
        self.out, self.tmp = out, tempfile.mkdtemp(prefix=prefix)
        self.home = os.path.join(self.tmp, "home")
        os.makedirs(self.home)
        read, write = os.pipe()
        self.xvfb = start(["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24",
                           "-nolisten", "tcp"], pass_fds=(write,), stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as reply:
            name = ":" + reply.readline().strip()
        clean = {k: v for k, v in os.environ.items() if not k.startswith(("QT_", "XDG_"))}
        super().__init__(name, dict(clean, DISPLAY=name, HOME=self.home, LIBGL_ALWAYS_SOFTWARE="1",
                                    QT_QPA_PLATFORM="xcb", XDG_RUNTIME_DIR=self.tmp, **(env or {})))
        if window_manager:
            self.wm = start([window_manager], env=self.env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
            wait_for(lambda: self.root.get_full_property(self.atom("_NET_SUPPORTING_WM_CHECK"),
                                                         X.AnyPropertyType), "the window manager")
        self.app = start([os.path.abspath(vost), *args], env=self.env, cwd=self.tmp,
                         stdout=subprocess.DEVNULL, stderr=open(os.path.join(out, "log.txt"), "a"))

    def __enter__(self):
        return self

    def __exit__(self, kind, *_):
        if kind is not None:
            ImageGrab.grab(xdisplay=self.display).save(os.path.join(self.out, "failure.png"))
        for process in (self.app, self.wm):
            stop(process)
        self.x.close()
        stop(self.xvfb)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def exit_code(self):
        return exit_code(self.app)


class Skipped(Exception):
    pass


class Wayland:
    # A headless sway with the program on it as a Wayland client, both run as
    # an unprivileged user when the tests run as root (sway refuses root):
    # windows found and closed through swaymsg, keys typed with wtype,
    # screenshots taken with grim. Sway's windows float, at their own sizes.
    USER = "vost-wayland"

    def __init__(self, vost, out, args=()):
        self.out, self.tmp, self.prefix = out, tempfile.mkdtemp(prefix="vost-wayland-"), []
        self.sway = self.app = None
        try:
            self.start(vost, args)
        except BaseException:
            self.__exit__(None)
            raise

    def start(self, vost, args):
        out = self.out
        if missing := [t for t in ("sway", "swaymsg", "wtype", "grim") if not shutil.which(t)]:
            raise Skipped(f"not installed: {', '.join(missing)} (scripts/setup.sh installs them)")
        runtime = os.path.join(self.tmp, "runtime")
        os.makedirs(runtime, mode=0o700)
        if os.geteuid() == 0:
            try:
                user = pwd.getpwnam(self.USER)
            except KeyError:
                raise Skipped(f"no user {self.USER} to run sway as (scripts/setup.sh makes one)")
            os.chown(runtime, user.pw_uid, user.pw_gid)
            os.chmod(self.tmp, 0o755)
            self.prefix = ["setpriv", f"--reuid={user.pw_uid}", f"--regid={user.pw_gid}", "--clear-groups"]
        config = os.path.join(self.tmp, "config")
        with open(config, "w") as f:
            f.write('output * resolution 1280x1024 background #000000 solid_color\n'
                    'for_window [title=".*"] floating enable\n')
        self.env = {"PATH": "/usr/bin:/bin", "HOME": runtime, "XDG_RUNTIME_DIR": runtime,
                    "WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1"}
        log = open(os.path.join(out, "log.txt"), "a")
        self.sway = start(self.prefix + ["sway", "-c", config], env=self.env, stderr=log)

        def sockets():
            if self.sway.poll() is not None:
                raise Skipped(f"sway could not start here (its log is in {out}/log.txt)")
            names = os.listdir(runtime)
            return sum(n.startswith(("wayland-", "sway-ipc")) and not n.endswith(".lock")
                       for n in names) == 2 and names
        names = wait_for(sockets, "sway's sockets")
        self.env.update(WAYLAND_DISPLAY=next(n for n in names if n.startswith("wayland-") and "." not in n),
                        SWAYSOCK=os.path.join(runtime, next(n for n in names if n.startswith("sway-ipc"))))
        self.app = start(self.prefix + [os.path.abspath(vost), *args], stderr=log,
                         env=dict(self.env, QT_QPA_PLATFORM="wayland", LIBGL_ALWAYS_SOFTWARE="1"))

    def __enter__(self):
        return self

    def __exit__(self, kind, *_):
        if kind is Failure:
            with open(os.path.join(self.out, "failure.png"), "wb") as f:
                f.write(self.run("grim", "-"))
        for process in (self.app, self.sway):
            stop(process)
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run(self, *command):
        return subprocess.run(self.prefix + list(command), env=self.env, check=True, timeout=60,
                              stdout=subprocess.PIPE).stdout

    def windows(self):
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

    def find(self, title):
        wait_for(lambda: title in self.windows(), f"a window titled {title!r}")
        return title

    def gone(self, title):
        wait_for(lambda: title not in self.windows(), f"{title!r} to go")

    def rect(self, title):
        return self.windows()[title]

    def reds(self, title):
        left, top, width, height = self.rect(title)
        return reds_in(Image.open(io.BytesIO(self.run("grim", "-g", f"{left},{top} {width}x{height}", "-"))))

    def command(self, title, what):
        self.run("swaymsg", f'[title="^{title}$"] {what}')

    def key(self, *keys):
        # Keys as xdotool names them ("shift+Tab"). Each wtype is a keyboard
        # of its own: pauses keep it there until the window has had its keys.
        words = []
        for key in keys:
            *held, name = key.split("+")
            words += [w for m in held for w in ("-M", m)] + ["-k", name] + [w for m in held for w in ("-m", m)]
        self.run("wtype", "-s", "200", *words, "-s", "300")

    def exit_code(self):
        return exit_code(self.app)
