#!/usr/bin/env python3
"""The keyboard as another X client sees it, through libX11 and libXtst.

  x-keyboard.py free               exit 0 when no client holds the keyboard (a grab of our own
                                   succeeds and is let go at once), 1 when one does
  x-keyboard.py hold RELEASE MARK  holds the keyboard, as a window manager moving a window does;
                                   writes "grabbed" (or "refused") to MARK, and lets go once the
                                   file RELEASE exists (at the latest after 60 s)
  x-keyboard.py chord KEYSYM...    presses the keys in turn and lets them go in reverse, all in
                                   one request, so the program reads a key's release with its press

Exit 2 when the display cannot be opened or a key has no code.
"""
import ctypes
import ctypes.util
import os
import sys
import time

x = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
x.XOpenDisplay.restype = ctypes.c_void_p
x.XDefaultRootWindow.restype = ctypes.c_ulong
x.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
x.XGrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]
x.XUngrabKeyboard.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
x.XStringToKeysym.restype = ctypes.c_ulong
x.XStringToKeysym.argtypes = [ctypes.c_char_p]
x.XKeysymToKeycode.restype = ctypes.c_ubyte
x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]

GRAB_MODE_ASYNC, GRAB_SUCCESS = 1, 0


def grab(display):
    return x.XGrabKeyboard(display, x.XDefaultRootWindow(display), 0, GRAB_MODE_ASYNC, GRAB_MODE_ASYNC, 0) == GRAB_SUCCESS


def main(argv):
    if len(argv) < 2:
        return 2
    display = x.XOpenDisplay(None)
    if not display:
        return 2
    command = argv[1]
    if command == "free":
        got = grab(display)
        if got:
            x.XUngrabKeyboard(display, 0)
        x.XSync(display, 0)
        return 0 if got else 1
    if command == "hold" and len(argv) == 4:
        release, mark = argv[2], argv[3]
        got = grab(display)
        x.XSync(display, 0)
        with open(mark, "w") as f:
            f.write("grabbed" if got else "refused")
        end = time.time() + 60
        while not os.path.exists(release) and time.time() < end:
            time.sleep(0.02)
        x.XUngrabKeyboard(display, 0)
        x.XSync(display, 0)
        return 0
    if command == "chord" and len(argv) > 2:
        xtst = ctypes.cdll.LoadLibrary(ctypes.util.find_library("Xtst"))
        xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
        codes = [x.XKeysymToKeycode(display, x.XStringToKeysym(k.encode())) for k in argv[2:]]
        if 0 in codes:
            return 2
        for code in codes:
            xtst.XTestFakeKeyEvent(display, code, 1, 0)
        for code in reversed(codes):
            xtst.XTestFakeKeyEvent(display, code, 0, 0)
        x.XSync(display, 0)
        return 0
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
