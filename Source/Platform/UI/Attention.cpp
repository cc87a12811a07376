#include "Platform/UI/Attention.h"

#include "Platform/UI/Attention_p.h"

#include "Platform/UI/Window.h"
#include "Platform/UI/X11Focus_p.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <utility>
#include <vector>

namespace kesto::ui::attention {

namespace {

// Lets a window take the focus again once it is on screen (exposed), or hidden before that.
class FocusableOnceShown : public QObject {
 public:
  explicit FocusableOnceShown(QWindow* window) : QObject(window), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const bool shown = event->type() == QEvent::Expose && window_->isExposed();
    if (watched == window_ && (shown || event->type() == QEvent::Hide)) {
      window_->setFlag(Qt::WindowDoesNotAcceptFocus, false);
      window_->removeEventFilter(this);
      deleteLater();
    }
    return false;
  }

 private:
  QWindow* window_;
};

// The window manager's urgency where there is one (X11), the toolkit's alert elsewhere.
void demand(QWindow& window) {
  if (!x11::demandAttention(xcb_window_t(window.winId()))) window.alert(0);
}

// Asks for attention once the window is on screen: the window manager hears no request about a
// window it does not manage yet.
class AttentionOnceShown : public QObject {
 public:
  explicit AttentionOnceShown(QWidget* widget) : QObject(widget), widget_(widget) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    QWindow* window = widget_->windowHandle();
    if (watched == window && event->type() == QEvent::Expose && window->isExposed()) {
      window->removeEventFilter(this);
      if (!window->isActive()) demand(*window);
      deleteLater();
    }
    return false;
  }

 private:
  QWidget* widget_;
};

// The windows that asked for attention, in the order they did.
std::vector<QPointer<QWidget>>& waiting() {
  static std::vector<QPointer<QWidget>> windows;
  return windows;
}

}  // namespace

bool programHasFocus() { return x11::focusIsOurs().value_or(true); }

void takeNoFocusUntilShown(QWindow& window) {
  if (window.flags() & Qt::WindowDoesNotAcceptFocus) return;
  window.setFlag(Qt::WindowDoesNotAcceptFocus, true);
  window.installEventFilter(new FocusableOnceShown(&window));
}

void showWithoutFocus(QWidget& window) {
  window.setAttribute(Qt::WA_ShowWithoutActivating, true);
  window.winId();
  if (QWindow* handle = window.windowHandle()) takeNoFocusUntilShown(*handle);
}

void askForAttention(QWidget& window) {
  window.winId();
  if (QWindow* handle = window.windowHandle()) {
    if (handle->isExposed()) demand(*handle);
    else handle->installEventFilter(new AttentionOnceShown(&window));
  }
  auto& windows = waiting();
  windows.erase(std::remove(windows.begin(), windows.end(), &window), windows.end());
  windows.emplace_back(&window);
}

void bringWaitingToUser() {
  std::vector<QPointer<QWidget>> windows = std::exchange(waiting(), {});
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    QWidget* widget = it->data();
    if (!widget || !widget->isVisible()) continue;
    widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
    x11::demandAttention(xcb_window_t(widget->winId()), false);
    if (Window* own = Window::fromNativeHandle(widget)) {
      own->makeKeyAndOrderFront();
    } else {
      if (widget->isMinimized()) widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
      widget->raise();
      widget->activateWindow();
    }
    return;
  }
}

}  // namespace kesto::ui::attention

namespace kesto::ui {

void makeKeyAndOrderFrontOrAskForAttention(Window& window) {
  if (!window.canBecomeKeyWindow() || attention::programHasFocus()) return window.makeKeyAndOrderFront();
  auto* widget = static_cast<QWidget*>(window.nativeHandle());
  attention::showWithoutFocus(*widget);
  window.orderFront();
  attention::askForAttention(*widget);
}

}  // namespace kesto::ui
