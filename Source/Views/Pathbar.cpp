#include "Views/Pathbar.h"

#include "Platform/UI/Event.h"
#include "Platform/UI/Image.h"

#include <algorithm>
#include <cmath>

namespace kesto {

namespace {
const ui::Color kTitleColour = ui::Color::rgb(0.212, 0.206, 0.215);
double widthOf(const ui::Image& image) { return image.isNull() ? 0.0 : image.size().width; }
}  // namespace

Pathbar::Pathbar(const fnd::Rect& frame) : View(frame) {}

ui::Font Pathbar::titleFont() {
  ui::Font font;
  font.pointSize = 12;
  return font;
}

void Pathbar::setPathComponentCells(std::vector<std::shared_ptr<PathbarComponentCell>> cells) {
  cells_ = std::move(cells);
  cellsChanged();
}

void Pathbar::cellsChanged() {
  if (pressed_ && indexOfComponentCell(pressed_.get()) < 0) pressed_.reset();
  setNeedsDisplay();
}

void Pathbar::addItemWithTitle(const std::string& title) { insertItemWithTitle(title, std::int64_t(cells_.size())); }

void Pathbar::insertItemWithTitle(const std::string& title, std::int64_t index) {
  if (index < 0 || index > std::int64_t(cells_.size())) return;
  auto cells = mutablePathComponentCells();
  cells.insert(cells.begin() + index, std::make_shared<PathbarComponentCell>(title));
  setPathComponentCells(std::move(cells));
}

int Pathbar::indexOfComponentCell(const PathbarComponentCell* cell) const {
  for (std::size_t i = 0; i < cells_.size(); ++i)
    if (cells_[i].get() == cell) return int(i);
  return -1;
}

void Pathbar::removeItemAtIndex(std::int64_t index) {
  if (index < 0 || index >= std::int64_t(cells_.size())) return;
  auto cells = mutablePathComponentCells();
  cells.erase(cells.begin() + index);
  setPathComponentCells(std::move(cells));
}

void Pathbar::removeLastItem() {
  if (!cells_.empty()) removeItemAtIndex(std::int64_t(cells_.size()) - 1);
}

void Pathbar::removeAllItems() { setPathComponentCells({}); }

bool Pathbar::isFirstItem(const PathbarComponentCell* cell) const { return !cells_.empty() && cells_.front().get() == cell; }
bool Pathbar::isLastItem(const PathbarComponentCell* cell) const { return !cells_.empty() && cells_.back().get() == cell; }

bool Pathbar::isHighlighted(const PathbarComponentCell* cell) const {
  return isLastItem(cell) || (pressedInside_ && pressed_.get() == cell);
}

std::vector<fnd::Rect> Pathbar::segmentFrames() const {
  // Each segment holds its title between an overlap-wide start (the previous segment's arrow
  // lies there) and an overlap-wide arrow end.
  std::vector<fnd::Rect> frames;
  double x = 0, h = bounds().size.height;
  for (std::size_t i = 0; i < cells_.size(); ++i) {
    double text = ui::GraphicsContext::sizeOfText(cells_[i]->title(), titleFont()).width;
    double width = text + 2 * kTitlePadding + kOverlap + (i > 0 ? kOverlap : 0.0);
    frames.emplace_back(x, 0, width, h);
    x += width - kOverlap;
  }
  return frames;
}

int Pathbar::segmentAt(const fnd::Point& p) const {
  // Earlier segments lie on top where they overlap.
  auto frames = segmentFrames();
  for (std::size_t i = 0; i < frames.size(); ++i)
    if (frames[i].contains(p)) return int(i);
  return -1;
}

void Pathbar::drawSegmentBackground(ui::GraphicsContext& context, const PathbarComponentCell* cell, const fnd::Rect& f) {
  ui::Image middle, left, right;
  if (isHighlighted(cell)) {
    middle = ui::Image::named("Pathbar-highlight");
    if (!isFirstItem(cell)) left = ui::Image::named("Pathbar-highlight-arrow-left");
    right = ui::Image::named(isLastItem(cell) ? "Pathbar-highlight-edge" : "Pathbar-highlight-arrow-right");
  } else {
    right = ui::Image::named("Pathbar-separator");
  }
  double lw = widthOf(left), rw = widthOf(right), h = f.size.height;
  context.drawImage(middle, fnd::Rect(f.origin.x + lw, 0, f.size.width - lw - rw, h));
  context.drawImage(left, fnd::Rect(f.origin.x, 0, lw, h));
  context.drawImage(right, fnd::Rect(f.origin.x + f.size.width - rw, 0, rw, h));
}

void Pathbar::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  context.drawImage(ui::Image::named("Pathbar-fill"), bounds());
  auto frames = segmentFrames();
  ui::Font font = titleFont();
  // Later segments first, so each arrow end lies over the start of the next segment.
  for (std::size_t n = cells_.size(); n-- > 0;) {
    const auto* cell = cells_[n].get();
    const fnd::Rect& f = frames[n];
    drawSegmentBackground(context, cell, f);
    fnd::Size text = ui::GraphicsContext::sizeOfText(cell->title(), font);
    double x = f.origin.x + (n > 0 ? kOverlap : 0.0) + kTitlePadding;
    double y = f.origin.y + (f.size.height - text.height) / 2.0;
    fnd::Rect titleRect(x, y, std::max(0.0, f.size.width - (x - f.origin.x) - kOverlap), text.height);
    context.saveState();
    context.drawText(cell->title(), titleRect, font, isHighlighted(cell) ? ui::Color::white() : kTitleColour);
    context.restoreState();
  }
}

void Pathbar::mouseDown(const ui::Event& event) {
  int i = segmentAt(convertPointFromView(event.locationInWindow, nullptr));
  pressed_ = i >= 0 ? cells_[std::size_t(i)] : nullptr;
  pressedInside_ = pressed_ != nullptr;
  setNeedsDisplay();
}

void Pathbar::mouseDragged(const ui::Event& event) {
  if (!pressed_) return;
  int i = segmentAt(convertPointFromView(event.locationInWindow, nullptr));
  bool inside = i >= 0 && cells_[std::size_t(i)] == pressed_;
  if (inside != pressedInside_) {
    pressedInside_ = inside;
    setNeedsDisplay();
  }
}

void Pathbar::mouseUp(const ui::Event& event) {
  mouseDragged(event);
  auto pressed = std::move(pressed_);
  bool inside = pressedInside_;
  pressedInside_ = false;
  setNeedsDisplay();
  if (!pressed || !inside) return;
  clicked_ = pressed;
  if (target_ && !action_.empty()) target_->tryToPerform(action_, this);
}

}  // namespace kesto
