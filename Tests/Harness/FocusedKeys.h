#pragma once

// Keys as the toolkit delivers them to the focused widget, for tests of text controls.

#include "Platform/UI/Window.h"

#include <QApplication>
#include <QKeyEvent>
#include <QString>
#include <QWidget>

#include <gtest/gtest.h>

namespace kesto::test {

// A press and its release, sent to the widget with the keyboard focus.
inline void press(int key, const QString& text = QString(), Qt::KeyboardModifiers mods = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget();
  ASSERT_NE(target, nullptr);
  QKeyEvent down(QEvent::KeyPress, key, mods, text);
  QApplication::sendEvent(target, &down);
  QKeyEvent up(QEvent::KeyRelease, key, mods, text);
  QApplication::sendEvent(target, &up);
}

// Each character as its key: letters with their key codes, anything else as text alone.
inline void type(const QString& text) {
  for (QChar c : text) press(c.isLetter() ? Qt::Key_A + (c.toUpper().unicode() - 'A') : 0, QString(c));
}

// Gives `responder` the keyboard focus in `window` and types `text` there.
inline void typeInto(ui::Window& window, ui::Responder* responder, const QString& text) {
  window.makeFirstResponder(responder);
  type(text);
}

}  // namespace kesto::test
