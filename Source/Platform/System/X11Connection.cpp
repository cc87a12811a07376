#include "Platform/System/X11Connection_p.h"

#include <QGuiApplication>

#include <xcb/xcb.h>

namespace kesto::sys::detail {

xcb_connection_t* x11Connection() {
  if (!qGuiApp || QGuiApplication::platformName() != "xcb") return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

unsigned x11RootWindow() {
  xcb_connection_t* c = x11Connection();
  if (!c) return 0;
  const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  return screen ? screen->root : 0;
}

}  // namespace kesto::sys::detail
