/* Holds a global key combination the way another program would: a passive grab of the key on
 * the root window. Usage: kesto-grab-key KEYSYM MODIFIERS (MODIFIERS: any of "ctrl", "alt",
 * "super", "shift" joined by "+"). Prints "grabbed" once the server took the grab and keeps it
 * until killed; exits 1 when the server refused. */
#include <X11/Xlib.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

static int failed;
static int onError(Display* display, XErrorEvent* error) {
  (void)display;
  if (error->error_code == BadAccess) failed = 1;
  return 0;
}

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  Display* display = XOpenDisplay(NULL);
  if (!display) return 2;
  unsigned modifiers = 0;
  if (strstr(argv[2], "ctrl")) modifiers |= ControlMask;
  if (strstr(argv[2], "alt")) modifiers |= Mod1Mask;
  if (strstr(argv[2], "super")) modifiers |= Mod4Mask;
  if (strstr(argv[2], "shift")) modifiers |= ShiftMask;
  KeyCode code = XKeysymToKeycode(display, XStringToKeysym(argv[1]));
  if (!code) return 2;
  XSetErrorHandler(onError);
  XGrabKey(display, code, modifiers, DefaultRootWindow(display), True, GrabModeAsync, GrabModeAsync);
  XSync(display, False);
  if (failed) return 1;
  printf("grabbed\n");
  fflush(stdout);
  for (;;) pause();
}
