#pragma once

// Private to the UI layer: the toolkit's drag events delivered to our drop targets.

#include "Platform/Foundation/Geometry.h"

class QDragEnterEvent;
class QDragMoveEvent;
class QDropEvent;

namespace kesto::ui {
class View;
namespace dragging {
void enter(View* view, QDragEnterEvent* event, const fnd::Point& locationInWindow);
void move(View* view, QDragMoveEvent* event, const fnd::Point& locationInWindow);
void leave(View* view);
void drop(View* view, QDropEvent* event, const fnd::Point& locationInWindow);
}  // namespace dragging
}  // namespace kesto::ui
