#pragma once

// Private to the UI layer: the window a dialog opened without one belongs to.

#include "Platform/UI/Application.h"
#include "Platform/UI/Attention_p.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

namespace kesto::ui {

// The dialog that blocks the others (an alert over an assistant), else the window the user is in,
// else the key window, else the main window, when shown (the main window even minimised); none
// without any.
inline QWidget* dialogOwner(const QWidget* dialog) {
  // A window just answered (hidden, not yet gone) can still be the toolkit's active one.
  auto shown = [dialog](QWidget* w) { return w && w != dialog && w->isVisible() && !w->isMinimized(); };
  if (QWidget* modal = attention::modalDialog(); shown(modal)) return modal;
  if (QWidget* active = QApplication::activeWindow(); shown(active)) return active;
  for (Window* w : {Application::shared().keyWindow(), Application::shared().mainWindow()}) {
    if (QWidget* widget = w ? static_cast<QWidget*>(w->nativeHandle()) : nullptr; shown(widget)) return widget;
  }
  // A minimised main window still owns what is asked for it: left without one, the dialog would
  // belong to the toolkit's hidden group leader and go alone, blocking every window.
  Window* main = Application::shared().mainWindow();
  QWidget* widget = main ? static_cast<QWidget*>(main->nativeHandle()) : nullptr;
  return widget && widget != dialog && widget->isVisible() ? widget : nullptr;
}

// Makes a dialog opened without a window transient for the window it belongs to, before it is
// shown: the window manager then keeps it in front of that window and minimises, restores and
// moves it with it. Left alone, the toolkit makes it transient for its hidden group leader, and
// the dialog is minimised alone while it blocks every window.
inline void belongToOwner(QWidget& dialog) {
  QWidget* owner = dialogOwner(&dialog);
  dialog.winId();
  if (owner && owner->windowHandle() && dialog.windowHandle())
    dialog.windowHandle()->setTransientParent(owner->windowHandle());
}

// Just before an alert, a file panel or a sheet opens (or is queued behind a sheet): tells the
// program (DialogWillOpenNotification), and the floating panels stand among the other windows
// while a dialog blocks any, so the dialog stands above them; they float again once it is
// answered.
void dialogWillOpen();

}  // namespace kesto::ui
