#include "Views/SpinningIndicator.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Timer.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/GraphicsContext.h"
#include "Platform/UI/Path.h"
#include "Views/BezierPathGeometry.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kesto {

namespace {
constexpr double kPi = 3.14159265358979323846;
}

struct SpinningIndicator::Animation {
  std::shared_ptr<fnd::Timer> timer;
  ~Animation() {
    if (timer) timer->invalidate();
  }
};

SpinningIndicator::SpinningIndicator(const fnd::Rect& frame) : ui::View(frame) { initLayers(); }

SpinningIndicator::~SpinningIndicator() = default;

void SpinningIndicator::initLayers() {
  color_ = ui::Color::black();
  innerMargin_ = 4.0;
  widthOfLine_ = 3.0;
  lengthOfLine_ = 6.0;
  numberOfLines_ = 8;
  animationDuration_ = 0.6;
  indeterminate_ = true;
  stepped_ = true;
  hideWhenStopped_ = true;
  animates_ = true;
  setWantsLayer(true);
  initialised_ = true;
  reloadVisibility();
  reloadIndicatorContent();
  reloadAnimation();
}

void SpinningIndicator::awakeFromNib() { reloadAnimation(); }

void SpinningIndicator::viewDidMoveToWindow() { reloadAnimation(); }

void SpinningIndicator::setIndeterminate(bool on) {
  indeterminate_ = on;
  if (!on) setAnimates(false);
}

bool SpinningIndicator::setProgress(double progress) {
  if (!(progress >= 0.0 && progress <= 1.0)) {
    fnd::raiseFailure(kInvalidProgressName, kInvalidProgressReason);
    return false;
  }
  progress_ = progress;
  if (!indeterminate_) reloadIndicatorContent();
  return true;
}

SpinningIndicator::DefaultAnimation SpinningIndicator::defaultAnimationForKey(const std::string& key) {
  return key == "progress" ? DefaultAnimation::Basic : DefaultAnimation::None;
}

bool SpinningIndicator::animateProgress(double progress) {
  if (!(progress >= 0.0 && progress <= 1.0)) return setProgress(progress);
  if (defaultAnimationForKey("progress") == DefaultAnimation::None) return setProgress(progress);
  // The steps lie between two accepted values, so each is accepted; the clamp only guards the
  // last bit of rounding.
  animator().setValue("progress", progress_, progress,
                      [this](double value) { setProgress(std::clamp(value, 0.0, 1.0)); });
  return true;
}

template <typename T>
void SpinningIndicator::change(T& setting, T value, unsigned reload) {
  setting = std::move(value);
  if (reload & kReloadContent) reloadIndicatorContent();
  if (reload & kReloadAnimation) reloadAnimation();
  if (reload & kReloadVisibility) reloadVisibility();
}

void SpinningIndicator::setAnimates(bool on) {
  change(animates_, on, kReloadContent | kReloadAnimation | kReloadVisibility);
}
void SpinningIndicator::setHideWhenStopped(bool on) { change(hideWhenStopped_, on, kReloadVisibility); }
void SpinningIndicator::setSteppedAnimation(bool on) { change(stepped_, on, kReloadAnimation); }
void SpinningIndicator::setLengthOfLine(double points) { change(lengthOfLine_, points, kReloadContent); }
void SpinningIndicator::setWidthOfLine(double points) { change(widthOfLine_, points, kReloadContent); }
void SpinningIndicator::setNumberOfLines(unsigned count) {
  change(numberOfLines_, count, kReloadContent | kReloadAnimation);
}

// The spoke count the drawing and the turn use: no division by zero, no endless loops.
unsigned SpinningIndicator::drawnLines() const { return std::min(numberOfLines_, kMaximumDrawnLines); }

void SpinningIndicator::setInnerMargin(double points) { change(innerMargin_, points, kReloadContent); }
void SpinningIndicator::setAnimationDuration(double seconds) { change(animationDuration_, seconds, kReloadAnimation); }
void SpinningIndicator::setColor(const ui::Color& color) { change(color_, color, kReloadContent); }

void SpinningIndicator::reloadVisibility() {
  setHidden(hideWhenStopped_ && !animates_ && indeterminate_);
}

std::vector<SpinningIndicator::Spoke> SpinningIndicator::filledSpokes() const { return drawnSpokes_; }

void SpinningIndicator::reloadIndicatorContent() {
  if (!initialised_) return;
  const int n = static_cast<int>(drawnLines());
  std::vector<Spoke> spokes;
  if (indeterminate_) {
    for (int i = 0; i < n; ++i) spokes.push_back({i, 1.0 - static_cast<double>(i) / n});
  } else {
    int k = static_cast<int>(std::round(n - n * progress_));
    for (int i = n; i > k; --i) spokes.push_back({i, -1.0});  // -1: the colour's own alpha
  }
  drawnSpokes_ = std::move(spokes);
  setNeedsDisplay();
}

