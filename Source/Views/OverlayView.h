#pragma once

#include "Platform/UI/View.h"

#include <string>
#include <vector>

namespace kesto {

// The overlay's bezel: an opaque dark rounded rectangle with a white label in its middle. The
// label is centred, broken into lines where it is wider than the bezel.
class OverlayView : public ui::View {
 public:
  explicit OverlayView(const fnd::Rect& frame = fnd::Rect());
  double bezelRadius() const { return bezelRadius_; }
  void setBezelRadius(double radius) { bezelRadius_ = radius; }  // no redraw request
  const std::string& label() const { return label_; }
  void setLabel(const std::string& label) { label_ = label; }  // no redraw request

  // The bezel's size for its label: at least `minimum`, as wide as the label with its padding
  // but no wider than `maximumWidth` (the label then wraps), and as tall as its lines.
  fnd::Size fittingSize(const fnd::Size& minimum, double maximumWidth) const;

  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  void drawBezel(ui::GraphicsContext& context);
  void drawLabel(ui::GraphicsContext& context);

 private:
  double bezelRadius_ = 10.0;
  std::string label_;
  std::vector<std::string> lines(double width) const;
};

}  // namespace kesto
