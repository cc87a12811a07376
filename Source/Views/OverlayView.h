#pragma once

#include "Platform/UI/View.h"

#include <string>

namespace kesto {

// The overlay's bezel: a dark rounded rectangle with a short white label in its middle. The
// label is drawn at its natural size, centred, clipped by the bezel.
class OverlayView : public ui::View {
 public:
  explicit OverlayView(const fnd::Rect& frame = fnd::Rect());
  double bezelRadius() const { return bezelRadius_; }
  void setBezelRadius(double radius) { bezelRadius_ = radius; }  // no redraw request
  const std::string& label() const { return label_; }
  void setLabel(const std::string& label) { label_ = label; }  // no redraw request

  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  void drawBezel(ui::GraphicsContext& context);
  void drawLabel(ui::GraphicsContext& context);

 private:
  double bezelRadius_ = 10.0;
  std::string label_;
};

}  // namespace kesto
