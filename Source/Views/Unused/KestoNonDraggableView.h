#pragma once

#include "Platform/UI/View.h"

namespace kesto {

// Swallows drags, so they never reach the views behind it (nor move the window).
class KestoNonDraggableView : public ui::View {
 public:
  using View::View;
  void mouseDragged(const ui::Event&) override {}
};

// The same on a dark gradient with a thin grey outline.
class KestoNonDraggableDarkView : public KestoNonDraggableView {
 public:
  using KestoNonDraggableView::KestoNonDraggableView;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
};

}  // namespace kesto
