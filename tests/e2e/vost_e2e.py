"""Shared helpers for the end-to-end tests: a private X server, the viewer
running on it, input through xdotool, screenshots through ImageMagick's
`import`, and the few X requests xdotool lacks (window list, clipboard, a
window manager's close request), made through libX11 with ctypes so that
nothing beyond the Debian packages the project already needs is required.
"""

import argparse
import ctypes
import ctypes.util
import math
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import traceback
import zlib

SCREEN_W, SCREEN_H = 1280, 1024

# The places the windows are created at, and the view's client size.
CONTROL_POS = (139, 134)
CONTROL_SIZE = (628, 312)
VIEW_POS = (115, 160)
VIEW_SIZE = (544, 375)

# Half the visible span along the view's shorter side, and the depth bound.
HALF_SPAN = 50.0

# Within the control window: the menu bar's height, then the client area's
# components at their places in the form's description.
MENU_BAR_H = 19
GROUP_POS = (8, 32)
EDIT_RECT = (8, 16, 585, 24)
MEMO_RECT = (8, 48, 585, 113)
BUTTON_RECT = (8, 168, 585, 25)
# The view covers the control window left of this column; clicks go right of it.
EXPOSED_X = VIEW_POS[0] + VIEW_SIZE[0] + 20


class Failure(Exception):
    """A check that did not hold; names the screenshot that shows it."""

    def __init__(self, message, shot=None):
        super().__init__(message)
        self.shot = shot

    def __str__(self):
        text = super().__str__()
        return f"{text}\n    screenshot: {self.shot}" if self.shot else text


class Inconclusive(Exception):
    """The machine was too busy for the check to mean anything either way."""


SKIPPED = 77  # what ctest is told to count as skipped


def wait_for(predicate, timeout, interval=0.1):
    """Polls until predicate() returns something true; returns it, or None at the deadline."""
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() >= deadline:
            return None
        time.sleep(interval)


# ---------------------------------------------------------------- libX11

_Window = ctypes.c_ulong
_Atom = ctypes.c_ulong


class _XWindowAttributes(ctypes.Structure):
    _fields_ = [
        ("x", ctypes.c_int), ("y", ctypes.c_int),
        ("width", ctypes.c_int), ("height", ctypes.c_int),
        ("border_width", ctypes.c_int), ("depth", ctypes.c_int),
        ("visual", ctypes.c_void_p), ("root", _Window),
        ("c_class", ctypes.c_int), ("bit_gravity", ctypes.c_int),
        ("win_gravity", ctypes.c_int), ("backing_store", ctypes.c_int),
        ("backing_planes", ctypes.c_ulong), ("backing_pixel", ctypes.c_ulong),
        ("save_under", ctypes.c_int), ("colormap", ctypes.c_ulong),
        ("map_installed", ctypes.c_int), ("map_state", ctypes.c_int),
        ("all_event_masks", ctypes.c_long), ("your_event_mask", ctypes.c_long),
        ("do_not_propagate_mask", ctypes.c_long), ("override_redirect", ctypes.c_int),
        ("screen", ctypes.c_void_p),
    ]


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p), ("window", _Window), ("message_type", _Atom),
        ("format", ctypes.c_int), ("l", ctypes.c_long * 5),
    ]


class _XSelectionEvent(ctypes.Structure):
    _fields_ = [
        ("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
        ("display", ctypes.c_void_p), ("requestor", _Window), ("selection", _Atom),
        ("target", _Atom), ("property", _Atom), ("time", ctypes.c_ulong),
    ]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", _XClientMessageEvent),
                ("xselection", _XSelectionEvent), ("pad", ctypes.c_long * 24)]


_IS_VIEWABLE = 2
_CLIENT_MESSAGE = 33
_SELECTION_NOTIFY = 31


