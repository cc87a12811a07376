#include "Platform/UI/Attention.h"

#include "Platform/UI/Attention_p.h"

#include "Platform/UI/Window.h"
#include "Platform/UI/X11Focus_p.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
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

// The dialogs shown without the toolkit's modality (see showHeld), the last shown last.
std::vector<QPointer<QWidget>>& held() {
  static std::vector<QPointer<QWidget>> dialogs;
  return dialogs;
}

// Whether a held dialog takes the input of the window: an application-modal one that of every
// window but its own and those that stand on it (its menus, its own dialogs), a window-modal one
// that of the windows it belongs to.
bool blocks(const QWidget& dialog, const QWindow& window) {
  const QWindow* own = dialog.windowHandle();
  if (!own || !dialog.isVisible() || own == &window || own->isAncestorOf(&window, QWindow::IncludeTransients))
    return false;
  if (dialog.windowModality() == Qt::ApplicationModal) return true;
  for (const QWindow* owner = own->transientParent(); owner; owner = owner->transientParent())
    if (owner == &window) return true;
  return false;
}

// In front, with the keys.
void bring(QWidget& window) {
  window.setAttribute(Qt::WA_ShowWithoutActivating, false);
  x11::demandAttention(xcb_window_t(window.winId()), false);
  if (Window* own = Window::fromNativeHandle(&window)) return own->makeKeyAndOrderFront();
  if (window.isMinimized()) window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
  window.raise();
  window.activateWindow();
}

// The user's input to the windows a held dialog blocks, as its modality would: clicks, keys,
// wheel, drops and the window manager's close. A click on one of them brings the dialog.
class HeldInputBlock : public QObject {
 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!event->spontaneous() || !isInput(event->type())) return false;
    auto* window = qobject_cast<QWindow*>(watched);  // the widgets' share comes through their window first
    if (!window) return false;
    QWidget* blocking = nullptr;
    for (const QPointer<QWidget>& dialog : held())
      if (dialog && blocks(*dialog, *window)) blocking = dialog.data();
    if (!blocking) return false;
    if (event->type() == QEvent::MouseButtonPress) {
      QTimer::singleShot(0, blocking, [blocking] { bring(*blocking); });
    }
    // A key overridden goes to no shortcut; the key itself is dropped next.
    event->accept();
    if (event->type() == QEvent::Close || event->type() == QEvent::DragEnter) event->ignore();
    return true;
  }

 private:
  static bool isInput(QEvent::Type type) {
    switch (type) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
      case QEvent::Wheel:
      case QEvent::KeyPress:
      case QEvent::KeyRelease:
      case QEvent::ShortcutOverride:
      case QEvent::TouchBegin:
      case QEvent::DragEnter:
      case QEvent::DragMove:
      case QEvent::Drop:
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
  dialogs.erase(std::remove_if(dialogs.begin(), dialogs.end(), [](const QPointer<QWidget>& d) { return !d; }),
                dialogs.end());
  dialogs.emplace_back(&dialog);
  blockInputWhileHeld();
  const Qt::WindowModality modality = dialog.windowModality();
  dialog.setWindowModality(Qt::NonModal);
  dialog.show();
  // Its modality again, as a mark only: the toolkit counts a modal window (and asks for its
  // activation) as it shows it, which is past; those who ask whether a modal window is shown see it.
  dialog.setWindowModality(modality);
  askForAttention(dialog);
}

QWidget* heldDialog() {
  for (auto it = held().rbegin(); it != held().rend(); ++it)
    if (*it && (*it)->isVisible()) return it->data();
  return nullptr;
}

QWidget* modalDialog() {
  if (QWidget* modal = QApplication::activeModalWidget()) return modal;
  return heldDialog();
}

void bringWaitingToUser() {
  std::vector<QPointer<QWidget>> windows = std::exchange(waiting(), {});
  for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
    if (QWidget* widget = it->data(); widget && widget->isVisible()) return bring(*widget);
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
