#!/usr/bin/env python3
"""Screenshots and pixel probes of the X display, through libX11 (no imaging packages needed).

screenshot.py OUT.png [--window ID]     writes the screen (or one window) as PNG
screenshot.py - --pixel X Y             prints "r g b" of one screen pixel
screenshot.py - --pixel X Y --window ID  the same, of one window's pixel
screenshot.py - --watch SECONDS X Y [X Y ...]
                                        for SECONDS, prints the screen pixels given again and
                                        again, a line each time: "r g b" per pixel. One process
                                        on one connection, so a loaded machine still sees what
                                        shows for a moment.
"""
import ctypes
import ctypes.util
import struct
import sys
import time
import zlib


class XImage(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int), ("height", ctypes.c_int), ("xoffset", ctypes.c_int),
                ("format", ctypes.c_int), ("data", ctypes.POINTER(ctypes.c_ubyte)),
                ("byte_order", ctypes.c_int), ("bitmap_unit", ctypes.c_int),
                ("bitmap_bit_order", ctypes.c_int), ("bitmap_pad", ctypes.c_int),
                ("depth", ctypes.c_int), ("bytes_per_line", ctypes.c_int),
                ("bits_per_pixel", ctypes.c_int)]


class XWindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("rest", ctypes.c_byte * 256)]


def xlib():
    x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XDefaultRootWindow.restype = ctypes.c_ulong
    x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
    x11.XGetWindowAttributes.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p]
    x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
    x11.XGetImage.restype = ctypes.POINTER(XImage)
    x11.XGetImage.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_int,
                              ctypes.c_uint, ctypes.c_uint, ctypes.c_ulong, ctypes.c_int]
    x11.XDestroyImage.argtypes = [ctypes.POINTER(XImage)]
    display = x11.XOpenDisplay(None)
    if not display:
        sys.exit("cannot open the display")
    return x11, display


def watch(seconds, points):
    x11, display = xlib()
    root = x11.XDefaultRootWindow(display)
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        values = []
        for px, py in points:
            image = x11.XGetImage(display, root, px, py, 1, 1, 0xFFFFFFFF, 2)  # ZPixmap
            if not image:
                sys.exit("XGetImage failed")
            pixel = ctypes.string_at(ctypes.addressof(image.contents.data.contents), 4)  # BGRX
            x11.XDestroyImage(image)
            values += [pixel[2], pixel[1], pixel[0]]
        print(*values, flush=True)
        time.sleep(0.02)
    x11.XCloseDisplay(display)


def grab(window=None, x=0, y=0, w=None, h=None):
    x11, display = xlib()
    drawable = window if window is not None else x11.XDefaultRootWindow(display)
    attrs = XWindowAttributes()
    x11.XGetWindowAttributes(display, drawable, ctypes.byref(attrs))
    w = w or attrs.width
    h = h or attrs.height
    image = x11.XGetImage(display, drawable, x, y, w, h, 0xFFFFFFFF, 2)  # ZPixmap
    if not image:
        sys.exit("XGetImage failed")
    img = image.contents
    rows = []
    for row in range(h):
        line = ctypes.string_at(ctypes.addressof(img.data.contents) + row * img.bytes_per_line, w * 4)
        # BGRX to RGB
        rows.append(bytes(b for i in range(0, len(line), 4) for b in (line[i + 2], line[i + 1], line[i])))
    x11.XCloseDisplay(display)
    return w, h, rows


def write_png(path, w, h, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)
    raw = b"".join(b"\x00" + r for r in rows)
    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 6)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def main(argv):
    out = argv[1] if len(argv) > 1 else "-"
    if "--watch" in argv:
        i = argv.index("--watch")
        numbers = [int(a) for a in argv[i + 2:]]
        watch(float(argv[i + 1]), list(zip(numbers[0::2], numbers[1::2])))
        return
    if "--pixel" in argv:
        i = argv.index("--pixel")
        px, py = int(argv[i + 1]), int(argv[i + 2])
        window = int(argv[argv.index("--window") + 1], 0) if "--window" in argv else None
        _, _, rows = grab(window, x=px, y=py, w=1, h=1)
        print(*rows[0][:3])
        return
    window = None
    if "--window" in argv:
        window = int(argv[argv.index("--window") + 1], 0)
    w, h, rows = grab(window)
    write_png(out, w, h, rows)


if __name__ == "__main__":
    main(sys.argv)
