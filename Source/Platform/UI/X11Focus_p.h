#pragma once

// Private to the UI layer: the X server as the toolkit reaches it, and where its keyboard focus
// is, asked of the server itself.
// The toolkit takes a keyboard grab by another client (the window manager moving a window, a hot
// key held) for the focus leaving, and tells a focus that left only a moment later.

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <optional>

namespace kesto::ui::x11 {

// The toolkit's connection to the X server; null without one (offscreen, Wayland).
inline xcb_connection_t* connection() {
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  return x11 ? x11->connection() : nullptr;
}

// Whether the X window is one of the program's own.
inline bool isOurWindow(xcb_window_t id) {
  if (id == XCB_NONE) return false;
  for (QWindow* w : QGuiApplication::allWindows())
    if (w->handle() && xcb_window_t(w->winId()) == id) return true;
  return false;
}

// Whether the X server's input focus is on one of our windows; nothing off X11.
inline std::optional<bool> focusIsOurs() {
  xcb_connection_t* c = connection();
  if (!c) return std::nullopt;
  xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
  if (!reply) return std::nullopt;
  const bool ours = isOurWindow(reply->focus);
  std::free(reply);
  return ours;
}

// A focus event (in or out) that tells of the focus itself: not one sent only because the
// pointer is over the window, nor the start of a grab, which leaves the focus where it is.
inline bool isFocusChange(const xcb_focus_in_event_t& event) {
  return event.detail != XCB_NOTIFY_DETAIL_POINTER && event.mode != XCB_NOTIFY_MODE_GRAB;
}

}  // namespace kesto::ui::x11
