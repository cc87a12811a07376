#pragma once

#include "Platform/UI/Path.h"
#include "Platform/UI/View.h"

#include <cstdint>
#include <optional>

namespace kesto {

// Where a popover stands relative to its anchor (the arrow is on the edge facing it).
using PopoverArrowDirection = std::uint64_t;
namespace PopoverArrow {
constexpr PopoverArrowDirection Left = 0, Above = 1, Right = 2, Below = 3;
}

// The popover's body: a rounded rectangle 12 points in from the window's edges with a
// 23-point-wide, 12-point-deep arrow on the side facing the anchor, filled and outlined, with
// an optional one-point highlight line under its top edge.
class PopoverWindowFrame : public ui::View {
 public:
  static constexpr double kArrowDepth = 12.0;
  static constexpr double kCornerRadius = 4.0;
  static constexpr double kArrowHalfWidth = 11.5;

  explicit PopoverWindowFrame(const fnd::Rect& frame = fnd::Rect());

  const ui::Color& color() const { return color_; }
  void setColor(const ui::Color& color);
  const std::optional<ui::Color>& borderColor() const { return borderColor_; }
  void setBorderColor(std::optional<ui::Color> color);
  const std::optional<ui::Color>& topHighlightColor() const { return topHighlightColor_; }
  void setTopHighlightColor(std::optional<ui::Color> color) { topHighlightColor_ = std::move(color); }
  double borderWidth() const { return borderWidth_; }
  void setBorderWidth(double width);
  PopoverArrowDirection arrowDirection() const { return arrowDirection_; }
  void setArrowDirection(PopoverArrowDirection direction);

  void setFrame(const fnd::Rect& frame) override;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  // The body and arrow outline for a rectangle; a direction outside 0-3 draws no arrow.
  static ui::Path popoverBezierPath(const fnd::Rect& rect, PopoverArrowDirection direction);

 private:
  void updateWindowShape();
  fnd::Rect drawnRect() const;

  ui::Color color_ = ui::Color::white(0.0, 0.8);
  std::optional<ui::Color> borderColor_;
  std::optional<ui::Color> topHighlightColor_;
  double borderWidth_ = 0.0;
  PopoverArrowDirection arrowDirection_ = PopoverArrow::Right;
};

}  // namespace kesto