def _load_xlib():
    lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
    p = ctypes.POINTER
    sig = {
        "XOpenDisplay": (ctypes.c_void_p, [ctypes.c_char_p]),
        "XCloseDisplay": (ctypes.c_int, [ctypes.c_void_p]),
        "XDefaultRootWindow": (_Window, [ctypes.c_void_p]),
        "XQueryTree": (ctypes.c_int, [ctypes.c_void_p, _Window, p(_Window), p(_Window),
                                      p(p(_Window)), p(ctypes.c_uint)]),
        "XFree": (ctypes.c_int, [ctypes.c_void_p]),
        "XGetWindowAttributes": (ctypes.c_int, [ctypes.c_void_p, _Window,
                                                p(_XWindowAttributes)]),
        "XInternAtom": (_Atom, [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]),
        "XGetWindowProperty": (ctypes.c_int, [ctypes.c_void_p, _Window, _Atom, ctypes.c_long,
                                              ctypes.c_long, ctypes.c_int, _Atom, p(_Atom),
                                              p(ctypes.c_int), p(ctypes.c_ulong),
                                              p(ctypes.c_ulong), p(ctypes.c_void_p)]),
        "XSendEvent": (ctypes.c_int, [ctypes.c_void_p, _Window, ctypes.c_int, ctypes.c_long,
                                      p(_XEvent)]),
        "XSync": (ctypes.c_int, [ctypes.c_void_p, ctypes.c_int]),
        "XGetInputFocus": (ctypes.c_int, [ctypes.c_void_p, p(_Window), p(ctypes.c_int)]),
        "XCreateSimpleWindow": (_Window, [ctypes.c_void_p, _Window, ctypes.c_int, ctypes.c_int,
                                          ctypes.c_uint, ctypes.c_uint, ctypes.c_uint,
                                          ctypes.c_ulong, ctypes.c_ulong]),
        "XConvertSelection": (ctypes.c_int, [ctypes.c_void_p, _Atom, _Atom, _Atom, _Window,
                                             ctypes.c_ulong]),
        "XGetSelectionOwner": (_Window, [ctypes.c_void_p, _Atom]),
        "XSetSelectionOwner": (ctypes.c_int, [ctypes.c_void_p, _Atom, _Window, ctypes.c_ulong]),
        "XPending": (ctypes.c_int, [ctypes.c_void_p]),
        "XNextEvent": (ctypes.c_int, [ctypes.c_void_p, p(_XEvent)]),
        "XSetErrorHandler": (ctypes.c_void_p, [ctypes.c_void_p]),
        "XAutoRepeatOff": (ctypes.c_int, [ctypes.c_void_p]),
    }
    for name, (res, args) in sig.items():
        fn = getattr(lib, name)
        fn.restype, fn.argtypes = res, args
    return lib


_ERROR_HANDLER_TYPE = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
# Windows come and go while they are listed; their errors are expected, and
# Xlib's default handler would end the test.
_ignore_errors = _ERROR_HANDLER_TYPE(lambda display, event: 0)


class Win:
    def __init__(self, wid, name, mapped, x, y, w, h, types):
        self.id, self.name, self.mapped = wid, name, mapped
        self.x, self.y, self.w, self.h = x, y, w, h
        self.types = types

    @property
    def rect(self):
        return (self.x, self.y, self.w, self.h)

    def __repr__(self):
        state = "mapped" if self.mapped else "unmapped"
        return f"<0x{self.id:x} {self.name!r} {self.w}x{self.h}+{self.x}+{self.y} {state}>"


