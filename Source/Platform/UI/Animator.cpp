#include "Platform/UI/Animator.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/TimingMarks.h"
#include "Platform/UI/View.h"
#include "Platform/UI/ViewWidget_p.h"

#include <QCoreApplication>
#include <QEasingCurve>
#include <QRectF>
#include <QVariantAnimation>

#include <map>
#include <vector>

namespace kesto::ui {

struct AnimationContext::Group {
  int running = 0;
  bool open = true;
  bool completed = false;
  std::function<void()> completion;

  void maybeComplete(const std::shared_ptr<Group>& self) {
    if (open || running > 0 || completed) return;
    completed = true;
    // With timing marks on, each group's end is told once its completion has run: a harness
    // waits for that before it clicks into what the animation moved.
    if (completion || TimingMarks::enabled()) {
      auto fn = std::move(completion);
      Application::postToMain([fn] {
        if (fn) qtbridge::guarded("animation completion", fn);
        TimingMarks::mark("animation-end");
      });
    }
  }
};

namespace {
std::vector<AnimationContext>& contextStack() {
  static std::vector<AnimationContext> stack(1);
  return stack;
}

// One running animation per view and property; a new one replaces the old.
std::map<std::pair<View*, int>, QVariantAnimation*>& runningAnimations() {
  static std::map<std::pair<View*, int>, QVariantAnimation*> map;
  return map;
}

enum Property { FrameProperty = 0, AlphaProperty = 1, FirstNamedProperty = 2 };

// One number per property name, so each named property of a view runs one animation at a time.
int namedProperty(const std::string& key) {
  static std::map<std::string, int> numbers;
  auto [it, added] = numbers.emplace(key, FirstNamedProperty + int(numbers.size()));
  return it->second;
}

void animate(View* view, int property, QVariant from, QVariant to,
             std::function<void(const QVariant&)> apply, QEasingCurve::Type easing = QEasingCurve::InOutQuad) {
  AnimationContext& ctx = AnimationContext::current();
  double duration = ctx.duration();
  auto key = std::make_pair(view, property);
  auto& map = runningAnimations();
  if (auto it = map.find(key); it != map.end()) {
    it->second->stop();  // finished() of the old one settles its group
  }
  if (duration <= 0) {
    apply(to);
    return;
  }
  auto* anim = new QVariantAnimation();
  anim->setStartValue(from);
  anim->setEndValue(to);
  anim->setDuration(int(duration * 1000));
  anim->setEasingCurve(easing);
  std::weak_ptr<View> weak = view->weak_from_this();
  QObject::connect(anim, &QVariantAnimation::valueChanged, [weak, apply](const QVariant& v) {
    if (weak.lock()) qtbridge::guarded("animation", [&] { apply(v); });
  });
  std::shared_ptr<AnimationContext::Group> group = AnimationContext::currentGroupForAnimator();
  if (group) ++group->running;
  map[key] = anim;
  // Stopped covers both the natural end and a replacement by a newer animation.
  QObject::connect(anim, &QAbstractAnimation::stateChanged,
                   [anim, key, group, weak, apply, to](QAbstractAnimation::State state, QAbstractAnimation::State) {
    if (state != QAbstractAnimation::Stopped) return;
    auto& m = runningAnimations();
    if (auto it = m.find(key); it != m.end() && it->second == anim) m.erase(it);
    if (anim->currentTime() >= anim->duration() && weak.lock()) qtbridge::guarded("animation", [&] { apply(to); });
    if (group) {
      --group->running;
      group->maybeComplete(group);
    }
    anim->deleteLater();
  });
  anim->start();
}

QVariant rectVariant(const fnd::Rect& r) { return QRectF(r.origin.x, r.origin.y, r.size.width, r.size.height); }
fnd::Rect fromVariant(const QVariant& v) {
  QRectF r = v.toRectF();
  return fnd::Rect(r.x(), r.y(), r.width(), r.height());
}
}  // namespace

AnimationContext& AnimationContext::current() { return contextStack().back(); }

std::shared_ptr<AnimationContext::Group> AnimationContext::currentGroupForAnimator() {
  return contextStack().back().group_;
}

void AnimationContext::runAnimationGroup(const std::function<void(AnimationContext&)>& changes,
                                         std::function<void()> completion) {
  TimingMarks::mark("animation-begin");
  AnimationContext ctx;
  ctx.group_ = std::make_shared<Group>();
  ctx.group_->completion = std::move(completion);
  auto group = ctx.group_;
  contextStack().push_back(ctx);
  if (changes) changes(contextStack().back());
  contextStack().pop_back();
  group->open = false;
  group->maybeComplete(group);
}

void AnimationContext::finishAllAnimations() {
  auto map = runningAnimations();
  for (auto& [key, anim] : map) anim->setCurrentTime(anim->duration());
}

int AnimationContext::runningAnimationCount() { return int(runningAnimations().size()); }

void AnimationContext::stopAnimations(const View* view) {
  std::vector<QVariantAnimation*> running;
  for (auto& [key, anim] : runningAnimations())
    if (key.first == view) running.push_back(anim);
  // Stopping takes each out of the map and settles its group.
  for (auto* anim : running) anim->stop();
}

void Animator::setFrame(const fnd::Rect& frame) {
  View* v = view_;
  animate(v, FrameProperty, rectVariant(v->frame()), rectVariant(frame),
          [v](const QVariant& value) { v->setFrame(fromVariant(value)); });
}

void Animator::setFrameSize(const fnd::Size& size) { setFrame(fnd::Rect(view_->frame().origin, size)); }
void Animator::setFrameOrigin(const fnd::Point& origin) { setFrame(fnd::Rect(origin, view_->frame().size)); }

void Animator::setAlphaValue(double alpha) {
  View* v = view_;
  animate(v, AlphaProperty, v->alphaValue(), alpha,
          [v](const QVariant& value) { v->setAlphaValue(value.toDouble()); });
}

void Animator::setValue(const std::string& key, double from, double to, std::function<void(double)> apply) {
  if (!apply) return;
  animate(
      view_, namedProperty(key), from, to, [apply](const QVariant& value) { apply(value.toDouble()); },
      QEasingCurve::Linear);
}

}  // namespace kesto::ui
