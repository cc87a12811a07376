#pragma once

// Private to the platform layer: the toolkit widget inside a WidgetHostView.

#include "Platform/UI/WidgetHostView.h"

class QEvent;
class QWidget;

namespace kesto::ui {

// Hands `widget` to the view, which owns it from now on (a previous one is deleted). The
// widget is re-parented into the view's native widget and placed over its bounds.
void setHostedWidget(WidgetHostView& view, QWidget* widget);
QWidget* hostedWidget(const WidgetHostView& view);

template <typename W>
W* hostedWidgetAs(const WidgetHostView& view) {
  return static_cast<W*>(hostedWidget(view));
}

// The toolkit event now passing through the view's mouseDown / keyDown (null when the event
// came from code, e.g. Window::sendEvent).
QEvent* pendingNativeEvent(const WidgetHostView& view);

}  // namespace kesto::ui
