#include "Platform/UI/Path.h"

#include "Platform/UI/GraphicsContext_p.h"

namespace kesto::ui {

Path Path::rect(const fnd::Rect& r) {
  Path p;
  p.appendRect(r);
  return p;
}
Path Path::roundedRect(const fnd::Rect& r, double xr, double yr) {
  Path p;
  p.appendRoundedRect(r, xr, yr);
  return p;
}
Path Path::oval(const fnd::Rect& r) {
  Path p;
  p.appendOval(r);
  return p;
}

void Path::moveTo(const fnd::Point& p) { elements_.push_back({Op::Move, {p, {}, {}}}); }
void Path::lineTo(const fnd::Point& p) { elements_.push_back({Op::Line, {p, {}, {}}}); }
void Path::curveTo(const fnd::Point& end, const fnd::Point& c1, const fnd::Point& c2) {
  elements_.push_back({Op::Curve, {end, c1, c2}});
}
void Path::close() { elements_.push_back({Op::Close, {}}); }

void Path::appendRect(const fnd::Rect& r) {
  moveTo(r.origin);
  lineTo({r.origin.x + r.size.width, r.origin.y});
  lineTo({r.origin.x + r.size.width, r.origin.y + r.size.height});
  lineTo({r.origin.x, r.origin.y + r.size.height});
  close();
}

namespace {
// Appends the elements of a toolkit path (used for the curved shapes).
void appendQPath(Path& out, const QPainterPath& qp) {
  for (int i = 0; i < qp.elementCount(); ++i) {
    auto e = qp.elementAt(i);
    if (e.isMoveTo()) out.moveTo({e.x, e.y});
    else if (e.isLineTo()) out.lineTo({e.x, e.y});
    else if (e.isCurveTo() && i + 2 < qp.elementCount()) {
      auto c2 = qp.elementAt(i + 1), end = qp.elementAt(i + 2);
      out.curveTo({end.x, end.y}, {e.x, e.y}, {c2.x, c2.y});
      i += 2;
    }
  }
  out.close();
}
}  // namespace

void Path::appendOval(const fnd::Rect& r) {
  QPainterPath qp;
  qp.addEllipse(toQRect(r));
  appendQPath(*this, qp);
}

void Path::appendRoundedRect(const fnd::Rect& r, double xr, double yr) {
  QPainterPath qp;
  qp.addRoundedRect(toQRect(r), xr, yr);
  appendQPath(*this, qp);
}

fnd::Rect Path::bounds() const {
  QRectF b = toQPath(*this).boundingRect();
  return fnd::Rect(b.x(), b.y(), b.width(), b.height());
}

QPainterPath toQPath(const Path& path) {
  QPainterPath qp;
  for (auto& e : path.elements()) {
    switch (e.op) {
      case Path::Op::Move: qp.moveTo(e.points[0].x, e.points[0].y); break;
      case Path::Op::Line: qp.lineTo(e.points[0].x, e.points[0].y); break;
      case Path::Op::Curve:
        qp.cubicTo(e.points[1].x, e.points[1].y, e.points[2].x, e.points[2].y, e.points[0].x,
                   e.points[0].y);
        break;
      case Path::Op::Close: qp.closeSubpath(); break;
    }
  }
  return qp;
}

}  // namespace kesto::ui
