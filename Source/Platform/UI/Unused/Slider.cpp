#include "Platform/UI/Unused/Slider.h"

#include "Platform/UI/WidgetHostView_p.h"

#include <QSlider>

#include <algorithm>
#include <cmath>

namespace kesto::ui {

namespace {
// The widget counts in whole steps; this many over the range.
constexpr int kSteps = 1000;
QSlider* slider(const Slider& s) { return hostedWidgetAs<QSlider>(s); }
}  // namespace

Slider::Slider(const fnd::Rect& frame) : Control(frame) {
  auto* s = new QSlider(frame.size.height > frame.size.width ? Qt::Vertical : Qt::Horizontal);
  s->setRange(0, kSteps);
  // Changes from code block the signal, so this hears only the user.
  QObject::connect(s, &QSlider::valueChanged, s, [this](int) { sendAction(); });
  setHostedWidget(*this, s);
}

void Slider::setRange(double minValue, double maxValue) {
  if (!(maxValue > minValue)) return;
  double value = doubleValue();
  min_ = minValue;
  max_ = maxValue;
  setDoubleValue(value);
}

double Slider::doubleValue() const { return min_ + (max_ - min_) * slider(*this)->value() / kSteps; }

void Slider::setDoubleValue(double value) {
  value = std::clamp(value, min_, max_);
  QSignalBlocker block(slider(*this));
  slider(*this)->setValue(int(std::lround((value - min_) / (max_ - min_) * kSteps)));
}

}  // namespace kesto::ui
