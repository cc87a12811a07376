#include "Views/BezierPathGeometry.h"

#include <cmath>

namespace kesto::geometry {

fnd::Point centerOfBounds(const ui::Path& path) {
  fnd::Rect b = path.bounds();
  return fnd::Point{b.origin.x + b.size.width / 2, b.origin.y + b.size.height / 2};
}

ui::Path rotatedBezierPath(const ui::Path& path, float radians, const fnd::Point& point) {
  if (radians == 0.0f) return path;
  const double c = std::cos(static_cast<double>(radians));
  const double s = std::sin(static_cast<double>(radians));
  auto turn = [&](const fnd::Point& p) {
    double dx = p.x - point.x, dy = p.y - point.y;
    return fnd::Point{point.x + dx * c - dy * s, point.y + dx * s + dy * c};
  };
  ui::Path out;
  out.setLineWidth(path.lineWidth());
  for (const auto& e : path.elements()) {
    switch (e.op) {
      case ui::Path::Op::Move: out.moveTo(turn(e.points[0])); break;
      case ui::Path::Op::Line: out.lineTo(turn(e.points[0])); break;
      case ui::Path::Op::Curve: out.curveTo(turn(e.points[0]), turn(e.points[1]), turn(e.points[2])); break;
      case ui::Path::Op::Close: out.close(); break;
    }
  }
  return out;
}

ui::Path rotatedBezierPath(const ui::Path& path, float radians) {
  return rotatedBezierPath(path, radians, centerOfBounds(path));
}

}  // namespace kesto::geometry
