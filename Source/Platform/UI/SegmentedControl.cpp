#include "Platform/UI/SegmentedControl.h"

#include "Platform/UI/Image_p.h"
#include "Platform/UI/ImplAccess_p.h"
#include "Platform/UI/Path.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace kesto::ui {

SegmentedControl::SegmentedControl(const fnd::Rect& frame) : View(frame) {}

void SegmentedControl::setSegmentCount(long count) {
  segments_.resize(size_t(std::max(0L, count)));
  setNeedsDisplay();
}

Image SegmentedControl::imageForSegment(long s) const { return valid(s) ? segments_[size_t(s)].image : Image(); }
void SegmentedControl::setImage(const Image& image, long s) {
  if (!valid(s)) return;
  segments_[size_t(s)].image = image;
  setNeedsDisplay();
}

std::string SegmentedControl::labelForSegment(long s) const { return valid(s) ? segments_[size_t(s)].label : ""; }
void SegmentedControl::setLabel(const std::string& label, long s) {
  if (!valid(s)) return;
  segments_[size_t(s)].label = label;
  setNeedsDisplay();
}

double SegmentedControl::widthForSegment(long s) const { return valid(s) ? segments_[size_t(s)].width : 0; }
void SegmentedControl::setWidth(double width, long s) {
  if (!valid(s)) return;
  segments_[size_t(s)].width = std::max(0.0, width);
  setNeedsDisplay();
}

bool SegmentedControl::isEnabledForSegment(long s) const { return valid(s) && segments_[size_t(s)].enabled; }
void SegmentedControl::setEnabled(bool enabled, long s) {
  if (!valid(s)) return;
  segments_[size_t(s)].enabled = enabled;
  setNeedsDisplay();
}

bool SegmentedControl::isSelectedForSegment(long s) const { return valid(s) && segments_[size_t(s)].selected; }
void SegmentedControl::setSelected(bool selected, long s) {
  if (!valid(s)) return;
  if (selected && trackingMode_ != TrackingMode::SelectAny)
    for (auto& seg : segments_) seg.selected = false;
  segments_[size_t(s)].selected = selected;
  setNeedsDisplay();
}

long SegmentedControl::selectedSegment() const {
  for (size_t i = 0; i < segments_.size(); ++i)
    if (segments_[i].selected) return long(i);
  return -1;
}

void SegmentedControl::setSelectedSegment(long s) {
  for (auto& seg : segments_) seg.selected = false;
  if (valid(s)) segments_[size_t(s)].selected = true;
  setNeedsDisplay();
}

void SegmentedControl::setEnabled(bool enabled) { setDrawnProperty(enabled_, enabled); }

fnd::Rect SegmentedControl::frameOfSegment(long s) const {
  if (!valid(s)) return fnd::Rect();
  fnd::Rect b = bounds();
  // Fixed widths first; the rest share what is left.
  double fixed = 0;
  long flexible = 0;
  for (auto& seg : segments_) {
    if (seg.width > 0) fixed += seg.width;
    else ++flexible;
  }
  double share = flexible > 0 ? std::max(0.0, b.size.width - fixed) / double(flexible) : 0;
  double x = b.origin.x;
  for (long i = 0; i < s; ++i) x += segments_[size_t(i)].width > 0 ? segments_[size_t(i)].width : share;
  double w = segments_[size_t(s)].width > 0 ? segments_[size_t(s)].width : share;
  return fnd::Rect(x, b.origin.y, w, b.size.height);
}

long SegmentedControl::segmentAtPoint(const fnd::Point& p) const {
  for (long i = 0; i < segmentCount(); ++i)
    if (frameOfSegment(i).contains(p)) return i;
  return -1;
}

void SegmentedControl::drawRect(GraphicsContext& context, const fnd::Rect& dirtyRect) {
  // The standard bezel: a rounded frame with separators between the segments.
  fnd::Rect b = bounds();
  context.setStrokeColor(Color::white(0.6));
  Path frame = Path::roundedRect(fnd::Rect(b.origin.x + 0.5, b.origin.y + 0.5, b.size.width - 1, b.size.height - 1), 4, 4);
  context.strokePath(frame);
  for (long i = 1; i < segmentCount(); ++i) {
    fnd::Rect f = frameOfSegment(i);
    context.setFillColor(Color::white(0.6));
    context.fillRect(fnd::Rect(f.origin.x, b.origin.y + 3, 1, b.size.height - 6));
  }
  drawInterior(context, dirtyRect);
}

void SegmentedControl::drawInterior(GraphicsContext& context, const fnd::Rect& dirtyRect) {
  for (long i = 0; i < segmentCount(); ++i) drawSegment(i, context, frameOfSegment(i));
}

