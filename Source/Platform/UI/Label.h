#pragma once

#include "Platform/UI/Control.h"

#include <string>

namespace kesto::ui {

// A line (or, wrapping, a paragraph) of text that the user reads, optionally selects, and
// may click (a click reaches mouseDown as on any view).
class Label : public Control {
 public:
  explicit Label(const fnd::Rect& frame = fnd::Rect(), const std::string& text = std::string());

  std::string stringValue() const;
  void setStringValue(const std::string& text);
  Color textColor() const { return textColor_; }
  void setTextColor(const Color& color);
  void setAlignment(TextAlignment alignment);
  bool wraps() const;
  void setWraps(bool wraps);
  // Lets the user select and copy the text.
  void setSelectable(bool selectable);
  // The pointer over the label: the link pointer (for labels that open an address) or the arrow.
  void setShowsLinkCursor(bool link);
  bool showsLinkCursor() const;

 private:
  Color textColor_ = Color::black();
};

}  // namespace kesto::ui
