#include "Views/Unused/GradientTextField.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Path.h"

namespace kesto {

GradientTextField::GradientTextField(const fnd::Rect& frame) : ui::TextField(frame) {
  setBordered(false);
  setDrawsBackground(false);
}

void GradientTextField::setFrame(const fnd::Rect& frame) {
  ui::TextField::setFrame(frame);
  setNeedsDisplay(true);
}

bool GradientTextField::drawsFocusRing() const { return hasKeyboardFocus() && ui::Application::shared().isActive(); }

void GradientTextField::widgetDidGainFocus() {
  ui::TextField::widgetDidGainFocus();
  setNeedsDisplay(true);
}

void GradientTextField::widgetDidLoseFocus() {
  ui::TextField::widgetDidLoseFocus();
  setNeedsDisplay(true);
}

void GradientTextField::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  const double w = bounds().size.width, h = bounds().size.height;
  const bool active = ui::Application::shared().isActive();
  fnd::Rect body(0, 0, w, h - 1);
  ui::Path bodyPath = ui::Path::roundedRect(body, 3.6, 3.6);
  context.saveState();
  context.clipToPath(bodyPath);
  ui::Gradient gradient = active ? ui::Gradient{{{0, ui::Color::white(0.24)}, {1, ui::Color::white(0.374)}}}
                                 : ui::Gradient{{{0, ui::Color::white(0.55)}, {1, ui::Color::white(0.558)}}};
  context.fillGradient(gradient, body, 90);
  context.restoreState();
  context.setFillColor(ui::Color::white(0.88));
  context.fillPath(ui::Path::roundedRect(fnd::Rect(1, 1, w - 2, 10), 2.9, 2.9));
  context.setFillColor(ui::Color::white(1.0));
  context.fillPath(ui::Path::roundedRect(fnd::Rect(1, 2, w - 2, h - 4), 2.6, 2.6));
  if (drawsFocusRing()) {
    context.saveState();
    context.setStrokeColor(ui::Color::rgb(0.23, 0.51, 0.96, 0.8));
    ui::Path ring = ui::Path::roundedRect(body, 3.6, 3.6);
    ring.setLineWidth(2.0);
    context.strokePath(ring);
    context.restoreState();
  }
}

}  // namespace kesto
