#pragma once

#include "Platform/Foundation/Geometry.h"
#include "Platform/UI/Color.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/UIForward.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kesto {

// Measures and draws one count badge: a pill with the number centred in it. A highlighted
// badge (a selected row's) shows only its number, white while its list has the keyboard focus in
// the visible main window.
class SourceListBadgeCell {
 public:
  std::uint64_t badgeValue() const { return badgeValue_; }
  void setBadgeValue(std::uint64_t value) { badgeValue_ = value; }
  // Absent: light grey.
  const std::optional<ui::Color>& textColor() const { return textColor_; }
  void setTextColor(std::optional<ui::Color> color) { textColor_ = std::move(color); }
  // Absent: clear.
  const std::optional<ui::Color>& backgroundColor() const { return backgroundColor_; }
  void setBackgroundColor(std::optional<ui::Color> color) { backgroundColor_ = std::move(color); }
  bool isHighlighted() const { return highlighted_; }
  void setHighlighted(bool highlighted) { highlighted_ = highlighted; }
  // The dark background style of selected rows draws like the highlighted state.
  bool hasDarkBackgroundStyle() const { return darkBackground_; }
  void setDarkBackgroundStyle(bool dark) { darkBackground_ = dark; }

  static ui::Font badgeFont() { return ui::Font{{}, 12.0, true, false}; }
  std::string badgeString() const;
  // Text width + 10 by text height.
  fnd::Size cellSize() const;
  void drawWithFrame(ui::GraphicsContext& context, const fnd::Rect& frame, const ui::View* view) const;

  static ui::Color lightGrey() { return ui::Color::white(2.0 / 3.0); }
  // Whether the first responder of the view's window lies in a source list that shares the
  // view's ancestry (the list the badge is drawn in has the focus).
  static bool listHasFocus(const ui::View* view);

 private:
  std::uint64_t badgeValue_ = 0;
  std::optional<ui::Color> textColor_;
  std::optional<ui::Color> backgroundColor_;
  bool highlighted_ = false;
  bool darkBackground_ = false;
};

}  // namespace kesto
