#!/usr/bin/python3
"""Asks the X window with the given id to close, as a window manager does:
a WM_DELETE_WINDOW client message. (xdotool windowclose destroys the window
instead, which no user can do.) Debian's own python3, where python3-xlib is."""

import sys

from Xlib import X, display
from Xlib.protocol import event

d = display.Display()
window = d.create_resource_object("window", int(sys.argv[1], 0))
delete = d.intern_atom("WM_DELETE_WINDOW")
if delete not in (window.get_wm_protocols() or []):
    sys.exit("the window does not take WM_DELETE_WINDOW")
message = event.ClientMessage(window=window, client_type=d.intern_atom("WM_PROTOCOLS"),
                              data=(32, [delete, X.CurrentTime, 0, 0, 0]))
window.send_event(message, event_mask=X.NoEventMask)
d.sync()
