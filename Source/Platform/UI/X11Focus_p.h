#pragma once

// Private to the UI layer: the X server as the toolkit reaches it, where its keyboard focus is,
// asked of the server itself, and the window manager asked to bring a window to the user.
// The toolkit takes a keyboard grab by another client (the window manager moving a window, a hot
// key held) for the focus leaving, and tells a focus that left only a moment later.

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
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

// The window that has the X server's input focus; nothing off X11.
inline std::optional<xcb_window_t> focusWindow() {
  xcb_connection_t* c = connection();
  if (!c) return std::nullopt;
  xcb_get_input_focus_reply_t* reply = xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr);
  if (!reply) return std::nullopt;
  const xcb_window_t focus = reply->focus;
  std::free(reply);
  return focus;
}

// Whether the X server's input focus is on one of our windows; nothing off X11.
inline std::optional<bool> focusIsOurs() {
  const std::optional<xcb_window_t> focus = focusWindow();
  if (!focus) return std::nullopt;
  return isOurWindow(*focus);
}

// Whether the X server's input focus is on the window (false off X11).
inline bool hasFocus(xcb_window_t window) { return focusWindow() == window; }

// A focus event (in or out) that tells of the focus itself: not one sent only because the
// pointer is over the window, nor the start of a grab, which leaves the focus where it is.
inline bool isFocusChange(const xcb_focus_in_event_t& event) {
  return event.detail != XCB_NOTIFY_DETAIL_POINTER && event.mode != XCB_NOTIFY_MODE_GRAB;
}

// The atom of a name the server already knows; none when it does not.
inline xcb_atom_t knownAtom(xcb_connection_t* c, const char* name) {
  xcb_intern_atom_reply_t* reply =
      xcb_intern_atom_reply(c, xcb_intern_atom(c, 1, std::uint16_t(std::strlen(name)), name), nullptr);
  const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_NONE);
  std::free(reply);
  return atom;
}

// A 32-bit property of a window, of the type given.
inline std::optional<std::uint32_t> property32(xcb_connection_t* c, xcb_window_t window, const char* name,
                                               xcb_atom_t type) {
  const xcb_atom_t atom = knownAtom(c, name);
  if (atom == XCB_NONE) return std::nullopt;
  xcb_get_property_reply_t* reply =
      xcb_get_property_reply(c, xcb_get_property(c, 0, window, atom, type, 0, 1), nullptr);
  std::optional<std::uint32_t> value;
  if (reply && reply->format == 32 && xcb_get_property_value_length(reply) >= 4)
    value = *static_cast<const std::uint32_t*>(xcb_get_property_value(reply));
  std::free(reply);
  return value;
}

// A cardinal property of a window (the desktop it is on, the current desktop of the root window).
inline std::optional<std::uint32_t> cardinal(xcb_connection_t* c, xcb_window_t window, const char* name) {
  return property32(c, window, name, XCB_ATOM_CARDINAL);
}

// The window the window manager says is active (another program's too); none when it says none.
inline std::optional<xcb_window_t> activeWindow() {
  xcb_connection_t* c = connection();
  xcb_screen_t* screen = c ? xcb_setup_roots_iterator(xcb_get_setup(c)).data : nullptr;
  if (!screen) return std::nullopt;
  const std::optional<std::uint32_t> active = property32(c, screen->root, "_NET_ACTIVE_WINDOW", XCB_ATOM_WINDOW);
  if (!active || *active == XCB_NONE) return std::nullopt;
  return xcb_window_t(*active);
}

// Whether the window is on the desktop the user is on (or on every desktop, or the window
// manager keeps no desktops).
inline bool onCurrentDesktop(xcb_window_t window) {
  xcb_connection_t* c = connection();
  xcb_screen_t* screen = c ? xcb_setup_roots_iterator(xcb_get_setup(c)).data : nullptr;
  if (!screen) return false;
  constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF;
  const std::optional<std::uint32_t> desktop = cardinal(c, window, "_NET_WM_DESKTOP");
  const std::optional<std::uint32_t> current = cardinal(c, screen->root, "_NET_CURRENT_DESKTOP");
  return !desktop || !current || *desktop == kAllDesktops || *desktop == *current;
}