class XConnection:
    def __init__(self, display):
        self.lib = _load_xlib()
        self.lib.XSetErrorHandler(ctypes.cast(_ignore_errors, ctypes.c_void_p))
        self.dpy = self.lib.XOpenDisplay(display.encode())
        if not self.dpy:
            raise RuntimeError(f"cannot open display {display}")
        self.root = self.lib.XDefaultRootWindow(self.dpy)
        self._atoms = {}
        self._requestor = None

    def close(self):
        if self.dpy:
            self.lib.XCloseDisplay(self.dpy)
            self.dpy = None

    def atom(self, name):
        if name not in self._atoms:
            self._atoms[name] = self.lib.XInternAtom(self.dpy, name.encode(), 0)
        return self._atoms[name]

    def _property(self, wid, prop, req_type=0):
        actual, fmt = _Atom(), ctypes.c_int()
        nitems, after = ctypes.c_ulong(), ctypes.c_ulong()
        data = ctypes.c_void_p()
        ok = self.lib.XGetWindowProperty(self.dpy, wid, prop, 0, 1 << 20, 0, req_type,
                                         ctypes.byref(actual), ctypes.byref(fmt),
                                         ctypes.byref(nitems), ctypes.byref(after),
                                         ctypes.byref(data))
        if ok != 0 or not data.value:
            return None, None
        try:
            n = nitems.value
            if fmt.value == 8:
                return ctypes.string_at(data.value, n), fmt.value
            if fmt.value == 32:  # Xlib hands 32-bit items over as longs
                return list((ctypes.c_ulong * n).from_address(data.value)), fmt.value
            return None, None
        finally:
            self.lib.XFree(data)

    def _name(self, wid):
        raw, _ = self._property(wid, self.atom("_NET_WM_NAME"))
        if raw is None:
            raw, _ = self._property(wid, self.atom("WM_NAME"))
        return raw.decode("utf-8", "replace") if raw is not None else ""

    def _children(self, wid):
        root, parent = _Window(), _Window()
        children = ctypes.POINTER(_Window)()
        n = ctypes.c_uint()
        if not self.lib.XQueryTree(self.dpy, wid, ctypes.byref(root), ctypes.byref(parent),
                                   ctypes.byref(children), ctypes.byref(n)):
            return []
        try:
            return [children[i] for i in range(n.value)]
        finally:
            if children:
                self.lib.XFree(children)

    def _describe(self, wid, origin=(0, 0)):
        attrs = _XWindowAttributes()
        if not self.lib.XGetWindowAttributes(self.dpy, wid, ctypes.byref(attrs)):
            return None
        types, _ = self._property(wid, self.atom("_NET_WM_WINDOW_TYPE"))
        names = set()
        for a in types or []:
            names.add(self._atom_name(a))
        return Win(wid, self._name(wid), attrs.map_state == _IS_VIEWABLE,
                   origin[0] + attrs.x, origin[1] + attrs.y, attrs.width, attrs.height, names)

    def _atom_name(self, a):
        for k, v in self._atoms.items():
            if v == a:
                return k
        # Only the window types are asked for; look the few up once.
        for k in ("_NET_WM_WINDOW_TYPE_DIALOG", "_NET_WM_WINDOW_TYPE_NORMAL",
                  "_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                  "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_COMBO"):
            if self.atom(k) == a:
                return k
        return str(a)

    def windows(self):
        """Top-level windows, bottom of the stack first."""
        self.lib.XSync(self.dpy, 0)
        out = []
        for wid in self._children(self.root):
            w = self._describe(wid)
            if w:
                out.append(w)
        return out

    def children(self, parent):
        return [c for c in (self._describe(w, (parent.x, parent.y))
                            for w in self._children(parent.id)) if c]

    def focus(self):
        wid, revert = _Window(), ctypes.c_int()
        self.lib.XGetInputFocus(self.dpy, ctypes.byref(wid), ctypes.byref(revert))
        return wid.value

    def request_close(self, wid):
        """What a window manager sends when its close button is pressed."""
        ev = _XEvent()
        ev.xclient.type = _CLIENT_MESSAGE
        ev.xclient.window = wid
        ev.xclient.message_type = self.atom("WM_PROTOCOLS")
        ev.xclient.format = 32
        ev.xclient.l[0] = self.atom("WM_DELETE_WINDOW")
        ev.xclient.l[1] = 0
        self.lib.XSendEvent(self.dpy, wid, 0, 0, ctypes.byref(ev))
        self.lib.XSync(self.dpy, 0)

    def clear_clipboard(self):
        """Leaves the clipboard without an owner, so a copy that does not
        happen cannot pass for one that did."""
        self.lib.XSetSelectionOwner(self.dpy, self.atom("CLIPBOARD"), 0, 0)
        self.lib.XSync(self.dpy, 0)

    def clipboard_owned(self):
        return bool(self.lib.XGetSelectionOwner(self.dpy, self.atom("CLIPBOARD")))

    def clipboard(self, timeout=5.0):
        """The CLIPBOARD selection as text, or None when nobody answers."""
        sel = self.atom("CLIPBOARD")
        if not self.lib.XGetSelectionOwner(self.dpy, sel):
            return None
        if self._requestor is None:
            self._requestor = self.lib.XCreateSimpleWindow(self.dpy, self.root, 0, 0, 1, 1,
                                                           0, 0, 0)
        prop = self.atom("VOST_E2E_CLIP")
        self.lib.XConvertSelection(self.dpy, sel, self.atom("UTF8_STRING"), prop,
                                   self._requestor, 0)
        self.lib.XSync(self.dpy, 0)
        deadline = time.monotonic() + timeout
        ev = _XEvent()
        while time.monotonic() < deadline:
            while self.lib.XPending(self.dpy):
                self.lib.XNextEvent(self.dpy, ctypes.byref(ev))
                if ev.type == _SELECTION_NOTIFY and ev.xselection.requestor == self._requestor:
                    if ev.xselection.property == 0:
                        return None
                    raw, _ = self._property(self._requestor, prop)
                    return raw.decode("utf-8", "replace") if raw is not None else ""
            time.sleep(0.02)
        return None


# ---------------------------------------------------------------- images

class Shot:
    """A screenshot of the whole screen as RGB bytes."""

    def __init__(self, width, height, data):
        self.w, self.h, self.data = width, height, data

    @classmethod
    def from_ppm(cls, raw):
        # P6 header: magic, width, height, maxval, each after whitespace.
        fields, pos = [], 0
        while len(fields) < 4:
            while raw[pos:pos + 1].isspace():
                pos += 1
            if raw[pos:pos + 1] == b"#":
                pos = raw.index(b"\n", pos)
                continue
            start = pos
            while not raw[pos:pos + 1].isspace():
                pos += 1
            fields.append(raw[start:pos])
        if fields[0] != b"P6" or int(fields[3]) != 255:
            raise ValueError("unexpected screenshot format")
        w, h = int(fields[1]), int(fields[2])
        data = raw[pos + 1:pos + 1 + w * h * 3]
        if len(data) != w * h * 3:
            raise ValueError("short screenshot")
        return cls(w, h, data)

    def pixel(self, x, y):
        i = (y * self.w + x) * 3
        return tuple(self.data[i:i + 3])

    def row(self, y, x0, x1):
        return self.data[(y * self.w + x0) * 3:(y * self.w + x1) * 3]

    def save_png(self, path):
        raw = bytearray()
        stride = self.w * 3
        for y in range(self.h):
            raw.append(0)
            raw += self.data[y * stride:(y + 1) * stride]

        def chunk(kind, body):
            c = kind + body
            return len(body).to_bytes(4, "big") + c + zlib.crc32(c).to_bytes(4, "big")

        header = self.w.to_bytes(4, "big") + self.h.to_bytes(4, "big") + bytes([8, 2, 0, 0, 0])
        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                    + chunk(b"IDAT", zlib.compress(bytes(raw), 1)) + chunk(b"IEND", b""))


