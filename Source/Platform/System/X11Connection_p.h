#pragma once

struct xcb_connection_t;

namespace kesto::sys::detail {

// The toolkit's own connection to the X server; null without one (offscreen, Wayland).
xcb_connection_t* x11Connection();
// The default screen's root window (0 without X).
unsigned x11RootWindow();

}  // namespace kesto::sys::detail
