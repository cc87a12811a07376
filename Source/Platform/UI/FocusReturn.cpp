#include "Platform/UI/FocusReturn.h"

#include "Platform/UI/Window.h"
#include "Platform/UI/X11Focus_p.h"

#include <QWidget>

#include <utility>

namespace kesto::ui {

namespace {
xcb_window_t xWindow(const Window& window) {
  return xcb_window_t(static_cast<QWidget*>(window.nativeHandle())->winId());
}
}  // namespace

void FocusReturn::windowWillShow(const Window& window) {
  if (!window.isVisible()) previous_ = XCB_NONE;
  // Shown again while one of ours is active: the program noted before stays the one to go back to.
  const std::optional<xcb_window_t> active = x11::activeWindow();
  if (active && !x11::isOurWindow(*active)) previous_ = *active;
}

void FocusReturn::windowWillHide(const Window& window) {
  const xcb_window_t previous = std::exchange(previous_, XCB_NONE);
  if (previous == XCB_NONE || !window.isVisible() || !x11::hasFocus(xWindow(window))) return;
  // Asked before the window goes: the window manager then never hands the focus to a window of
  // ours meanwhile.
  if (x11::onCurrentDesktop(previous)) x11::requestActivation(previous);
}

}  // namespace kesto::ui
