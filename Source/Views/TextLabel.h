#pragma once

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/View.h"

#include <string>
#include <vector>

namespace kesto {

// A label drawn by the view itself, flipped so its text reads top down.
class TextLabel : public ui::View {
 public:
  explicit TextLabel(const fnd::Rect& frame = fnd::Rect());
  bool isFlipped() const override { return true; }
  // Its drawing follows from its text, font, colour, alignment and size alone.
  bool keepsDrawing() const override { return true; }
  const std::string& stringValue() const { return text_; }
  void setStringValue(const std::string& text);
  void setFont(const ui::Font& font);
  const ui::Font& font() const { return font_; }
  // A shorter form of the text, drawn instead whenever the text is wider than the label (one
  // line); empty for none. Set it after the text: a new text drops it.
  void setShortStringValue(const std::string& text);
  // Drawn dimmed while the text is empty, so that a caption never stands beside nothing.
  void setPlaceholderString(const std::string& text);
  // What the label draws at its present width (the placeholder while the text is empty).
  const std::string& displayedString() const;
  // Whether `text` fits the label's width on one line.
  bool fitsOnOneLine(const std::string& text) const;
  void setTextColor(const ui::Color& color);
  void setAlignment(ui::TextAlignment alignment);
  // A wrapping label breaks its text into lines that fit its width (at spaces and slashes, or
  // anywhere in a word too long for a line); the last line that fits its height is cut short.
  void setWraps(bool wraps);
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;

  // The lines `text` takes at `width` in `font`; joined they give the text back.
  static std::vector<std::string> wrappedLines(const std::string& text, double width, const ui::Font& font);
  // The height of one line of `font`.
  static double lineHeight(const ui::Font& font);

 private:
  bool wraps_ = false;
  std::string text_, shortText_, placeholder_;
  ui::Font font_;
  ui::Color color_ = ui::Color::white(0.1);
  ui::TextAlignment alignment_ = ui::TextAlignment::Left;
};

}  // namespace kesto
