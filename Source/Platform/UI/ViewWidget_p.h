#pragma once

// Private to the UI layer: the native widget behind every View.

#include "Platform/UI/Event.h"

#include <QPixmap>
#include <QWidget>

#include <functional>

class QKeyEvent;
class QMouseEvent;

namespace kesto::ui {

class View;

class ViewWidget : public QWidget {
 public:
  explicit ViewWidget(View* view);
  View* view() const { return view_; }
  void detach() { view_ = nullptr; }
  // Told after every placement of this widget (a view hosting a toolkit widget re-places it).
  std::function<void()> geometryObserver;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  bool event(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  // Drops, for views that are dragging destinations.
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dragMoveEvent(QDragMoveEvent* event) override;
  void dragLeaveEvent(QDragLeaveEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  View* view_;
  // The kept drawing of a view that keeps its drawing, at its whole bounds.
  QPixmap drawing_;
};

// Translation of the toolkit's input into our events.
namespace qtbridge {
std::uint64_t modifierFlags(Qt::KeyboardModifiers modifiers);
std::uint16_t keyCodeForQtKey(int key);
// The key code of an X11 key (evdev code + 8) by its physical position; Invalid when unknown.
std::uint16_t keyCodeForX11ScanCode(std::uint32_t scanCode);
Event keyEvent(const QKeyEvent* event, EventType type);
// Counts clicks the way the desktop does: presses close in time and place add up.
int clickCountForPress(Qt::MouseButton button, const QPointF& globalPos, double timestamp);
// Delivers an event to the view's window, or straight to the view when it has none.
void deliver(View* view, Event event);
// Runs `fn`, logging instead of letting an exception reach the toolkit's event loop.
void guarded(const char* where, const std::function<void()>& fn);
// Whether the widget is one of the toolkit's text editors (a line edit, a text edit).
bool isTextEditor(const QWidget* widget);
}  // namespace qtbridge

}  // namespace kesto::ui
