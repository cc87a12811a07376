#pragma once

#include "Platform/Foundation/Geometry.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto::ui {

class View;

// The animator proxy of a view: changes made through it animate over the current animation
// context's duration (immediately when that is 0).
class Animator {
 public:
  explicit Animator(View* view) : view_(view) {}
  void setFrame(const fnd::Rect& frame);
  void setFrameSize(const fnd::Size& size);
  void setFrameOrigin(const fnd::Point& origin);
  void setAlphaValue(double alpha);
  // A number property of the view's own, named `key`, from `from` to `to`: `apply` sets each
  // value in between, evenly over the time (a plain basic animation), and `to` last. A newer
  // change of the same key replaces a running one.
  void setValue(const std::string& key, double from, double to, std::function<void(double)> apply);

 private:
  View* view_;
};

// The animation context: a stack of groups. Outside any group the duration is 0.25 s.
class AnimationContext {
 public:
  static AnimationContext& current();
  // Runs `changes` inside a new group; `completion` runs on the main thread once every
  // animation started in the group has ended (shortly after, when none was started).
  static void runAnimationGroup(const std::function<void(AnimationContext&)>& changes,
                                std::function<void()> completion = nullptr);

  double duration() const { return duration_; }
  void setDuration(double seconds) { duration_ = seconds; }
  bool allowsImplicitAnimation() const { return implicit_; }
  void setAllowsImplicitAnimation(bool on) { implicit_ = on; }

  // Runs every running animation to its end at once (tests and shutdown).
  static void finishAllAnimations();
  // Number of animations still running.
  static int runningAnimationCount();
  // Stops what runs on `view` where it stands (the view is going away).
  static void stopAnimations(const View* view);

  struct Group;
  // The group that animations started now belong to (none outside runAnimationGroup).
  static std::shared_ptr<Group> currentGroupForAnimator();

 private:
  double duration_ = 0.25;
  bool implicit_ = false;
  std::shared_ptr<Group> group_;
  friend class Animator;
};

}  // namespace kesto::ui
