#include "Platform/UI/GraphicsContext.h"

#include "Platform/UI/GraphicsContext_p.h"
#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPaintDevice>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace kesto::ui {

GraphicsContext::GraphicsContext(Impl* impl, bool flipped, double height)
    : impl_(impl), flipped_(flipped), height_(height) {}
GraphicsContext::~GraphicsContext() = default;

void GraphicsContext::saveState() {
  impl_->painter->save();
  impl_->shadowStack.push_back(impl_->shadowStack.back());
}
void GraphicsContext::restoreState() {
  impl_->painter->restore();
  if (impl_->shadowStack.size() > 1) impl_->shadowStack.pop_back();
}
void GraphicsContext::setFillColor(const Color& c) { impl_->fill = toQColor(c); }
void GraphicsContext::setStrokeColor(const Color& c) { impl_->stroke = toQColor(c); }

namespace {
// Draws the shadow of a shape: a blurred-looking stack of offset fills (cheap, and enough for
// the soft shadows the interface uses).
void paintShadow(GraphicsContext::Impl* impl, const QPainterPath& shape, bool flipped) {
  auto& sh = impl->shadowStack.back();
  if (!sh || sh->color.alpha() == 0) return;
  QPainter& p = *impl->painter;
  p.save();
  // The offset is on screen, y upwards (a negative height falls below), in either kind of view.
  QPointF off(sh->offset.x(), flipped ? -sh->offset.y() : sh->offset.y());
  int steps = std::max(1, int(std::ceil(sh->blur)));
  QColor c = sh->color;
  c.setAlphaF(c.alphaF() / steps);
  for (int i = 0; i < steps; ++i) {
    double grow = sh->blur * (steps - i) / steps;
    QPainterPathStroker stroker;
    stroker.setWidth(grow * 2);
    QPainterPath spread = shape.united(stroker.createStroke(shape));
    p.fillPath(spread.translated(off), c);
  }
  p.restore();
}
}  // namespace

void GraphicsContext::fillRect(const fnd::Rect& rect) {
  QPainterPath path;
  path.addRect(toQRect(rect));
  paintShadow(impl_, path, flipped_);
  auto mode = impl_->painter->compositionMode();
  impl_->painter->setCompositionMode(QPainter::CompositionMode_Source);
  impl_->painter->fillRect(toQRect(rect), impl_->fill);
  impl_->painter->setCompositionMode(mode);
}

void GraphicsContext::frameRect(const fnd::Rect& rect, double lineWidth) {
  QPen pen(impl_->stroke, lineWidth);
  pen.setJoinStyle(Qt::MiterJoin);
  impl_->painter->setPen(pen);
  impl_->painter->setBrush(Qt::NoBrush);
  double h = lineWidth / 2;
  impl_->painter->drawRect(toQRect(rect).adjusted(h, h, -h, -h));
}

void GraphicsContext::fillPath(const Path& path) {
  QPainterPath qp = toQPath(path);
  paintShadow(impl_, qp, flipped_);
  impl_->painter->fillPath(qp, impl_->fill);
}

void GraphicsContext::strokePath(const Path& path) {
  impl_->painter->strokePath(toQPath(path), QPen(impl_->stroke, path.lineWidth()));
}

void GraphicsContext::fillGradient(const Gradient& gradient, const fnd::Rect& rect, double angle) {
  QRectF r = toQRect(rect);
  double rad = angle * M_PI / 180.0;
  QPointF c = r.center();
  QPointF d(std::cos(rad) * r.width() / 2, std::sin(rad) * r.height() / 2);
  QLinearGradient g(c - d, c + d);
  for (auto& s : gradient.stops) g.setColorAt(s.location, toQColor(s.color));
  impl_->painter->fillRect(r, g);
}

void GraphicsContext::fillPathWithPattern(const Path& path, const Image& image, const fnd::Point& phase) {
  if (image.isNull()) return;
  QPainter& p = *impl_->painter;
  const QImage& tile = ImplAccess::of(image)->image;
  QBrush brush(tile);
  // Tiles are upright images: in an unflipped view each is turned back over, so it shows as
  // drawn wherever the pattern repeats.
  QTransform t = QTransform::fromTranslate(phase.x, phase.y);
  if (!flipped_) t = QTransform(1, 0, 0, -1, phase.x, phase.y + tile.height());
  brush.setTransform(t);
  p.save();
  p.setCompositionMode(QPainter::CompositionMode_SourceOver);
  p.fillPath(toQPath(path), brush);
  p.restore();
}

namespace {
// Runs `draw` with the painter upright (y downwards) over the given view rect.
template <typename F>
void upright(QPainter& p, bool flipped, const QRectF& viewRect, F&& draw) {
  if (flipped) {
    draw(viewRect);
    return;
  }
  QRectF device = p.transform().mapRect(viewRect);
  p.save();
  p.setTransform(QTransform());
  draw(device);
  p.restore();
}
}  // namespace

