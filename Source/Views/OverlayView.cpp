#include "Views/OverlayView.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Views/TextLabel.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {
// Room between the label and the bezel's edges.
constexpr double kBezelPadding = 18.0, kBezelVerticalPadding = 12.0;

ui::Font overlayLabelFont() {
  ui::Font font;
  font.pointSize = 18.0;
  return font;
}

double overlayLineHeight() { return ui::GraphicsContext::sizeOfText("Ag", overlayLabelFont()).height; }

std::string withoutTrailingSpace(std::string line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n')) line.pop_back();
  return line;
}
}  // namespace

OverlayView::OverlayView(const fnd::Rect& frame) : ui::View(frame) {}

std::vector<std::string> OverlayView::lines(double width) const {
  if (label_.empty()) return {};
  return TextLabel::wrappedLines(label_, std::max(1.0, width - 2 * kBezelPadding), overlayLabelFont());
}

fnd::Size OverlayView::fittingSize(const fnd::Size& minimum, double maximumWidth) const {
  const double natural = std::ceil(ui::GraphicsContext::sizeOfText(label_, overlayLabelFont()).width) + 2 * kBezelPadding;
  const double width = std::max(0.0, std::min(maximumWidth, std::max(minimum.width, natural)));
  const double textHeight = double(lines(width).size()) * overlayLineHeight() + 2 * kBezelVerticalPadding;
  return fnd::Size{width, std::max(minimum.height, std::ceil(textHeight))};
}

void OverlayView::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  drawBezel(context);
  drawLabel(context);
}

void OverlayView::drawBezel(ui::GraphicsContext& context) {
  // Opaque: the list behind would make the message hard to read.
  context.setFillColor(ui::Color::white(0.12, 1.0));
  context.fillPath(ui::Path::roundedRect(bounds(), bezelRadius_, bezelRadius_));
}

void OverlayView::drawLabel(ui::GraphicsContext& context) {
  const auto all = lines(bounds().size.width);
  if (all.empty()) return;
  const ui::Font font = overlayLabelFont();
  const double step = overlayLineHeight();
  const fnd::Rect b = bounds();
  const double top = b.origin.y + (b.size.height - step * double(all.size())) / 2;
  for (std::size_t i = 0; i < all.size(); ++i) {
    const std::string line = withoutTrailingSpace(all[i]);
    const double width = ui::GraphicsContext::sizeOfText(line, font).width;
    // Lines are laid from the top of the bezel whichever way the view's y runs.
    const double y = isFlipped() ? top + step * double(i) : b.maxY() - (top - b.origin.y) - step * double(i + 1);
    context.drawText(line, fnd::Rect(b.origin.x + (b.size.width - width) / 2, y, width + 1, step), font,
                     ui::Color::white());
  }
}

}  // namespace kesto
