#pragma once

#include "Platform/UI/SegmentedControl.h"

namespace kesto {

// A segmented control without bezel or borders whose segments show only their images, as
// template glyphs: grey normally, blue when selected, at half opacity when disabled.
class BorderlessSegmentedControl : public ui::SegmentedControl {
 public:
  using ui::SegmentedControl::SegmentedControl;

  // Only the segments: no bezel, no border.
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  // Nothing for a segment without image (whatever its label).
  void drawSegment(long segment, ui::GraphicsContext& context, const fnd::Rect& frame) override;
  // Fits the image into the frame keeping its aspect, centred and one point higher, with
  // integral edges; the opacity is not applied.
  void drawCenteredImage(const ui::Image& image, ui::GraphicsContext& context, const fnd::Rect& frame, double alpha,
                         bool selected, bool enabled);
  static fnd::Rect centeredImageRect(const fnd::Size& imageSize, const fnd::Rect& frame);
};

namespace drawastemplate {
void rp_drawAsTemplateInRect(const ui::Image& image, ui::GraphicsContext& context, const fnd::Rect& rect,
                             bool highlighted, bool enabled);
}  // namespace drawastemplate

}  // namespace kesto
