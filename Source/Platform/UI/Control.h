#pragma once

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/WidgetHostView.h"

#include <functional>

namespace kesto::ui {

// A control on one of the toolkit's standard widgets: an action run when the user operates it,
// a tag, and the font its text is set in.
class Control : public WidgetHostView {
 public:
  using WidgetHostView::WidgetHostView;

  void setAction(std::function<void()> action) { action_ = std::move(action); }
  // Runs the action (nothing while disabled).
  void sendAction();
  int tag() const { return tag_; }
  void setTag(int tag) { tag_ = tag; }
  Font font() const;
  void setFont(const Font& font);

 private:
  std::function<void()> action_;
  int tag_ = 0;
};

}  // namespace kesto::ui
