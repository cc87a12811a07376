#pragma once

#include "Platform/UI/TextControl.h"

#include <optional>

namespace kesto::ui {

// A text field on the toolkit's own line edit: one line, or several when it wraps (then Return
// and Tab insert a line break and a tab instead of ending the edit). A secure field shows
// bullets and never hands its text to the clipboard, drags or assistive technology.
// Return in a one-line field runs the action.
class TextField : public TextControl {
 public:
  enum class Style { Plain, Secure };
  explicit TextField(const fnd::Rect& frame = fnd::Rect(), Style style = Style::Plain);

  std::string stringValue() const override;
  void setStringValue(const std::string& text) override;
  bool isSecure() const { return style_ == Style::Secure; }

  std::string placeholderString() const { return placeholder_; }
  void setPlaceholderString(const std::string& text);
  // The placeholder's colour; absent: the desktop's.
  std::optional<Color> placeholderColor() const { return placeholderColor_; }
  void setPlaceholderColor(std::optional<Color> color);
  std::optional<Color> textColor() const { return textColor_; }
  void setTextColor(std::optional<Color> color);
  // Frame and background of the field; both off for a field drawn by its owner.
  void setBordered(bool bordered);
  void setDrawsBackground(bool draws);
  void setAlignment(TextAlignment alignment);

  bool wraps() const { return wraps_; }
  // Secure fields stay on one line.
  void setWraps(bool wraps);

  void selectText();

 protected:
  void applyReadOnly(bool readOnly) override;

 private:
  void rebuild();
  void applyLook();
  // Stores one property of the look and applies the whole look again.
  template <typename T>
  void restyle(T& property, T value) {
    property = std::move(value);
    applyLook();
  }
  Style style_;
  bool wraps_ = false;
  bool bordered_ = true;
  bool drawsBackground_ = true;
  bool readOnly_ = false;
  TextAlignment alignment_ = TextAlignment::Left;
  std::string placeholder_;
  std::optional<Color> placeholderColor_;
  std::optional<Color> textColor_;
};

}  // namespace kesto::ui