void SegmentedControl::drawSegment(long s, GraphicsContext& context, const fnd::Rect& frame) {
  const Segment& seg = segments_[size_t(s)];
  bool on = enabled_ && seg.enabled;
  if (seg.selected) {
    context.setFillColor(Color::white(0.0, on ? 0.12 : 0.06));
    context.fillPath(Path::roundedRect(frame, 4, 4));
  }
  if (!seg.image.isNull()) {
    fnd::Size is = seg.image.size();
    fnd::Rect r(frame.origin.x + (frame.size.width - is.width) / 2, frame.origin.y + (frame.size.height - is.height) / 2,
                is.width, is.height);
    context.drawImage(seg.image, r, on ? 1.0 : 0.5);
  } else if (!seg.label.empty()) {
    context.drawText(seg.label, frame, Font{}, Color::white(0.0, on ? 0.85 : 0.4), TextAlignment::Center);
  }
}

void SegmentedControl::mouseDown(const Event& event) {
  pressed_ = -1;
  if (!enabled_) return;
  long s = segmentAtPoint(convertPointFromView(event.locationInWindow, nullptr));
  if (isEnabledForSegment(s)) pressed_ = s;
}

void SegmentedControl::mouseUp(const Event& event) {
  long s = pressed_;
  pressed_ = -1;
  if (s < 0 || segmentAtPoint(convertPointFromView(event.locationInWindow, nullptr)) != s) return;
  switch (trackingMode_) {
    case TrackingMode::SelectOne: setSelectedSegment(s); break;
    case TrackingMode::SelectAny: setSelected(!isSelectedForSegment(s), s); break;
    case TrackingMode::Momentary: break;
  }
  if (action_) action_();
}

Image templateGlyph(const Image& image, const fnd::Size& size, bool highlighted, bool enabled) {
  if (image.isNull() || size.width <= 0 || size.height <= 0) return Image();
  int w = std::max(1, int(std::ceil(size.width))), h = std::max(1, int(std::ceil(size.height)));
  const int shift = 1;
  QImage mask = ImplAccess::of(image)->image.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                    .convertToFormat(QImage::Format_ARGB32_Premultiplied);

  // The light underlay: the image and a white copy one pixel lower, both at half opacity.
  QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
  out.fill(Qt::transparent);
  {
    QImage white = mask;
    QPainter wp(&white);
    wp.setCompositionMode(QPainter::CompositionMode_SourceIn);
    wp.fillRect(white.rect(), Qt::white);
    wp.end();
    QPainter op(&out);
    op.setOpacity(0.5);
    op.drawImage(0, shift, white);
    op.drawImage(0, 0, mask);
  }

  // The glyph: a gradient from the lighter colour at the bottom to the darker at the top.
  QImage glyph(w, h, QImage::Format_ARGB32_Premultiplied);
  {
    double a = enabled ? 1.0 : 0.5;
    QColor bottom = highlighted ? QColor::fromRgbF(0.0f, 0.55f, 0.98f, float(a)) : QColor::fromRgbF(0.33f, 0.33f, 0.33f, float(a));
    QColor top = highlighted ? QColor::fromRgbF(0.0f, 0.15f, 0.75f, float(a)) : QColor::fromRgbF(0.46f, 0.46f, 0.46f, float(a));
    QLinearGradient g(0, h, 0, 0);
    g.setColorAt(0, bottom);
    g.setColorAt(1, top);
    glyph.fill(Qt::transparent);
    QPainter gp(&glyph);
    gp.fillRect(glyph.rect(), g);
    // Inner shadow: the outside of the shape, moved down a pixel and softened, falls inside
    // the shape along its upper edges.
    QImage outside(w, h, QImage::Format_ARGB32_Premultiplied);
    outside.fill(Qt::transparent);
    {
      QImage inverted(w, h, QImage::Format_ARGB32_Premultiplied);
      inverted.fill(QColor::fromRgbF(0.1f, 0.1f, 0.1f, 1.0f));
      QPainter ip(&inverted);
      ip.setCompositionMode(QPainter::CompositionMode_DestinationOut);
      ip.drawImage(0, 0, mask);
      ip.end();
      QPainter sp(&outside);
      sp.setOpacity(0.75 / 3.0);
      for (int dx = -1; dx <= 1; ++dx) sp.drawImage(dx, shift, inverted);
    }
    gp.drawImage(0, 0, outside);
    gp.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    gp.drawImage(0, 0, mask);
  }
  {
    QPainter op(&out);
    op.drawImage(0, 0, glyph);
  }
  return Image(std::make_shared<Image::Impl>(Image::Impl{out}));
}

}  // namespace kesto::ui
