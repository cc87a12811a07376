#!/usr/bin/env python3
"""Sends keys and wheel clicks to the X server through XTest at known monotonic times and sets
them against the frames the preloaded frame log recorded (libkesto-frame-log.so, KESTO_FRAME_LOG).

  drive.py type FRAME_LOG GAP_MS WORD...   types each word (after Ctrl+A, BackSpace) one key every
                                            GAP_MS; per keystroke of two or more characters prints
                                            the time from the key to the last large frame after it
  drive.py wheel FRAME_LOG X Y SECONDS RATE [up|down]
                                            wheel clicks at RATE per second with the pointer at X,Y
                                            (root coordinates); prints the gaps between frames
"""
import ctypes
import sys
import time

x11 = ctypes.CDLL("libX11.so.6")
xtst = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_ulong]

display = x11.XOpenDisplay(None) if sys.argv[1:2] != ["serve"] else None
if sys.argv[1:2] != ["serve"] and not display:
    sys.exit("no display")

# A frame this large (in pixels) is the list, not a caret or the field's text.
LARGE = 40000


def keycode(name):
    names = {" ": "space"}
    return x11.XKeysymToKeycode(display, x11.XStringToKeysym(names.get(name, name).encode()))


def tap(name, modifier=None):
    if modifier:
        xtst.XTestFakeKeyEvent(display, keycode(modifier), 1, 0)
    code = keycode(name)
    xtst.XTestFakeKeyEvent(display, code, 1, 0)
    xtst.XTestFakeKeyEvent(display, code, 0, 0)
    if modifier:
        xtst.XTestFakeKeyEvent(display, keycode(modifier), 0, 0)
    sent = time.monotonic_ns()
    x11.XSync(display, 0)
    return sent


def frames(path):
    out = []
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) < 2 or "x" not in parts[1]:
                continue
            w, h = parts[1].split("x")
            out.append((int(parts[0]), int(w) * int(h)))
    return out


def stats(values):
    v = sorted(values)
    if not v:
        return "none"
    pick = lambda q: v[min(len(v) - 1, int(q * len(v)))]
    return "n=%d min=%.1f p50=%.1f p90=%.1f p99=%.1f max=%.1f" % (len(v), v[0], pick(0.5), pick(0.9), pick(0.99), v[-1])


def type_words(log, gap_ms, words):
    # Every key sent, with the text it leaves (None for the clearing keys, which are not timed).
    sends = []
    for word in words:
        sends.append((tap("a", "Control_L"), None))
        time.sleep(0.05)
        sends.append((tap("BackSpace"), ""))
        # The whole library comes back: give it time to be drawn before the next word.
        time.sleep(1.5)
        for i, ch in enumerate(word):
            sends.append((tap(ch), word[: i + 1] if i >= 1 else None))
            time.sleep(gap_ms / 1000)
    time.sleep(0.3)
    shown = frames(log)
    latencies, clears = [], []
    for n, (sent, text) in enumerate(sends):
        if text is None:
            continue
        limit = sends[n + 1][0] if n + 1 < len(sends) else sent + gap_ms * 1_000_000
        after = [t for t, area in shown if sent <= t < limit and area >= LARGE]
        if after:
            ms = (after[-1] - sent) / 1e6
            (latencies if text else clears).append(ms)
            print("%-12s %6.1f ms" % (text or "(cleared)", ms))
        else:
            print("%-12s no frame" % (text or "(cleared)"))
    print("keystroke to drawn:", stats(latencies))
    print("emptied field to drawn library:", stats(clears))


def wheel(log, x, y, seconds, rate, direction):
    xtst.XTestFakeMotionEvent(display, -1, x, y, 0)
    x11.XSync(display, 0)
    time.sleep(0.3)
    button = 4 if direction == "up" else 5
    period = 1e9 / rate
    start = time.monotonic_ns()
    count = int(seconds * rate)
    for i in range(count):
        due = start + i * period
        while time.monotonic_ns() < due:
            time.sleep(max(0, (due - time.monotonic_ns()) / 1e9 - 0.001))
        xtst.XTestFakeButtonEvent(display, button, 1, 0)
        xtst.XTestFakeButtonEvent(display, button, 0, 0)
        x11.XFlush(display)
    end = time.monotonic_ns()
    time.sleep(0.3)
    shown = [t for t, area in frames(log) if start <= t <= end + 50_000_000 and area >= LARGE]
    gaps = [(b - a) / 1e6 for a, b in zip(shown, shown[1:])]
    print("wheel %d clicks in %.2f s, %d frames" % (count, (end - start) / 1e9, len(shown)))
    print("gap between frames:", stats(gaps))


if __name__ == "__main__":
    mode = sys.argv[1]
    if mode == "type":
        type_words(sys.argv[2], float(sys.argv[3]), sys.argv[4:])
    elif mode == "wheel":
        wheel(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), float(sys.argv[5]), float(sys.argv[6]),
              sys.argv[7] if len(sys.argv) > 7 else "down")
    else:
        sys.exit(__doc__)
