#include "Platform/UI/Attention.h"

#include "Platform/UI/Attention_p.h"

#include "Platform/UI/Window.h"
#include "Platform/UI/X11Focus_p.h"

#include <QApplication>
#include <QEvent>
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

// The dialogs shown without their modality, each with the modality it waits for.
struct Held {
  QPointer<QWidget> dialog;
  Qt::WindowModality modality;
};
std::vector<Held>& held() {
  static std::vector<Held> dialogs;
  return dialogs;
}

// The user's input to the program's other windows while a dialog is held, as its modality would:
// clicks, keys, wheel and the window manager's close. A click on them is how the user comes back,
// and brings the dialog; it does nothing else.
class HeldInputBlock : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!event->spontaneous() || !blocks(event->type())) return false;
    auto* window = qobject_cast<QWindow*>(watched);
    if (!window || !heldDialog()) return false;  // the widgets' share comes through their window first
    for (const Held& h : held()) {
      QWindow* own = h.dialog && h.dialog->isVisible() ? h.dialog->windowHandle() : nullptr;
      if (own && (own == window || own->isAncestorOf(window, QWindow::IncludeTransients))) return false;
    }
    // A key overridden goes to no shortcut; the key itself is dropped next.
    event->accept();
    if (event->type() == QEvent::Close) event->ignore();
    return true;
  }

 private:
  static bool blocks(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::TouchBegin:
      case QEvent::Close: return true;
      default: return false;
    }
  }
};

void blockInputWhileHeld() {
  static HeldInputBlock* block = nullptr;
  if (block || !QCoreApplication::instance()) return;
  block = new HeldInputBlock;
  block->setParent(QCoreApplication::instance());
  QCoreApplication::instance()->installEventFilter(block);
}

// Shows a held dialog again with its modality, able to take the keys: the toolkit activates it.
void release(QWidget& dialog) {
  auto& dialogs = held();
  auto it = std::find_if(dialogs.begin(), dialogs.end(), [&](const Held& h) { return h.dialog == &dialog; });
  if (it == dialogs.end()) return;
  const Qt::WindowModality modality = it->modality;
  dialogs.erase(it);
  dialog.setAttribute(Qt::WA_ShowWithoutActivating, false);
  dialog.hide();
  dialog.setWindowModality(modality);
  dialog.show();
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

void showHeld(QWidget& dialog) {
  auto& dialogs = held();
  dialogs.erase(std::remove_if(dialogs.begin(), dialogs.end(), [](const Held& h) { return !h.dialog; }), dialogs.end());
  dialogs.push_back({&dialog, dialog.windowModality()});
  dialog.setWindowModality(Qt::NonModal);
  blockInputWhileHeld();
  dialog.show();
  askForAttention(dialog);
}

QWidget* heldDialog() {
  for (auto it = held().rbegin(); it != held().rend(); ++it)
    if (it->dialog && it->dialog->isVisible()) return it->dialog.data();
  return nullptr;
}

QWidget* modalDialog() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return heldDialog();
}

void bringWaitingToUser() {
  std::vector<QPointer<QWidget>> windows = std::exchange(waiting(), {});
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    QWidget* widget = it->data();
    if (!widget || !widget->isVisible()) continue;
    widget->setAttribute(Qt::WA_ShowWithoutActivating, false);
    x11::demandAttention(xcb_window_t(widget->winId()), false);
    // Every held dialog becomes modal again, the last one in front.
    for (const Held& h : std::vector<Held>(held()))
      if (h.dialog && h.dialog != widget && h.dialog->isVisible()) release(*h.dialog);
    release(*widget);
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
