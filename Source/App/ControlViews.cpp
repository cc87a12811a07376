#include "App/ControlViews.h"

#include "Platform/UI/Path.h"

#include <map>

namespace kesto {

TextLabel::TextLabel(const fnd::Rect& frame) : ui::View(frame) { font_.pointSize = 12; }

void TextLabel::setStringValue(const std::string& text) {
  if (text == text_) return;
  text_ = text;
  setNeedsDisplay();
}

void TextLabel::setFont(const ui::Font& font) {
  font_ = font;
  setNeedsDisplay();
}

void TextLabel::setTextColor(const ui::Color& color) {
  color_ = color;
  setNeedsDisplay();
}

void TextLabel::setAlignment(ui::TextAlignment alignment) {
  alignment_ = alignment;
  setNeedsDisplay();
}

void TextLabel::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  if (text_.empty()) return;
  context.drawText(text_, bounds(), font_, color_, alignment_);
}

ImageBox::ImageBox(const fnd::Rect& frame) : ui::View(frame) {}

void ImageBox::setImage(const ui::Image& image) {
  image_ = image;
  imageName_.clear();
  setNeedsDisplay();
}

void ImageBox::setImageNamed(const std::string& name) {
  image_ = name.empty() ? ui::Image() : imageNamed(name);
  imageName_ = name;
  setNeedsDisplay();
}

void ImageBox::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  if (!image_.isNull()) context.drawImage(image_, bounds());
}

PushButton::PushButton(const fnd::Rect& frame) : ui::View(frame) {}

void PushButton::setTitle(const std::string& title) {
  title_ = title;
  setNeedsDisplay();
}

void PushButton::setImageNamed(const std::string& name) {
  imageName_ = name;
  setNeedsDisplay();
}

void PushButton::setEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  setNeedsDisplay();
}

void PushButton::performClick() {
  if (!enabled_ || isHiddenOrHasHiddenAncestor() || !action_) return;
  auto action = action_;  // the action may replace itself
  action();
}

void PushButton::mouseDown(const ui::Event&) {
  pressed_ = enabled_;
  setNeedsDisplay();
}

void PushButton::mouseUp(const ui::Event& event) {
  bool wasPressed = pressed_;
  pressed_ = false;
  setNeedsDisplay();
  fnd::Point p = convertPointFromView(event.locationInWindow, nullptr);
  if (wasPressed && bounds().contains(p)) performClick();
}

void PushButton::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  fnd::Rect r = bounds().insetBy(1, 1);
  context.setFillColor(pressed_ ? ui::Color::white(0.55) : ui::Color::white(0.88));
  context.fillPath(ui::Path::roundedRect(r, 4, 4));
  context.setStrokeColor(ui::Color::white(0.6));
  context.strokePath(ui::Path::roundedRect(r, 4, 4));
  double alpha = enabled_ ? 1.0 : 0.35;
  ui::Image image = imageNamed(imageName_);
  fnd::Rect textRect = r;
  if (!image.isNull()) {
    double side = std::min(r.size.height - 6, 16.0);
    fnd::Rect imageRect(r.origin.x + 5, r.midY() - side / 2, side, side);
    if (title_.empty()) imageRect.origin.x = r.midX() - side / 2;
    context.drawImage(image, imageRect, alpha);
    textRect = fnd::Rect(imageRect.maxX() + 4, r.origin.y, r.maxX() - imageRect.maxX() - 6, r.size.height);
  }
  if (!title_.empty()) {
    ui::Font font;
    font.pointSize = 12;
    context.drawText(title_, textRect, font, ui::Color::white(0.1, alpha),
                     image.isNull() ? ui::TextAlignment::Center : ui::TextAlignment::Left);
  }
}

namespace {

ui::Color colourForName(const std::string& name) {
  static const std::map<std::string, ui::Color> known = {
      {"bookmark_green", ui::Color::rgb(0.30, 0.70, 0.30)},  {"bookmark_grey", ui::Color::white(0.55)},
      {"bookmark_blue", ui::Color::rgb(0.20, 0.45, 0.85)},   {"bookmark_orange", ui::Color::rgb(0.95, 0.55, 0.15)},
      {"bookmark_red", ui::Color::rgb(0.85, 0.20, 0.20)},    {"bookmark_yellow", ui::Color::rgb(0.95, 0.85, 0.20)},
      {"bookmark_warning", ui::Color::rgb(0.95, 0.70, 0.0)}, {"bookmark_favorite_selected", ui::Color::rgb(0.95, 0.75, 0.1)},
      {"pinboard", ui::Color::rgb(0.15, 0.35, 0.75)},        {"delicious", ui::Color::rgb(0.2, 0.4, 0.9)},
  };
  auto it = known.find(name);
  if (it != known.end()) return it->second;
  // A stable colour for every other name.
  unsigned h = 2166136261u;
  for (unsigned char c : name) h = (h ^ c) * 16777619u;
  return ui::Color::rgb(0.25 + (h & 0xff) / 512.0, 0.25 + ((h >> 8) & 0xff) / 512.0, 0.25 + ((h >> 16) & 0xff) / 512.0);
}

}  // namespace

ui::Image imageNamed(const std::string& name) {
  if (name.empty()) return ui::Image();
  static std::map<std::string, ui::Image> cache;
  auto it = cache.find(name);
  if (it != cache.end()) return it->second;
  // A square swatch; "_selected" variants are opaque, the others lighter, so the state shows.
  ui::Color colour = colourForName(name);
  bool selected = name.size() > 9 && name.compare(name.size() - 9, 9, "_selected") == 0;
  ui::Image result(32, 32, selected ? colour : colour.withAlpha(0.6));
  cache.emplace(name, result);
  return result;
}

}  // namespace kesto
