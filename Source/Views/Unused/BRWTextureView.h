#pragma once

#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

namespace kesto {

// A paper texture, kept aligned with the window wherever the view sits.
class BRWTextureView : public ui::View {
 public:
  using View::View;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  // Tiles `image` over `rect` (view coordinates) on a grid anchored at the window's origin.
  static void fillWithWindowAlignedPattern(ui::View& view, ui::GraphicsContext& context, const ui::Image& image,
                                           const fnd::Rect& rect);
};

// A page texture inside a light grey outline.
class KestoMenuTextureView : public ui::View {
 public:
  using View::View;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
};

}  // namespace kesto