// Sends a client message of the desktop's standard to the window manager.
inline void sendToWindowManager(xcb_connection_t* c, xcb_window_t root, xcb_window_t window, xcb_atom_t type,
                                std::uint32_t first, std::uint32_t second = XCB_CURRENT_TIME) {
  xcb_client_message_event_t event{};
  event.response_type = XCB_CLIENT_MESSAGE;
  event.format = 32;
  event.window = window;
  event.type = type;
  event.data.data32[0] = first;
  event.data.data32[1] = second;
  xcb_send_event(c, 0, root, XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&event));
}

// Asks (or stops asking) the user's attention for a window the window manager manages: the
// urgency of its hints (ICCCM) and the desktop's demands-attention state, which taskbars and
// pagers show. Answers whether it was asked.
inline bool demandAttention(xcb_window_t window, bool demand = true) {
  xcb_connection_t* c = connection();
  xcb_screen_t* screen = c ? xcb_setup_roots_iterator(xcb_get_setup(c)).data : nullptr;
  if (!screen || window == XCB_NONE) return false;
  constexpr std::uint32_t kUrgency = 1u << 8, kHintWords = 9;
  xcb_get_property_reply_t* reply = xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 0, kHintWords), nullptr);
  std::uint32_t hints[kHintWords] = {};
  if (reply && reply->format == 32)
    std::memcpy(hints, xcb_get_property_value(reply),
                std::min<std::size_t>(sizeof hints, std::size_t(xcb_get_property_value_length(reply))));
  std::free(reply);
  hints[0] = demand ? hints[0] | kUrgency : hints[0] & ~kUrgency;
  xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, 32, kHintWords, hints);
  const xcb_atom_t state = knownAtom(c, "_NET_WM_STATE"), demands = knownAtom(c, "_NET_WM_STATE_DEMANDS_ATTENTION");
  constexpr std::uint32_t kRemove = 0, kAdd = 1;
  if (state != XCB_NONE && demands != XCB_NONE)
    sendToWindowManager(c, screen->root, window, state, demand ? kAdd : kRemove, demands);
  xcb_flush(c);
  return true;
}

// Brings a window the window manager manages to the user, as a pager does: the user is taken to
// the desktop it is on, and the window is activated there (shown again when minimised, raised,
// focused). The request says it comes from a pager: the user asked for the window by a command,
// so no rule against focus stealing holds it back. Window managers refuse to activate a window
// on another desktop even then, hence the desktop first. Answers whether it was asked.
inline bool requestActivation(xcb_window_t window) {
  xcb_connection_t* c = connection();
  if (!c || window == XCB_NONE) return false;
  const xcb_atom_t active = knownAtom(c, "_NET_ACTIVE_WINDOW");
  if (active == XCB_NONE) return false;  // no window manager of the desktop's standard
  xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
  if (!screen) return false;
  constexpr std::uint32_t kAllDesktops = 0xFFFFFFFF, kFromPager = 2;
  const std::optional<std::uint32_t> desktop = cardinal(c, window, "_NET_WM_DESKTOP");
  const std::optional<std::uint32_t> current = cardinal(c, screen->root, "_NET_CURRENT_DESKTOP");
  if (desktop && current && *desktop != kAllDesktops && *desktop != *current)
    sendToWindowManager(c, screen->root, screen->root, knownAtom(c, "_NET_CURRENT_DESKTOP"), *desktop);
  sendToWindowManager(c, screen->root, window, active, kFromPager);
  xcb_flush(c);
  return true;
}

}  // namespace kesto::ui::x11
