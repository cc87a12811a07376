#pragma once

#include "Platform/UI/GraphicsContext.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

#include <optional>
#include <vector>

namespace kesto::ui {

class View;

struct GraphicsContext::Impl {
  QPainter* painter = nullptr;
  QColor fill = Qt::black;
  QColor stroke = Qt::black;
  struct Shadow {
    QPointF offset;
    double blur = 0;
    QColor color;
  };
  std::vector<std::optional<Shadow>> shadowStack{std::nullopt};
};

inline QColor toQColor(const Color& c) {
  return QColor::fromRgbF(float(c.red), float(c.green), float(c.blue), float(c.alpha));
}
inline Color fromQColor(const QColor& c) {
  return Color{c.redF(), c.greenF(), c.blueF(), c.alphaF()};
}
inline QRectF toQRect(const fnd::Rect& r) {
  return QRectF(r.origin.x, r.origin.y, r.size.width, r.size.height);
}
QPainterPath toQPath(const Path& path);
QFont toQFont(const Font& font);
// The inverse of toQFont for a widget's font (family left as the system's).
Font fromQFont(const QFont& font);

// Paints a view's own layer look (background, contents, drawRect, border) with the painter set
// to the widget; used by the widget and by snapshots.
void paintView(View* view, QPainter& painter, const QRect& dirty);

}  // namespace kesto::ui
