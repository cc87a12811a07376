#include "Views/BRWColoredView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Window.h"
#include "Views/BezierPathGeometry.h"

namespace kesto {

void BRWColoredView::awakeFromNib() {
  View::awakeFromNib();
  if (color_.empty()) color_ = "azure";
}

void BRWColoredView::applyBorder(std::optional<ui::Color> colour, std::optional<double> width) {
  if (!wantsLayer()) return;
  if (width && *width != borderWidth()) setBorderWidth(*width);
  if (colour && colour != borderColor()) setBorderColor(colour);
}

void BRWColoredView::drawRect(ui::GraphicsContext& context, const fnd::Rect& dirty) {
  using ui::Color;
  struct Style {
    const char* name;
    Color fill;
    std::optional<Color> border;
    std::optional<double> borderWidth;
    bool finalFill;
  };
  static const Style styles[] = {
      {"azure", Color::rgb(0.63, 0.63, 0.63), std::nullopt, std::nullopt, true},
      {"lightGray", Color::white(0.873), Color::white(0.873), std::nullopt, true},
      {"lightGrayBordered", Color::white(0.902), systemGray(), 0.5, true},
      {"white", Color::white(1.0), std::nullopt, std::nullopt, true},
      {"whiteBordered", Color::white(1.0), systemGray(), 0.5, true},
      {"borderGray", Color::white(0.726), std::nullopt, std::nullopt, true},
      {"gray", Color::white(0.671), std::nullopt, std::nullopt, true},
      {"darkGray", Color::white(0.189), std::nullopt, std::nullopt, true},
      {"red", Color::rgb(0.851, 0.345, 0.122), std::nullopt, std::nullopt, true},
      {"black", Color::rgb(0.115, 0.126, 0.126, 0.98), systemGray(), 0.5, true},
      {"darkGrayBordered", Color::white(0.189), systemGray(), 0.5, true},
      {"transparent", Color::clear(), std::nullopt, std::nullopt, false},
  };
  for (const auto& s : styles) {
    if (color_ != s.name) continue;
    applyBorder(s.border, s.borderWidth);
    if (s.finalFill) {
      context.setFillColor(s.fill);
      context.fillRect(dirty);
    }
    return;
  }
  if (color_ == "gradient" || color_ == "gradientDark") {
    bool dark = color_ == "gradientDark";
    ui::Gradient g{{{0.0, Color::white(dark ? 0.189 : 0.75)}, {1.0, Color::white(dark ? 0.289 : 0.9)}}};
    context.fillGradient(g, bounds(), 90.0);
    applyBorder(dark ? systemGray() : systemDarkGray(), 0.5);
    return;
  }
  if (color_ == "gradientRounded") {
    // A tab: the dirty rectangle with its two top corners rounded.
    fnd::Rect i = dirty.insetBy(4.0, 4.0);
    ui::Path path;
    path.moveTo({dirty.minX(), dirty.minY()});
    path.lineTo({dirty.maxX(), dirty.minY()});
    geometry::appendArc(path, {i.maxX(), i.maxY()}, 4.0, 0, 90);
    geometry::appendArc(path, {i.minX(), i.maxY()}, 4.0, 90, 180);
    path.close();
    context.setFillColor(systemLightGray());
    context.fillPath(path);
    context.saveState();
    context.setShadow(fnd::Size{3.1, -3.1}, 5.0, Color::white(0.833));
    context.clipToPath(path);
    ui::Gradient g{{{0.01, Color::white(1.0)}, {0.99, Color::white(0.833)}, {1.0, Color::white(0.667)}}};
    context.fillGradient(g, dirty, -90.0);
    context.restoreState();
  }
  // Any other name paints nothing.
}

void KestoEditView::mouseDown(const ui::Event&) {
  if (auto* w = window()) w->makeFirstResponder(this);
}

}  // namespace kesto
