#!/usr/bin/env python3
"""Waits until a program has caught up with the X server, through libX11.

caught-up.py WINDOW [ROUNDS] [SECONDS]

Sends the program that owns WINDOW a window manager's ping (_NET_WM_PING) and waits for its
answer, ROUNDS times one after another (default 2), for at most SECONDS in all (default 60).
A toolkit answers a ping on its main thread, in turn with the events before it: once answered,
everything the X server sent the program before the ping (keys, clicks, a hand-over's window
activation) has been handled, and with a second round what those handlers queued for the next
turn of the loop as well. That is the later event a check of what did NOT happen waits for.
Exits 1 when no answer came in time.
"""
import ctypes
import ctypes.util
import random
import select
import sys
import time

CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
SUBSTRUCTURE_NOTIFY_MASK = 1 << 19


class XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", XClientMessageEvent), ("pad", ctypes.c_long * 24)]


def main(argv):
    window = int(argv[1], 0)
    rounds = int(argv[2]) if len(argv) > 2 else 2
    deadline = time.monotonic() + (float(argv[3]) if len(argv) > 3 else 60)
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XInternAtom.restype = ctypes.c_ulong
    x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    x11.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
    x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long, ctypes.c_void_p]
    x11.XFlush.argtypes = [ctypes.c_void_p]
    x11.XPending.argtypes = [ctypes.c_void_p]
    x11.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.c_void_p]
    x11.XConnectionNumber.argtypes = [ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    root = x11.XDefaultRootWindow(display)
    protocols = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
    ping = x11.XInternAtom(display, b"_NET_WM_PING", 0)
    # The answer goes to the root window, to the clients that listen for its changes (or its
    # children's, as toolkits differ in the mask they send it with).
    x11.XSelectInput(display, root, STRUCTURE_NOTIFY_MASK | SUBSTRUCTURE_NOTIFY_MASK)
    for _ in range(rounds):
        # A stamp of our own tells this answer from the window manager's pings.
        stamp = random.randrange(1, 1 << 31)
        event = XEvent()
        event.xclient.type = CLIENT_MESSAGE
        event.xclient.window = window
        event.xclient.message_type = protocols
        event.xclient.format = 32
        event.xclient.data[:] = [ping, stamp, window, 0, 0]
        x11.XSendEvent(display, window, 0, 0, ctypes.byref(event))
        x11.XFlush(display)
        answered = False
        while not answered:
            while not x11.XPending(display):
                left = deadline - time.monotonic()
                if left <= 0:
                    print(f"caught-up.py: window {window:#x} did not answer a ping", file=sys.stderr)
                    return 1
                select.select([x11.XConnectionNumber(display)], [], [], left)
            x11.XNextEvent(display, ctypes.byref(event))
            c = event.xclient
            answered = (event.type == CLIENT_MESSAGE and c.message_type == protocols and c.data[0] == ping
                        and c.data[1] == stamp)
    x11.XCloseDisplay(display)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
