#include "Views/BezierPathGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

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

// Cubic curves of at most 90 degrees each.
void appendArc(ui::Path& path, const fnd::Point& centre, double radius, double fromDegrees, double toDegrees) {
  auto at = [&](double deg) {
    double r = deg * std::numbers::pi / 180.0;
    return fnd::Point{centre.x + radius * std::cos(r), centre.y + radius * std::sin(r)};
  };
  fnd::Point start = at(fromDegrees);
  if (path.isEmpty()) path.moveTo(start);
  else path.lineTo(start);
  double step = 90.0;
  for (double a = fromDegrees; a < toDegrees - 1e-9; a += step) {
    double b = std::min(a + step, toDegrees);
    double theta = (b - a) * std::numbers::pi / 180.0;
    double k = 4.0 / 3.0 * std::tan(theta / 4.0) * radius;
    double ra = a * std::numbers::pi / 180.0, rb = b * std::numbers::pi / 180.0;
    fnd::Point p0 = at(a), p3 = at(b);
    fnd::Point c1{p0.x - k * std::sin(ra), p0.y + k * std::cos(ra)};
    fnd::Point c2{p3.x + k * std::sin(rb), p3.y - k * std::cos(rb)};
    path.curveTo(p3, c1, c2);
  }
}

}  // namespace kesto::geometry
