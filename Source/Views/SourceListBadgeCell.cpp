#include "Views/SourceListBadgeCell.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"
#include "Views/SourceList.h"

#include <unordered_map>

namespace kesto {

namespace {
// Badges are measured for every visible row on each draw; the text sizes repeat.
fnd::Size measured(const std::string& text) {
  static std::unordered_map<std::string, fnd::Size> cache;
  auto it = cache.find(text);
  if (it != cache.end()) return it->second;
  if (cache.size() > 4096) cache.clear();
  fnd::Size size = ui::GraphicsContext::sizeOfText(text, SourceListBadgeCell::badgeFont());
  cache.emplace(text, size);
  return size;
}

bool mainWindowVisible() {
  ui::Window* w = ui::Application::shared().mainWindow();
  return w && w->isVisible();
}
}  // namespace

std::string SourceListBadgeCell::badgeString() const { return std::to_string(static_cast<long>(badgeValue_)); }

fnd::Size SourceListBadgeCell::cellSize() const {
  fnd::Size text = measured(badgeString());
  return fnd::Size{text.width + 10.0, text.height};
}

bool SourceListBadgeCell::listHasFocus(const ui::View* view) {
  if (!view || !view->window()) return false;
  auto* responder = dynamic_cast<ui::View*>(view->window()->firstResponder());
  if (!responder) return false;
  // The nearest view holding both, then up through its superviews.
  const ui::View* common = responder;
  while (common && !(view == common || view->isDescendantOf(common))) common = common->superview();
  for (const ui::View* v = common; v; v = v->superview())
    if (dynamic_cast<const SourceList*>(v)) return true;
  return false;
}

void SourceListBadgeCell::drawWithFrame(ui::GraphicsContext& context, const fnd::Rect& frame,
                                        const ui::View* view) const {
  bool visible = mainWindowVisible();
  ui::Color text = textColor_.value_or(lightGrey());
  ui::Color fill = visible ? backgroundColor_.value_or(ui::Color::clear()) : ui::Color::clear();
  if (highlighted_ || darkBackground_) {
    fill = ui::Color::clear();
    text = visible && listHasFocus(view) ? ui::Color::white() : lightGrey();
  }
  double radius = frame.size.height / 2;
  context.setFillColor(fill);
  if (fill.alpha > 0) context.fillPath(ui::Path::roundedRect(frame, radius, radius));
  std::string s = badgeString();
  fnd::Size size = measured(s);
  fnd::Rect textRect(frame.origin.x + frame.size.width * 0.5 - size.width / 2,
                     frame.origin.y + frame.size.height * 0.5 - size.height / 2, size.width, size.height);
  context.drawText(s, textRect, badgeFont(), text, ui::TextAlignment::Center);
}

}  // namespace kesto
