#pragma once

namespace kesto::ui {

// A device-independent RGBA colour with components in 0...1.
struct Color {
  double red = 0, green = 0, blue = 0, alpha = 1;

  static Color rgb(double r, double g, double b, double a = 1.0) { return Color{r, g, b, a}; }
  static Color white(double w = 1.0, double a = 1.0) { return Color{w, w, w, a}; }
  static Color black() { return Color{0, 0, 0, 1}; }
  static Color clear() { return Color{0, 0, 0, 0}; }
  Color withAlpha(double a) const { return Color{red, green, blue, a}; }
  double alphaComponent() const { return alpha; }
  bool operator==(const Color&) const = default;
};

}  // namespace kesto::ui
