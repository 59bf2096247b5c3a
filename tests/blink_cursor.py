#!/usr/bin/env python3
"""A blinking text cursor on $DISPLAY and nothing else: a 2 x 18 pixel bar
drawn and erased twice a second for SECONDS, through libX11 itself (ctypes),
so the motion tests need no extra package.

  blink_cursor.py SECONDS
"""
import ctypes
import ctypes.util
import sys
import time

x = ctypes.CDLL(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XOpenDisplay.argtypes = [ctypes.c_char_p]
x.XDefaultScreen.argtypes = [ctypes.c_void_p]
x.XRootWindow.restype = ctypes.c_ulong
x.XRootWindow.argtypes = [ctypes.c_void_p, ctypes.c_int]
x.XCreateSimpleWindow.restype = ctypes.c_ulong
x.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                  ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
x.XMapRaised.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XCreateGC.restype = ctypes.c_void_p
x.XCreateGC.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_ulong, ctypes.c_void_p]
x.XSetForeground.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_ulong]
x.XFillRectangle.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                             ctypes.c_uint, ctypes.c_uint]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x.XCloseDisplay.argtypes = [ctypes.c_void_p]


def main():
    seconds = float(sys.argv[1])
    dpy = x.XOpenDisplay(None)
    if not dpy:
        sys.exit("blink_cursor: cannot open the display")
    root = x.XRootWindow(dpy, x.XDefaultScreen(dpy))
    # A small window (an editor's line, say) holding the cursor, mapped
    # before the blinking starts.
    win = x.XCreateSimpleWindow(dpy, root, 40, 40, 200, 24, 0, 0, 0xF0F0F0)
    x.XMapRaised(dpy, win)
    gc = x.XCreateGC(dpy, win, 0, None)
    x.XSync(dpy, 0)
    time.sleep(0.5)
    end = time.monotonic() + seconds
    on = False
    while time.monotonic() < end:
        on = not on
        x.XSetForeground(dpy, gc, 0x000000 if on else 0xF0F0F0)
        x.XFillRectangle(dpy, win, gc, 10, 3, 2, 18)
        x.XSync(dpy, 0)
        time.sleep(0.5)
    x.XCloseDisplay(dpy)


if __name__ == "__main__":
    main()
