#include "Views/TextLabel.h"

#include "Platform/UI/GraphicsContext.h"

#include <algorithm>

namespace kesto {

TextLabel::TextLabel(const fnd::Rect& frame) : ui::View(frame) { font_.pointSize = 12; }

void TextLabel::setStringValue(const std::string& text) {
  shortText_.clear();
  if (text == text_) return;
  text_ = text;
  setNeedsDisplay();
}

void TextLabel::setShortStringValue(const std::string& text) {
  shortText_ = text;
  setNeedsDisplay();
}

void TextLabel::setPlaceholderString(const std::string& text) {
  if (text == placeholder_) return;
  placeholder_ = text;
  if (text_.empty()) setNeedsDisplay();
}

const std::string& TextLabel::displayedString() const {
  if (text_.empty()) return placeholder_;
  return !wraps_ && !shortText_.empty() && !fitsOnOneLine(text_) ? shortText_ : text_;
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

bool TextLabel::fitsOnOneLine(const std::string& text) const {
  return ui::GraphicsContext::sizeOfText(text, font_).width <= bounds().size.width;
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
  if (text_.empty()) {
    if (!placeholder_.empty()) context.drawText(placeholder_, bounds(), font_, ui::Color::white(0.55), alignment_);
    return;
  }
  if (!wraps_) {
    // Chosen at each drawing: the label's width follows its cell's.
    context.drawText(displayedString(), bounds(), font_, color_, alignment_);
    return;
  }
  const fnd::Rect b = bounds();
  const double step = lineHeight(font_);
  const std::size_t room = std::max<std::size_t>(1, static_cast<std::size_t>(b.size.height / step));
  // Only what the lines can hold is wrapped: wrapping measures text character by character.
  auto lines = wrappedLines(ui::GraphicsContext::prefixThatCanShow(text_, b.size.width, room), b.size.width, font_);
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

}  // namespace kesto
