#include "Platform/UI/LevelIndicator.h"

#include "Platform/UI/WidgetHostView_p.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace kesto::ui {

namespace {

QPainterPath starPath(const QRectF& r) {
  QPainterPath path;
  const double cx = r.center().x(), cy = r.center().y();
  const double outer = std::min(r.width(), r.height()) * 0.45, inner = outer * 0.42;
  for (int i = 0; i < 10; ++i) {
    double radius = i % 2 ? inner : outer;
    double angle = -M_PI / 2 + i * M_PI / 5;
    QPointF p(cx + radius * std::cos(angle), cy + radius * std::sin(angle));
    if (i == 0) path.moveTo(p);
    else path.lineTo(p);
  }
  path.closeSubpath();
  return path;
}

class RatingWidget : public QWidget {
 public:
  explicit RatingWidget(LevelIndicator* owner) : owner_(owner) { setAttribute(Qt::WA_TranslucentBackground); }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const bool light = owner_->isHighlighted();
    const QColor filled = light ? QColor(255, 255, 255) : QColor(77, 77, 77);
    const QColor empty = light ? QColor(255, 255, 255, 150) : QColor(153, 153, 153);
    const int stars = int(owner_->maxValue());
    const double value = owner_->doubleValue();
    const fnd::Rect b = owner_->bounds();
    for (int i = 0; i < stars; ++i) {
      fnd::Rect s = owner_->rectOfStar(i);
      double top = owner_->isFlipped() ? s.origin.y - b.origin.y : b.origin.y + b.size.height - s.origin.y - s.size.height;
      QRectF r(s.origin.x - b.origin.x, top, s.size.width, s.size.height);
      if (i < std::lround(value)) {
        p.fillPath(starPath(r), filled);
      } else {
        // An empty place shows a dot, as rating controls do.
        p.setPen(Qt::NoPen);
        p.setBrush(empty);
        p.drawEllipse(r.center(), 1.5, 1.5);
      }
    }
  }
  void mousePressEvent(QMouseEvent* e) override {
    e->accept();
    owner_->userClickedAt(owner_->bounds().origin.x + e->position().x());
  }

 private:
  LevelIndicator* owner_;
};

}  // namespace

LevelIndicator::LevelIndicator(const fnd::Rect& frame) : Control(frame) {
  auto* w = new RatingWidget(this);
  w->setFocusPolicy(Qt::NoFocus);
  setHostedWidget(*this, w);
}

void LevelIndicator::setMaxValue(double maxValue) {
  max_ = std::max(1.0, std::floor(maxValue));
  setDoubleValue(value_);
}

void LevelIndicator::setDoubleValue(double value) {
  value_ = std::clamp(value, 0.0, max_);
  if (QWidget* w = hostedWidget(*this)) w->update();
}

void LevelIndicator::setHighlighted(bool highlighted) {
  highlighted_ = highlighted;
  if (QWidget* w = hostedWidget(*this)) w->update();
}

fnd::Rect LevelIndicator::rectOfStar(int index) const {
  fnd::Rect b = bounds();
  double cell = std::min(b.size.height, b.size.width / max_);
  double y = b.origin.y + (b.size.height - cell) / 2;
  return fnd::Rect(b.origin.x + index * cell, y, cell, cell);
}

double LevelIndicator::valueForClickAt(double x) const {
  fnd::Rect b = bounds();
  double cell = std::min(b.size.height, b.size.width / max_);
  double offset = x - b.origin.x;
  if (cell <= 0 || offset < cell * 0.25) return 0;
  return std::clamp(std::floor(offset / cell) + 1, 0.0, max_);
}

void LevelIndicator::userClickedAt(double x) {
  if (!editable_ || !isEnabled()) return;
  setDoubleValue(valueForClickAt(x));
  sendAction();
}

}  // namespace kesto::ui
