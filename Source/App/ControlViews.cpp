#include "App/ControlViews.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"

#include <algorithm>

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

void TextLabel::setWraps(bool wraps) {
  wraps_ = wraps;
  setNeedsDisplay();
}

double TextLabel::lineHeight(const ui::Font& font) {
  return std::max(1.0, ui::GraphicsContext::sizeOfText("Ag", font).height);
}

std::vector<std::string> TextLabel::wrappedLines(const std::string& text, double width, const ui::Font& font) {
  auto fits = [&](const std::string& piece) { return ui::GraphicsContext::sizeOfText(piece, font).width <= width; };
  // Pieces end after a space or a slash, so paths break between their folders.
  std::vector<std::string> pieces;
  std::string piece;
  for (char c : text) {
    piece += c;
    if (c == ' ' || c == '/' || c == '\n') {
      pieces.push_back(std::move(piece));
      piece.clear();
    }
  }
  if (!piece.empty()) pieces.push_back(std::move(piece));

  std::vector<std::string> lines;
  std::string line;
  auto flush = [&] {
    if (!line.empty()) lines.push_back(std::move(line));
    line.clear();
  };
  for (const auto& p : pieces) {
    if (fits(line + p)) {
      line += p;
    } else {
      flush();
      if (fits(p)) {
        line = p;
      } else {
        // Too long for any line: broken between characters, never inside one.
        for (std::size_t i = 0; i < p.size();) {
          std::size_t n = 1;
          while (i + n < p.size() && (static_cast<unsigned char>(p[i + n]) & 0xC0) == 0x80) ++n;
          std::string ch = p.substr(i, n);
          if (!line.empty() && !fits(line + ch)) flush();
          line += ch;
          i += n;
        }
      }
    }
    if (!p.empty() && p.back() == '\n') flush();
  }
  flush();
  return lines;
}

void TextLabel::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  if (text_.empty()) return;
  if (!wraps_) {
    context.drawText(text_, bounds(), font_, color_, alignment_);
    return;
  }
  const fnd::Rect b = bounds();
  const double step = lineHeight(font_);
  auto lines = wrappedLines(text_, b.size.width, font_);
  const std::size_t room = std::max<std::size_t>(1, static_cast<std::size_t>(b.size.height / step));
  for (std::size_t i = 0; i < lines.size() && i < room; ++i) {
    std::string line = lines[i];
    // What does not fit goes on the last line, which the drawing cuts short.
    if (i + 1 == room)
      for (std::size_t j = i + 1; j < lines.size(); ++j) line += lines[j];
    while (!line.empty() && (line.back() == '\n')) line.pop_back();
    context.drawText(line, fnd::Rect(b.origin.x, b.origin.y + step * static_cast<double>(i), b.size.width, step),
                     font_, color_, alignment_);
  }
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

ui::Image imageNamed(const std::string& name) { return ui::Image::named(name); }

}  // namespace kesto
