#pragma once

#include "Platform/UI/ChildWindow.h"
#include "Platform/UI/Color.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Path.h"

#include <memory>
#include <optional>

namespace kesto {

// Where an attached window stands beside its point; the arrow is on the edge facing the point.
// 0 left (arrow on the right edge, centred), 1 below (top), 2 right (left), 3 above (bottom);
// 4–11 the same sides with the arrow near an edge's end: 4 left extending upward, 5 left
// downward, 6 right upward, 7 right downward, 8 above to the left, 9 above to the right, 10
// below to the left, 11 below to the right; 12 chooses a side at creation.
enum AttachedWindowSide : int { kAttachedSideAutomatic = 12 };

// The shape of an attached window: its size and margins, where it stands for a point, the side
// it chooses, and its bubble outline. Lengths are in points (our screens' user space is the
// layout's own, so no scale applies).
struct AttachedWindowGeometry {
  fnd::Size viewSize;
  double viewMargin = 2.0, arrowBaseWidth = 20.0, arrowHeight = 16.0, cornerRadius = 8.0;
  bool hasArrow = true, drawsRoundCornerBesideArrow = true;
  int side = 1;
  double distance = 0;

  // From a window corner to the arrow's tip for the sides with the arrow near an edge's end.
  double arrowInset() const { return (drawsRoundCornerBesideArrow ? cornerRadius : 0) + arrowBaseWidth / 2; }
  // The view's frame in the window, and the window's frame for the arrow's tip at `point`
  // (screen coordinates). Side 12 adds neither arrow room nor any offset.
  fnd::Rect viewFrame() const;
  fnd::Rect windowFrame(const fnd::Point& point) const;
  // The side that keeps the window inside `screen` (a visible frame), preferring below, then
  // right, left and above, and then the variant that stays within `reference` (the parent
  // window's frame, else the screen).
  int bestSide(const fnd::Point& point, const fnd::Rect& screen, const fnd::Rect& reference) const;
  // The outline, clockwise from the top-left corner, in window coordinates.
  ui::Path bubblePath() const;
};

// A borderless window that wraps a view in a rounded, semi-transparent bubble whose arrow tip
// touches a point, given in screen coordinates or in a parent window's. It can choose its side
// itself, keeping clear of the screen's edges. Nothing in the application creates one; it is a
// component that stands ready. Main thread only.
class AttachedWindow : public ui::ChildWindow {
 public:
  // Nothing without a view. Side 12 chooses the side now; `parent` null means the point is in
  // screen coordinates.
  static std::shared_ptr<AttachedWindow> create(const std::shared_ptr<ui::View>& view, const fnd::Point& point,
                                                ui::Window* parent = nullptr, int side = kAttachedSideAutomatic,
                                                double distance = 0);
  ~AttachedWindow() override;

  const AttachedWindowGeometry& geometry() const { return geometry_; }
  int side() const { return geometry_.side; }
  fnd::Point point() const { return point_; }
  // Stores both as they are (12 is not resolved here) and rebuilds.
  void setPoint(const fnd::Point& point, int side);

  ui::Color windowBackgroundColor() const { return backgroundColor_; }
  // A colour replaces a pattern image as the fill.
  void setBackgroundColor(const ui::Color& color);
  // The bubble filled with `image` repeated as a pattern; a null image changes nothing.
  void setBackgroundImage(const ui::Image& image);
  const std::optional<ui::Image>& backgroundImage() const { return backgroundImage_; }
  ui::Color borderColor() const { return borderColor_; }
  void setBorderColor(const ui::Color& color);
  double borderWidth() const { return borderWidth_; }
  // Never above the view margin.
  void setBorderWidth(double width);
  double viewMargin() const { return geometry_.viewMargin; }
  // A negative margin becomes 0; the corner radius and arrow base are clamped again.
  void setViewMargin(double margin);
  double arrowBaseWidth() const { return geometry_.arrowBaseWidth; }
  void setArrowBaseWidth(double width);
  double arrowHeight() const { return geometry_.arrowHeight; }
  void setArrowHeight(double height);
  double cornerRadius() const { return geometry_.cornerRadius; }
  void setCornerRadius(double radius);
  // Set from a number whose integer part (truncated) is the flag.
  bool hasArrow() const { return geometry_.hasArrow; }
  void setHasArrow(double value);
  bool drawsRoundCornerBesideArrow() const { return geometry_.drawsRoundCornerBesideArrow; }
  void setDrawsRoundCornerBesideArrow(double value);

  bool canBecomeKeyWindow() const override { return true; }
  bool canBecomeMainWindow() const override { return false; }

 private:
  class BubbleView;
  AttachedWindow(const std::shared_ptr<ui::View>& view, const fnd::Point& point, ui::Window* parent, int side,
                 double distance);
  fnd::Point screenPoint() const;
  void redisplay();
  void updateGeometry();
  void updateBackground();

  AttachedWindowGeometry geometry_;
  ui::Color borderColor_ = ui::Color::white(1.0), backgroundColor_ = ui::Color::white(0.1, 0.75);
  std::optional<ui::Image> backgroundImage_;
  double borderWidth_ = 2.0;
  std::shared_ptr<ui::View> view_;
  std::shared_ptr<BubbleView> bubble_;
  ui::Window* parent_ = nullptr;
  fnd::Point point_;
  bool resizing_ = false;
};

}  // namespace kesto
