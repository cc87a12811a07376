#!/usr/bin/env python3
"""Another program that takes the keys, through libX11: a plain window that writes every key it
receives as text.

key-recorder.py TITLE FILE

Opens a window named TITLE and appends the text of each key pressed in it to FILE at once
(Return as a line end; keys without text, as Shift, write nothing). What a script typed while
another program's window popped up is then counted here: what this window did not receive went
elsewhere. Runs until it is killed.
"""
import ctypes
import ctypes.util
import sys

KEY_PRESS = 2
KEY_PRESS_MASK = 1 << 0
EXPOSURE_MASK = 1 << 15


class XKeyEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("root", ctypes.c_ulong),
                ("subwindow", ctypes.c_ulong), ("time", ctypes.c_ulong), ("x", ctypes.c_int), ("y", ctypes.c_int),
                ("x_root", ctypes.c_int), ("y_root", ctypes.c_int), ("state", ctypes.c_uint),
                ("keycode", ctypes.c_uint), ("same_screen", ctypes.c_int)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xkey", XKeyEvent), ("pad", ctypes.c_long * 24)]


def main(argv):
    title, path = argv[1].encode(), argv[2]
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XCreateSimpleWindow.restype = ctypes.c_ulong
    x11.XCreateSimpleWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int, ctypes.c_uint,
                                        ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_ulong]
    x11.XStoreName.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_char_p]
    x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x11.XMapWindow.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    x11.XLookupString.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    window = x11.XCreateSimpleWindow(display, x11.XDefaultRootWindow(display), 40, 40, 360, 120, 1, 0, 0xFFFFFF)
    x11.XStoreName(display, window, title)
    x11.XSelectInput(display, window, KEY_PRESS_MASK | EXPOSURE_MASK)
    x11.XMapWindow(display, window)
    x11.XFlush(display)
    event = XEvent()
    text = ctypes.create_string_buffer(32)
    with open(path, "ab", buffering=0) as out:
        while True:
            x11.XNextEvent(display, ctypes.byref(event))
            if event.type != KEY_PRESS:
                continue
            n = x11.XLookupString(ctypes.byref(event.xkey), text, len(text), None, None)
            typed = text.raw[:n].replace(b"\r", b"\n")
            if typed:
                out.write(typed)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
