#include "MenuBar/KRSharedImageProvider.h"

#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"

#include <map>
#include <optional>

namespace kesto {

namespace {

using Size = KRSharedImageProvider;

// The arrow's outline in fractions of the image, narrowed a little and moved half a point.
void drawSnapback(ui::GraphicsContext& g) {
  const double s = Size::kSize;
  const auto at = [&](double x, double y) { return fnd::Point{x * s * 0.9 + 0.5, y * s - 0.5}; };
  ui::Path arrow;
  arrow.moveTo(at(0.0490, 0.6182));
  arrow.lineTo(at(0.4086, 0.9469));
  arrow.lineTo(at(0.4086, 0.7226));
  arrow.curveTo(at(0.8508, 0.4836), at(0.4086, 0.7226), at(0.8371, 0.7492));
  arrow.curveTo(at(0.5507, 0.0531), at(0.8678, 0.1545), at(0.5507, 0.0531));
  arrow.curveTo(at(0.7422, 0.3392), at(0.5507, 0.0531), at(0.7459, 0.1913));
  arrow.curveTo(at(0.4086, 0.5154), at(0.7383, 0.4930), at(0.4086, 0.5154));
  arrow.lineTo(at(0.4086, 0.2654));
  arrow.close();
  g.saveState();
  g.setShadow(fnd::Size{0, -1}, 1, ui::Color::white(0, 0.45));
  g.setFillColor(ui::Color::white(1.0));
  g.fillPath(arrow);
  g.restoreState();
}

void drawRemove(ui::GraphicsContext& g, double alpha) {
  const double s = Size::kSize, unit = s / 14;
  g.setFillColor(ui::Color::white(0, alpha));
  g.fillPath(ui::Path::oval(fnd::Rect(0, 0, s, s)));
  ui::Path cross;
  cross.moveTo({4 * unit, 4 * unit});
  cross.lineTo({10 * unit, 10 * unit});
  cross.moveTo({10 * unit, 4 * unit});
  cross.lineTo({4 * unit, 10 * unit});
  cross.setLineWidth(1.2 * unit);
  g.setStrokeColor(ui::Color::white(1.0));
  g.strokePath(cross);
}

std::optional<std::function<void(ui::GraphicsContext&)>> drawingNamed(const std::string& name) {
  if (name == "KRSnapback") return drawSnapback;
  if (name == "KRRemoveShortcut") return [](ui::GraphicsContext& g) { drawRemove(g, 0.25); };
  if (name == "KRRemoveShortcutRollover") return [](ui::GraphicsContext& g) { drawRemove(g, 0.35); };
  if (name == "KRRemoveShortcutPressed") return [](ui::GraphicsContext& g) { drawRemove(g, 0.45); };
  return std::nullopt;
}

}  // namespace

ui::Image KRSharedImageProvider::supportingImageWithName(const std::string& name) {
  // Main thread only, as every recorder.
  static std::map<std::string, ui::Image> made;
  if (auto it = made.find(name); it != made.end()) return it->second;
  auto drawing = drawingNamed(name);
  if (!drawing) return ui::Image();
  ui::Image image = ui::Image::drawn(fnd::Size{kSize, kSize}, *drawing);
  made.emplace(name, image);
  return image;
}

}  // namespace kesto