void GraphicsContext::drawImage(const Image& image, const fnd::Rect& rect, double alpha) {
  if (image.isNull()) return;
  QPainter& p = *impl_->painter;
  upright(p, flipped_, toQRect(rect), [&](const QRectF& r) {
    double old = p.opacity();
    p.setOpacity(old * alpha);
    // Artwork is drawn at other sizes than its own: filter it rather than drop pixels.
    bool smooth = p.testRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    // Scalable artwork is rendered at the device pixels it covers (sharp at scale 2 too).
    const QTransform& t = p.worldTransform();
    const double scale = (p.device() ? p.device()->devicePixelRatioF() : 1.0) *
                         std::max(std::hypot(t.m11(), t.m12()), 1e-6);
    p.drawImage(r, ImplAccess::of(image)->atPixelSize(QSize(int(std::lround(r.width() * scale)),
                                                   int(std::lround(r.height() * scale)))));
    p.setRenderHint(QPainter::SmoothPixmapTransform, smooth);
    p.setOpacity(old);
  });
}

namespace {

// Font sizes are in the units of view geometry (device-independent pixels), which is what the
// layouts were drawn for; the toolkit's points are 1/72 inch at the screen's logical resolution,
// so a size taken as toolkit points would draw a third larger than its frame on a 96 dpi screen.
double toolkitPointsPerUnit() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  const double dpi = screen ? screen->logicalDotsPerInchY() : 0.0;
  return 72.0 / (dpi > 0 ? dpi : 96.0);
}

}  // namespace

QFont toQFont(const Font& font) {
  QFont f = font.family.empty() ? QGuiApplication::font() : QFont(QString::fromStdString(font.family));
  f.setPointSizeF(font.pointSize * toolkitPointsPerUnit());
  f.setBold(font.bold);
  f.setItalic(font.italic);
  return f;
}

Font fromQFont(const QFont& f) {
  const double size = f.pointSizeF() > 0 ? f.pointSizeF() / toolkitPointsPerUnit() : f.pixelSize();
  return Font{std::string(), size, f.bold(), f.italic()};
}

namespace {

// The number of characters that can show on `lines` lines of `width` points: a little over one
// per point, so an elision still has text of its own to cut.
std::size_t charactersThatCanShow(double width, std::size_t lines) {
  const double room = std::max(0.0, width) + 16;
  return static_cast<std::size_t>(std::min(room * static_cast<double>(std::max<std::size_t>(lines, 1)), 1e6));
}

// The byte offset after `count` characters of `text` from `from`, or the end.
std::size_t advance(const std::string& text, std::size_t from, std::size_t count) {
  std::size_t at = from;
  for (std::size_t counted = 0; at < text.size() && counted < count; ++counted) {
    ++at;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
  }
  return at;
}

// The first and the last characters that can show, joined by an ellipsis when the text is longer.
std::string endsThatCanShow(const std::string& text, double width) {
  const std::size_t characters = charactersThatCanShow(width, 1);
  const std::size_t head = advance(text, 0, characters);
  if (head >= text.size()) return text;
  std::size_t tail = text.size();
  for (std::size_t counted = 0; tail > head && counted < characters; ++counted) {
    --tail;
    while (tail > head && (static_cast<unsigned char>(text[tail]) & 0xC0) == 0x80) --tail;
  }
  if (tail <= head) return text;
  return text.substr(0, head) + "\u2026" + text.substr(tail);
}

}  // namespace

void GraphicsContext::drawText(const std::string& text, const fnd::Rect& rect, const Font& font,
                               const Color& color, TextAlignment alignment, TextTruncation truncation) {
  QPainter& p = *impl_->painter;
  upright(p, flipped_, toQRect(rect), [&](const QRectF& r) {
    p.setFont(toQFont(font));
    p.setPen(toQColor(color));
    int align = Qt::AlignTop | (alignment == TextAlignment::Center ? Qt::AlignHCenter
                                : alignment == TextAlignment::Right ? Qt::AlignRight
                                                                     : Qt::AlignLeft);
    QFontMetricsF fm(p.font());
    // Only what can show is measured: the start of the text, and for a cut in the middle its end too.
    const std::string shown = truncation == TextTruncation::Middle ? endsThatCanShow(text, r.width())
                                                                   : prefixThatCanShow(text, r.width());
    QString elided = fm.elidedText(QString::fromStdString(shown),
                                   truncation == TextTruncation::Middle ? Qt::ElideMiddle : Qt::ElideRight, r.width());
    p.drawText(r, align, elided);
  });
}

std::string GraphicsContext::prefixThatCanShow(const std::string& text, double width, std::size_t lines) {
  const std::size_t at = advance(text, 0, charactersThatCanShow(width, lines));
  if (at >= text.size()) return text;
  return text.substr(0, at) + "\u2026";
}

fnd::Size GraphicsContext::sizeOfText(const std::string& text, const Font& font) {
  QFontMetricsF fm(toQFont(font));
  QRectF r = fm.boundingRect(QString::fromStdString(text));
  return fnd::Size{std::ceil(fm.horizontalAdvance(QString::fromStdString(text))), std::ceil(r.height())};
}

void GraphicsContext::clipToRect(const fnd::Rect& rect) {
  impl_->painter->setClipRect(toQRect(rect), Qt::IntersectClip);
}
void GraphicsContext::clipToPath(const Path& path) {
  impl_->painter->setClipPath(toQPath(path), Qt::IntersectClip);
}

void GraphicsContext::setShadow(const fnd::Size& offset, double blur, const Color& color) {
  impl_->shadowStack.back() = Impl::Shadow{QPointF(offset.width, offset.height), blur, toQColor(color)};
}
void GraphicsContext::clearShadow() { impl_->shadowStack.back().reset(); }

}  // namespace kesto::ui
