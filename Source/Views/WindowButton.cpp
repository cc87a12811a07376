#include "Views/WindowButton.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/Window.h"

namespace kesto {

WindowButton::WindowButton(Kind kind) : PressableView(fnd::Rect(0, 0, kSize, kSize)), kind_(kind) {}

void WindowButton::performClick() {
  ui::Window* w = window();
  if (!w || isHiddenOrHasHiddenAncestor()) return;
  switch (kind_) {
    case Kind::Close: w->performClose(); break;
    case Kind::Miniaturize: w->miniaturize(); break;
    case Kind::Zoom: w->zoom(); break;
    case Kind::FullScreen: w->toggleFullScreen(); break;
  }
}

void WindowButton::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect r = bounds().insetBy(0.5, 0.5);
  ui::Color fill;
  switch (kind_) {
    case Kind::Close: fill = ui::Color::rgb(0.93, 0.36, 0.33); break;
    case Kind::Miniaturize: fill = ui::Color::rgb(0.96, 0.74, 0.25); break;
    case Kind::Zoom: fill = ui::Color::rgb(0.38, 0.78, 0.33); break;
    case Kind::FullScreen: fill = ui::Color::white(0.72); break;
  }
  if (isPressed()) fill = ui::Color::rgb(fill.red * 0.75, fill.green * 0.75, fill.blue * 0.75);
  context.setFillColor(fill);
  context.fillPath(ui::Path::oval(r));
  context.setStrokeColor(ui::Color::white(0.0, 0.25));
  context.strokePath(ui::Path::oval(r));
  // The glyph says what the button does.
  const double c = r.midX(), m = r.midY(), a = r.size.width * 0.22;
  ui::Path glyph;
  glyph.setLineWidth(1.2);
  switch (kind_) {
    case Kind::Close:
      glyph.moveTo({c - a, m - a});
      glyph.lineTo({c + a, m + a});
      glyph.moveTo({c - a, m + a});
      glyph.lineTo({c + a, m - a});
      break;
    case Kind::Miniaturize:
      glyph.moveTo({c - a, m});
      glyph.lineTo({c + a, m});
      break;
    case Kind::Zoom:
      glyph.moveTo({c - a, m});
      glyph.lineTo({c + a, m});
      glyph.moveTo({c, m - a});
      glyph.lineTo({c, m + a});
      break;
    case Kind::FullScreen:
      glyph.moveTo({c - a, m - a});
      glyph.lineTo({c + a, m + a});
      glyph.moveTo({c + a - 2, m + a});
      glyph.lineTo({c + a, m + a});
      glyph.lineTo({c + a, m + a - 2});
      glyph.moveTo({c - a + 2, m - a});
      glyph.lineTo({c - a, m - a});
      glyph.lineTo({c - a, m - a + 2});
      break;
  }
  context.setStrokeColor(ui::Color::white(0.15, 0.8));
  context.strokePath(glyph);
}

}  // namespace kesto