def is_red(p):
    return p[0] >= 128 and p[1] <= 64 and p[2] <= 64


def is_black(p):
    return max(p) <= 16


# ---------------------------------------------------------------- geometry

def rot_x(deg):
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))
    return ((1, 0, 0), (0, c, -s), (0, s, c))


def rot_y(deg):
    c, s = math.cos(math.radians(deg)), math.sin(math.radians(deg))
    return ((c, 0, s), (0, 1, 0), (-s, 0, c))


KEY_TURNS = {"Up": lambda: rot_x(-5), "Down": lambda: rot_x(5),
             "Left": lambda: rot_y(-5), "Right": lambda: rot_y(5)}


def matmul(a, b):
    return tuple(tuple(sum(a[i][k] * b[k][j] for k in range(3)) for j in range(3))
                 for i in range(3))


def turned(keys):
    """The model-view rotation after the given arrow keys: each turn is
    multiplied on the right, so the last key turns the model first."""
    m = ((1, 0, 0), (0, 1, 0), (0, 0, 1))
    for k in keys:
        m = matmul(m, KEY_TURNS[k]())
    return m


def project(point, size, rotation=None):
    """Where a point lands in a client area of `size`, as (column, row) in
    pixel units from the top-left, or None when it is clipped away."""
    w, h = size
    x, y, z = point
    if rotation:
        x, y, z = (sum(rotation[i][k] * (x, y, z)[k] for k in range(3)) for i in range(3))
    if w > h:
        xh, yh = HALF_SPAN * w / h, HALF_SPAN
    else:
        xh, yh = HALF_SPAN, HALF_SPAN * h / w
    if abs(z) > HALF_SPAN or abs(x) > xh or abs(y) > yh:
        return None
    return ((x / xh + 1) / 2 * w, (1 - y / yh) / 2 * h)


def expected_pixels(points, size, rotation=None, margin=3.0):
    """The projected places split into those that must show and those too
    close to an edge of the visible box to insist on either way."""
    must, may = [], []
    w, h = size
    for p in points:
        q = project(p, size, rotation)
        if q is None:
            continue
        edge = min(q[0], w - q[0], q[1], h - q[1])
        x, y, z = p
        if rotation:
            z = sum(rotation[2][k] * p[k] for k in range(3))
        near_depth = HALF_SPAN - abs(z) < 0.5
        (may if edge < margin or near_depth else must).append(q)
    return must, may


