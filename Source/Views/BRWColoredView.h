#pragma once

#include "Platform/UI/View.h"

#include <string>

namespace kesto {

// A background filled by one of fifteen named styles ("azure", "lightGray", "gradient", ...).
// Changing the style takes effect at the next redraw; an unknown name paints nothing.
class BRWColoredView : public ui::View {
 public:
  using View::View;
  const std::string& color() const { return color_; }
  void setColor(std::string name) { color_ = std::move(name); }
  void awakeFromNib() override;
  void drawRect(ui::GraphicsContext& context, const fnd::Rect& dirtyRect) override;
  // The named greys of the desktop's palette the styles use.
  static ui::Color systemGray() { return ui::Color::white(0.5); }
  static ui::Color systemDarkGray() { return ui::Color::white(1.0 / 3.0); }
  static ui::Color systemLightGray() { return ui::Color::white(2.0 / 3.0); }

 private:
  // Layer borders show only on layer-backed views; unchanged values are not set again, so a
  // redraw does not ask for another.
  void applyBorder(std::optional<ui::Color> colour, std::optional<double> width);
  std::string color_;
};

// A coloured view that takes the keyboard focus when clicked.
class KestoEditView : public BRWColoredView {
 public:
  using BRWColoredView::BRWColoredView;
  bool acceptsFirstResponder() override { return true; }
  void mouseDown(const ui::Event& event) override;
};

}  // namespace kesto