SpinningIndicator::KeyFrames SpinningIndicator::keyFrameAnimationForCurrentPreferences() const {
  KeyFrames frames;
  const unsigned n = drawnLines();
  if (n == 0) {
    frames.values = {0.0f, 0.0f};
    frames.keyTimes = {0.0, 1.0};
    return frames;
  }
  if (stepped_) {
    // Each angle -2*pi*i/n is held from i/n to (i+1)/n, then the turn closes at -2*pi.
    frames.values.push_back(0.0f);
    frames.keyTimes.push_back(0.0);
    for (unsigned i = 0; i < n; ++i) {
      float angle = static_cast<float>(-2.0 * kPi * i / n);
      frames.values.push_back(angle);
      frames.keyTimes.push_back(static_cast<double>(i) / n);
      frames.values.push_back(angle);
      frames.keyTimes.push_back(static_cast<double>(i + 1) / n);
    }
    frames.values.push_back(static_cast<float>(-2.0 * kPi));
    frames.keyTimes.push_back(1.0);
  } else {
    for (int i = 0; i <= 4; ++i) {
      frames.values.push_back(static_cast<float>(-kPi / 2 * i));
      frames.keyTimes.push_back(i / 4.0);
    }
  }
  return frames;
}

double SpinningIndicator::angleAt(double elapsed) const {
  const unsigned n = drawnLines();
  if (animationDuration_ <= 0 || n == 0) return 0;
  double t = std::fmod(elapsed, animationDuration_) / animationDuration_;
  if (stepped_) {
    double step = std::floor(t * n);
    return -2.0 * kPi * step / n;
  }
  return -2.0 * kPi * t;
}

bool SpinningIndicator::isAnimationRunning() const { return animation_ != nullptr; }

bool SpinningIndicator::isTicking() const { return animation_ && animation_->timer && animation_->timer->isValid(); }

void SpinningIndicator::setHidden(bool hidden) {
  const bool was = isHidden();
  ui::View::setHidden(hidden);
  // Shown again, the turn starts afresh; hidden, its clock stops.
  if (was != hidden) reloadAnimation();
}

void SpinningIndicator::advanceAnimation(double seconds) {
  if (!animates_) return;
  elapsed_ += seconds;
  double angle = angleAt(elapsed_);
  if (angle != rotation_) {
    rotation_ = angle;
    setNeedsDisplay();
  }
}

void SpinningIndicator::reloadAnimation() {
  if (!initialised_) return;
  animation_.reset();
  elapsed_ = 0;
  rotation_ = 0;
  if (!animates_) {
    setNeedsDisplay();
    return;
  }
  animation_ = std::make_unique<Animation>();
  // Only a view on screen needs the clock: a hidden or stopped indicator must not wake the
  // program many times a second. Tests turn it with advanceAnimation.
  if (!window() || isHiddenOrHasHiddenAncestor() || animationDuration_ <= 0 || drawnLines() == 0) return;
  // Stepped: one tick per spoke, nothing redrawn in between. Smooth: about 60 frames a second,
  // which also bounds the ticks of a ring with very many spokes.
  double interval = stepped_ ? std::max(animationDuration_ / drawnLines(), 1.0 / 60.0) : 1.0 / 60.0;
  std::weak_ptr<ui::View> weak = weak_from_this();
  animation_->timer = fnd::Timer::scheduledTimer(interval, true, [weak, interval](fnd::Timer& timer) {
    auto self = std::static_pointer_cast<SpinningIndicator>(weak.lock());
    if (!self) {
      timer.invalidate();
      return;
    }
    self->advanceAnimation(interval);
  });
}

ui::Image SpinningIndicator::progressImage() {
  double saved = rotation_;
  rotation_ = 0;
  ui::Image image = snapshot();
  rotation_ = saved;
  setNeedsDisplay();
  return image;
}

void SpinningIndicator::drawRect(ui::GraphicsContext& context, const fnd::Rect&) {
  const double w = bounds().size.width, h = bounds().size.height;
  const int n = static_cast<int>(drawnLines());
  if (n == 0) return;
  fnd::Rect base(w / 2 - widthOfLine_ / 2, h / 2 - innerMargin_ - lengthOfLine_, widthOfLine_, lengthOfLine_);
  ui::Path spoke = ui::Path::roundedRect(base, widthOfLine_ / 2, widthOfLine_ / 2);
  fnd::Point centre{w / 2, h / 2};
  for (const auto& s : drawnSpokes_) {
    double angle = 2.0 * kPi * s.index / n + kPi + rotation_;
    context.setFillColor(s.alpha < 0 ? color_ : color_.withAlpha(s.alpha));
    context.fillPath(geometry::rotatedBezierPath(spoke, static_cast<float>(angle), centre));
  }
}

}  // namespace kesto
