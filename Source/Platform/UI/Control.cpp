#include "Platform/UI/Control.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/WidgetHostView_p.h"

#include <QWidget>

namespace kesto::ui {

void Control::sendAction() {
  if (action_ && isEnabled()) action_();
}

Font Control::font() const {
  QWidget* w = hostedWidget(*this);
  if (!w) return Font{};
  return fromQFont(w->font());
}

void Control::setFont(const Font& font) {
  if (QWidget* w = hostedWidget(*this)) w->setFont(toQFont(font));
}

}  // namespace kesto::ui
