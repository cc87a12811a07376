#include "Platform/UI/Panel.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Action.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Attention_p.h"
#include "Platform/UI/DialogOwner_p.h"
#include "Platform/UI/UINotifications.h"

#include <QGuiApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <utility>
#include <vector>

namespace kesto::ui {

namespace {

// The floating panels standing among the other windows while a dialog is open, and the timer
// that floats them again once none is.
struct GivenWay {
  std::vector<QPointer<QWindow>> panels;
  QPointer<QTimer> timer;
};

GivenWay& givenWay() {
  static GivenWay state;
  return state;
}

void floatAgainOnceAnswered() {
  // A sheet is window-modal, an alert or a file dialog application-modal: either is listed.
  if (QGuiApplication::modalWindow() || attention::heldDialog()) return;
  GivenWay& state = givenWay();
  if (state.timer) state.timer->stop();
  for (const QPointer<QWindow>& panel : std::exchange(state.panels, {}))
    if (panel) panel->setFlag(Qt::WindowStaysOnTopHint, true);
}

}  // namespace

void dialogWillOpen() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(DialogWillOpenNotification);
  // A floating panel stands above every other window of the program, and a dialog opened while it
  // shows would open under it, out of reach: as the platform's modal panels stand above its
  // floating ones, the panel steps down among the others until the dialog is answered. Its
  // window's level changes alone: the widget is not made again.
  GivenWay& state = givenWay();
  for (Window* window : Application::shared().windows()) {
    auto* panel = dynamic_cast<Panel*>(window);
    QWidget* widget = panel ? static_cast<QWidget*>(panel->nativeHandle()) : nullptr;
    QWindow* handle = widget ? widget->windowHandle() : nullptr;
    if (!handle || !panel->isFloatingPanel() || panel->isSheet() || !(handle->flags() & Qt::WindowStaysOnTopHint))
      continue;
    handle->setFlag(Qt::WindowStaysOnTopHint, false);
    state.panels.emplace_back(handle);
  }
  if (state.panels.empty()) return;
  if (!state.timer) {
    state.timer = new QTimer(QCoreApplication::instance());
    state.timer->setInterval(100);
    QObject::connect(state.timer, &QTimer::timeout, state.timer, floatAgainOnceAnswered);
  }
  state.timer->start();
}

Panel::Panel(const fnd::Rect& contentRect, unsigned styleMask) : Window(contentRect, styleMask) {
  if (styleMask & WindowStyle::NonactivatingPanel)
    static_cast<QWidget*>(nativeHandle())->setAttribute(Qt::WA_ShowWithoutActivating);
  // Taken on a sheet too, which the window commands are not.
  actions().add(cmd::cancelOperation, [this] { cancelOperation(); });
}

void Panel::setFloatingPanel(bool on) {
  floating_ = on;
  setLevel(on ? WindowLevel::Floating : WindowLevel::Normal);
}

bool Panel::isCancelKey(const Event& e) {
  if (e.type != EventType::KeyDown) return false;
  std::uint64_t mods = e.modifierFlags & (ModifierFlag::Command | ModifierFlag::Option | ModifierFlag::Control |
                                          ModifierFlag::Shift);
  if (e.keyCode == KeyCode::Escape && mods == 0) return true;
  return mods == ModifierFlag::Command && (e.charactersIgnoringModifiers == "." || e.keyCode == 47);
}

void Panel::keyDown(const Event& event) {
  if (!isCancelKey(event)) return Window::keyDown(event);
  // A field or view before the panel may take the cancel for itself.
  Responder* first = firstResponder() ? firstResponder() : this;
  first->tryToPerform(cmd::cancelOperation, this);
}

void Panel::cancelOperation() {
  if (Window* parent = sheetParent()) parent->endSheet(*this, ModalResponse::Cancel);
  else if (styleMask() & WindowStyle::Closable) performClose();
  else orderOut();
}

}  // namespace kesto::ui