def compare_points(shot, rect, must, may=(), tol=2.0, hidden=()):
    """Problems with the picture in `rect`: expected points with no red pixel
    near them, red pixels near no expected point, and anything neither red nor
    black. Screen rects in `hidden` are left out. An empty list means the
    picture is right."""
    x0, y0, w, h = rect
    # Hidden rects in client coordinates, grown so that a point half under
    # another window is not judged either.
    pad = int(math.ceil(tol)) + 1
    masks = [(hx - x0 - pad, hy - y0 - pad, hx - x0 + hw + pad, hy - y0 + hh + pad)
             for hx, hy, hw, hh in hidden]

    def masked(c, r):
        return any(a <= c < b and t <= r < u for a, t, b, u in masks)

    must = [q for q in must if not masked(q[0], q[1])]
    red, odd = [], []
    zero_row = bytes(w * 3)
    for r in range(h):
        row = shot.row(y0 + r, x0, x0 + w)
        if row == zero_row:
            continue
        for c in range(w):
            p = row[c * 3:c * 3 + 3]
            if p == b"\0\0\0" or (masks and masked(c, r)):
                continue
            if is_red(p):
                red.append((c, r))
            elif not is_black(p):
                odd.append((c, r, tuple(p)))
    # Bucket the expected places so each red pixel looks only nearby.
    cell = 8
    buckets = {}
    for q in list(must) + list(may):
        buckets.setdefault((int(q[0]) // cell, int(q[1]) // cell), []).append(q)

    def near(px, py):
        bx, by = int(px) // cell, int(py) // cell
        for dx in (-1, 0, 1):
            for dy in (-1, 0, 1):
                for q in buckets.get((bx + dx, by + dy), ()):
                    if abs(q[0] - px) <= tol + 0.5 and abs(q[1] - py) <= tol + 0.5:
                        return True
        return False

    red_set = set(red)
    problems = []
    stray = [(c, r) for c, r in red if not near(c + 0.5, r + 0.5)]
    missing = []
    reach = int(math.ceil(tol + 0.5))
    for q in must:
        qc, qr = int(q[0]), int(q[1])
        if not any((qc + dx, qr + dy) in red_set
                   for dx in range(-reach, reach + 1) for dy in range(-reach, reach + 1)
                   if abs(qc + dx + 0.5 - q[0]) <= tol + 0.5
                   and abs(qr + dy + 0.5 - q[1]) <= tol + 0.5):
            missing.append(q)
    if missing:
        problems.append(f"{len(missing)} of {len(must)} expected points have no red pixel "
                        f"within {tol} px, e.g. at " + ", ".join(
                            f"({q[0]:.1f},{q[1]:.1f})" for q in missing[:5]))
    if stray:
        problems.append(f"{len(stray)} red pixels where no point belongs, e.g. "
                        + ", ".join(f"({c},{r})" for c, r in stray[:5]))
    if odd:
        problems.append(f"{len(odd)} pixels neither black nor red, e.g. "
                        + ", ".join(f"({c},{r})={p}" for c, r, p in odd[:5]))
    return problems


def points_of(lines):
    return [tuple(float(v) for v in line.split()) for line in lines]


def text_of(lines):
    return "".join(line + "\n" for line in lines)


def read_cloud(path):
    pts = []
    with open(path) as f:
        for line in f:
            if line.strip():
                pts.append(tuple(float(v) for v in line.split()))
    return pts


# ---------------------------------------------------------------- session

_libc = ctypes.CDLL(ctypes.util.find_library("c") or "libc.so.6", use_errno=True)
_PR_SET_PDEATHSIG = 1


def _die_with_parent():
    # Run in the child before exec: should the test itself be killed outright,
    # no X server or viewer is left behind.
    _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def _start_xvfb(log):
    """Starts a private X server on a free display; Xvfb picks the number
    itself and reports it once it accepts connections."""
    r, w = os.pipe()
    proc = subprocess.Popen(
        ["Xvfb", "-displayfd", str(w), "-screen", "0", f"{SCREEN_W}x{SCREEN_H}x24",
         "-nolisten", "tcp", "-noreset"],
        pass_fds=(w,), stdout=log, stderr=log, start_new_session=True,
        preexec_fn=_die_with_parent)
    os.close(w)
    got = b""
    deadline = time.monotonic() + 30
    try:
        while not got.endswith(b"\n"):
            left = deadline - time.monotonic()
            if left <= 0 or proc.poll() is not None:
                break
            ready, _, _ = select.select([r], [], [], left)
            if not ready:
                break
            chunk = os.read(r, 64)
            if not chunk:
                break
            got += chunk
    finally:
        os.close(r)
    if not got.strip().isdigit():
        _stop(proc, 5)
        raise RuntimeError("Xvfb did not start (see its log)")
    return proc, ":" + got.strip().decode()


def _stop(proc, grace):
    if proc is None or proc.poll() is not None:
        return
    try:
        proc.terminate()
        proc.wait(grace)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait(5)


class Session:
    """The viewer on its own X server. Use as a context manager."""

    def __init__(self, vost, outdir, name, extra_env=None):
        self.outdir = os.path.join(outdir, name)
        os.makedirs(self.outdir, exist_ok=True)
        self.shots = len([f for f in os.listdir(self.outdir) if f.endswith(".png")])
        self.tmp = tempfile.mkdtemp(prefix=f"vost-e2e-{name}-")
        self.xvfb = self.app = self.x = None
        self._log = open(os.path.join(self.outdir, "log.txt"), "a")
        try:
            self.xvfb, self.display = _start_xvfb(self._log)
            # A home of its own keeps the file dialog's memory of other runs
            # out; the user's Qt settings stay out too.
            self.env = {k: v for k, v in os.environ.items()
                        if not k.startswith(("QT_", "WAYLAND", "XDG_"))}
            home = os.path.join(self.tmp, "home")
            runtime = os.path.join(self.tmp, "runtime")
            os.makedirs(home)
            os.makedirs(runtime, mode=0o700)
            self.env.update({"DISPLAY": self.display, "LIBGL_ALWAYS_SOFTWARE": "1",
                             "QT_QPA_PLATFORM": "xcb", "HOME": home,
                             "XDG_RUNTIME_DIR": runtime, "XAUTHORITY": "/dev/null"})
            self.env.update(extra_env or {})
            self.x = XConnection(self.display)
            # A key held down a moment too long on a busy machine would
            # repeat: a Delete taking more than it should, a letter doubled.
            self.x.lib.XAutoRepeatOff(self.x.dpy)
            self.x.lib.XSync(self.x.dpy, 0)
            self.app = subprocess.Popen([vost], env=self.env, cwd=self.tmp,
                                        stdout=self._log, stderr=self._log,
                                        start_new_session=True, preexec_fn=_die_with_parent)
        except BaseException:
            self.close()
            raise

    def close(self):
        _stop(self.app, 5)
        if self.x:
            self.x.close()
            self.x = None
        _stop(self.xvfb, 5)
        self._log.close()
        shutil.rmtree(self.tmp, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # -- processes and tools

    def run(self, *args, timeout=20):
        return subprocess.run(list(args), env=self.env, timeout=timeout, check=True,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE).stdout

    def xdotool(self, *args):
        self.run("xdotool", *[str(a) for a in args])

    def running(self):
        return self.app is not None and self.app.poll() is None

    def exit_code(self, timeout):
        try:
            return self.app.wait(timeout)
        except subprocess.TimeoutExpired:
            return None

    # -- windows

    def visible(self, name=None):
        return [w for w in self.x.windows() if w.mapped and (name is None or w.name == name)]

    def find(self, name, timeout=20):
        found = wait_for(lambda: self.visible(name), timeout)
        if not found:
            ended = "" if self.running() else \
                f" (the program has ended, exit code {self.app.returncode})"
            raise Failure(f"no window titled {name!r} appeared within {timeout} s{ended}; "
                          f"visible: {self.visible()}", self.screenshot(f"missing-{name}"))
        return found[0]

    def gone(self, wid, timeout=20):
        return wait_for(lambda: all(w.id != wid for w in self.visible()), timeout)

    def report_boxes(self):
        """Visible message boxes of the viewer: titled "vost", and neither a
        menu nor a tool tip (popups carry the application's name too)."""
        popups = {"_NET_WM_WINDOW_TYPE_POPUP_MENU", "_NET_WM_WINDOW_TYPE_DROPDOWN_MENU",
                  "_NET_WM_WINDOW_TYPE_TOOLTIP", "_NET_WM_WINDOW_TYPE_COMBO"}
        return [w for w in self.visible("vost") if not (w.types & popups) and w.w > 40]

    def gl_client(self, view):
        kids = [c for c in self.x.children(view) if c.mapped]
        return max(kids, key=lambda c: c.w * c.h) if kids else view

    # -- input

    def click(self, x, y):
        # No --sync: it waits for a motion that never comes when the pointer
        # is already there; the server keeps the move and click in order.
        self.xdotool("mousemove", x, y, "click", 1)

    def wait_focus(self, wid, timeout=10):
        return wait_for(lambda: self.x.focus() == wid, timeout, 0.05)

    def type_text(self, text, delay=15):
        self.xdotool("type", "--delay", delay, "--", text)

    def key(self, *keys):
        self.xdotool("key", "--delay", 20, *keys)

    def key_to(self, wid, *keys):
        self.xdotool("key", "--window", wid, "--delay", 20, *keys)

    # -- screenshots

    def grab(self):
        raw = self.run("import", "-display", self.display, "-window", "root", "-depth", "8",
                       "ppm:-", timeout=30)
        return Shot.from_ppm(raw)

    def save(self, shot, label):
        self.shots += 1
        path = os.path.join(self.outdir, f"{self.shots:02d}-{label}.png")
        shot.save_png(path)
        return path

    def screenshot(self, label):
        try:
            return self.save(self.grab(), label)
        except Exception as e:  # the failure being reported matters more
            return f"(no screenshot: {e})"

    def view_windows(self):
        """The view's top-level window, its drawing surface, and the rects
        of the windows stacked above it (which hide part of it)."""
        stack = self.x.windows()
        for i, w in enumerate(stack):
            if w.name == "view" and w.mapped:
                above = [o.rect for o in stack[i + 1:] if o.mapped]
                return w, self.gl_client(w), above
        return None, None, []

    def expect_picture(self, label, points, rotation=None, timeout=25, tol=2.0, at_least=1):
        """Waits until the view shows exactly the given points; fails with
        the last picture otherwise. What other windows hide is not
        judged."""
        last = {"problems": ["the view is not shown"], "shot": None, "rect": None}

        def good():
            view, gl, above = self.view_windows()
            shot = self.grab()
            # A window that came up while the picture was taken hides part
            # of it too.
            above = above + self.view_windows()[2]
            last["shot"] = shot
            if view is None:
                last["problems"] = ["the view is not shown"]
                return False
            size = (gl.w, gl.h)
            must, may = expected_pixels(points, size, rotation)
            if len(must) < at_least:
                raise RuntimeError(f"{label}: only {len(must)} points would show; bad data")
            last["rect"] = gl.rect
            last["problems"] = compare_points(shot, gl.rect, must, may, tol, above)
            return not last["problems"]

        ok = wait_for(good, timeout, 0.2)
        path = self.save(last["shot"], label)
        if not ok:
            raise Failure(f"{label}: the view (client {last['rect']}) does not show the "
                          f"expected points: " + "; ".join(last["problems"]), path)
        return path

    # -- the control window as a person uses it

    def control(self):
        return self.find("control")

    def control_point(self, rect, fx=None, fy=0.5):
        """A point inside a component of the control window, right of the
        view's edge when fx is not given, so the view never takes the click."""
        c = self.control()
        x0 = c.x + GROUP_POS[0] + rect[0]
        y0 = c.y + MENU_BAR_H + GROUP_POS[1] + rect[1]
        x = x0 + int(rect[2] * fx) if fx is not None else max(EXPOSED_X, x0 + 4)
        return x, y0 + int(rect[3] * fy)

    def click_control(self, point):
        """Clicks into the control window and sees that it has the keyboard.
        Where the program has not taken the focus itself, it is given, as a
        window manager does on a click: there is none on this display."""
        control = self.control()
        self.click(*point)
        if not self.wait_focus(control.id, 1.5):
            self.xdotool("windowfocus", control.id)
            if not self.wait_focus(control.id):
                raise Failure("the control window did not take the focus",
                              self.screenshot("control-focus"))

    def open_via_menu(self, path, use_shortcut=False):
        c = self.control()
        if use_shortcut:
            self.click_control(self.control_point(EDIT_RECT))
            self.key("ctrl+o")
        else:
            self.click(c.x + 18, c.y + MENU_BAR_H // 2)
            menu = wait_for(lambda: [w for w in self.visible("vost")
                                     if "_NET_WM_WINDOW_TYPE_POPUP_MENU" in w.types], 10)
            if not menu:
                raise Failure("the File menu did not open", self.screenshot("no-menu"))
            m = menu[0]
            self.click(m.x + 30, m.y + m.h // 2)
        dialog = self.find("Open")
        if not self.wait_focus(dialog.id):
            raise Failure("the file dialog did not take the keyboard focus",
                          self.screenshot("dialog-focus"))
        self.type_text(path)
        self.key("Return")
        if not self.gone(dialog.id):
            raise Failure(f"the file dialog stayed open after choosing {path}",
                          self.screenshot("dialog-open"))

    def copy_from(self, point):
        """The whole text of the component under `point`, through the clipboard."""
        self.click_control(point)
        self.x.clear_clipboard()
        self.key("ctrl+a", "ctrl+c")
        return self.copied()

    def copied(self, timeout=5):
        # The program takes the copy in its own time.
        if not wait_for(self.x.clipboard_owned, timeout, 0.05):
            return None
        return self.x.clipboard(timeout)

    def edit_text(self):
        return self.copy_from(self.control_point(EDIT_RECT))

    def memo_text(self):
        text = self.copy_from(self.control_point(MEMO_RECT, fy=0.3))
        self.key("ctrl+End")  # drops the selection, so typing appends
        return text

    def expect_memo(self, expected, label, timeout=10):
        last = [None]

        def same():
            last[0] = self.memo_text()
            return last[0] == expected

        if not wait_for(same, timeout, 0.3):
            raise Failure(f"{label}: the text box holds {_clip(last[0])}, "
                          f"expected {_clip(expected)}", self.screenshot(label))

    def expect_edit(self, expected, label, timeout=10):
        last = [None]

        def same():
            last[0] = self.edit_text()
            return last[0] == expected

        if not wait_for(same, timeout, 0.3):
            raise Failure(f"{label}: the path field holds {last[0]!r}, expected {expected!r}",
                          self.screenshot(label))

    def click_memo_end(self):
        self.click_control(self.control_point(MEMO_RECT, fy=0.3))
        self.key("ctrl+End")

    def press_button(self):
        self.click(*self.control_point(BUTTON_RECT))

    def show_view(self):
        self.press_button()
        view = self.find("view")
        return view, self.gl_client(view)


def _clip(text, n=120):
    if text is None:
        return "nothing"
    return repr(text if len(text) <= n else text[:n] + "...")


# ---------------------------------------------------------------- runner

class Context:
    """What a group of checks gets: the command line, and sessions."""

    def __init__(self, args, group):
        self.vost, self.source, self.out = args.vost, args.source, args.out
        self.group = group
        # Screenshots of an earlier run would only mislead.
        shutil.rmtree(os.path.join(self.out, group), ignore_errors=True)
        os.makedirs(os.path.join(self.out, group))

    def session(self, **kw):
        return Session(self.vost, self.out, self.group, **kw)

    def sample(self, name):
        return os.path.join(self.source, "samples", name)

    def cloud_file(self, name, lines):
        """A cloud file of the given lines in the group's output directory."""
        path = os.path.join(self.out, self.group, name)
        with open(path, "w") as f:
            f.write("".join(line + "\n" for line in lines))
        return path


def main(groups, name):
    """Runs each group of checks (or the one named by --group) on a viewer
    and X server of its own, so a failure in one leaves the others their
    verdict."""
    ap = argparse.ArgumentParser()
    ap.add_argument("--vost", required=True)
    ap.add_argument("--source", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--group", choices=[g.__name__ for g in groups])
    args = ap.parse_args()
    if args.group:
        groups = [g for g in groups if g.__name__ == args.group]
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            print(f"{tool} is missing; run scripts/setup.sh", file=sys.stderr)
            return 1
    # ctest ends a test past its time with SIGTERM; leaving through the
    # context managers means no Xvfb or viewer outlives the test.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(124))
    started = time.monotonic()
    failed = skipped = 0
    for group in groups:
        t0 = time.monotonic()
        try:
            group(Context(args, group.__name__))
            print(f"ok   {group.__name__} ({time.monotonic() - t0:.1f} s)", flush=True)
        except Failure as f:
            print(f"FAIL {group.__name__}: {f}", flush=True)
            failed += 1
        except Inconclusive as e:
            print(f"SKIP {group.__name__}: {e}", flush=True)
            skipped += 1
        except Exception:
            print(f"FAIL {group.__name__}: error in the test itself", flush=True)
            traceback.print_exc()
            failed += 1
    passed = len(groups) - failed - skipped
    print(f"{name}: {passed} of {len(groups)} groups passed in "
          f"{time.monotonic() - started:.1f} s; screenshots under {args.out}", flush=True)
    if failed:
        return 1
    return SKIPPED if skipped else 0
