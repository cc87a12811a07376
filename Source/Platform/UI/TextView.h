#pragma once

#include "Platform/UI/TextControl.h"

#include <optional>

namespace kesto::ui {

// An editable (or read-only) text of several lines on the toolkit's own text editor.
class TextView : public TextControl {
 public:
  explicit TextView(const fnd::Rect& frame = fnd::Rect());

  std::string stringValue() const override;
  void setStringValue(const std::string& text) override;
  // Inserts at the insertion point, replacing the selection.
  void insertText(const std::string& text);
  // The colour of the whole text.
  std::optional<Color> textColor() const { return textColor_; }
  void setTextColor(const Color& color);
  std::string placeholderString() const;
  void setPlaceholderString(const std::string& text);
  void setDrawsBackground(bool draws);
  // Whether long lines wrap at the view's width (the default) or run on, scrolled sideways as in
  // a one-line field, for a view only one line high.
  void setWrapsLines(bool wraps);
  // Whether Tab and Shift+Tab end the edit and move the focus to the next (previous) control, as
  // in a text field, instead of typing a tab (the default). Such a view, entered by Tab or
  // Shift+Tab, selects its whole text as a field does.
  void setTabChangesFocus(bool changes);
  void selectAll();

 protected:
  void applyReadOnly(bool readOnly) override;

 private:
  std::optional<Color> textColor_;
};

}  // namespace kesto::ui
