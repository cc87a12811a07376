#include "Views/BezierPathGeometry.h"
#include "Views/SpinningIndicator.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Path.h"
#include "Platform/UI/Window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using kesto::SpinningIndicator;
using kesto::fnd::ContractViolation;
using kesto::fnd::Rect;
using kesto::ui::Color;

namespace {

constexpr double kPi = 3.14159265358979323846;

std::shared_ptr<SpinningIndicator> makeIndicator() {
  return std::make_shared<SpinningIndicator>(Rect(0, 0, 40, 40));
}

int filled(const SpinningIndicator& s) { return static_cast<int>(s.filledSpokes().size()); }

}  // namespace

TEST(SpinningIndicator, StartsSpinningIndeterminateWithItsDefaults) {
  auto s = makeIndicator();
  EXPECT_TRUE(s->isIndeterminate());
  EXPECT_TRUE(s->animates());
  EXPECT_TRUE(s->hideWhenStopped());
  EXPECT_TRUE(s->steppedAnimation());
  EXPECT_EQ(s->numberOfLines(), 8u);
  EXPECT_EQ(s->lengthOfLine(), 6.0);
  EXPECT_EQ(s->widthOfLine(), 3.0);
  EXPECT_EQ(s->innerMargin(), 4.0);
  EXPECT_EQ(s->animationDuration(), 0.6);
  EXPECT_EQ(s->color(), Color::black());
  EXPECT_FALSE(s->isHidden());
  EXPECT_TRUE(s->isAnimationRunning());
  // The fading tail: the top spoke opaque, each following one fainter.
  auto spokes = s->filledSpokes();
  ASSERT_EQ(spokes.size(), 8u);
  EXPECT_EQ(spokes[0].alpha, 1.0);
  EXPECT_DOUBLE_EQ(spokes[7].alpha, 1.0 / 8);
}

TEST(SpinningIndicator, ProgressFillsSpokesRoundedHalvesAway) {
  auto s = makeIndicator();
  s->setIndeterminate(false);
  struct Case {
    double progress;
    int spokes;
  };
  for (Case c : {Case{0.0, 0}, Case{0.3, 2}, Case{0.5, 4}, Case{0.95, 8}, Case{1.0, 8}, Case{1.0 / 16, 0}, Case{0.1, 1}}) {
    ASSERT_TRUE(s->setProgress(c.progress));
    EXPECT_EQ(filled(*s), c.spokes) << c.progress;
  }
  s->setProgress(0.25);
  auto spokes = s->filledSpokes();
  ASSERT_EQ(spokes.size(), 2u);
  EXPECT_EQ(spokes[0].index, 8) << "the arc grows clockwise from the top";
  EXPECT_EQ(spokes[1].index, 7);
}

TEST(SpinningIndicator, OutOfRangeValuesAreRefusedAndChangeNothing) {
  auto s = makeIndicator();
  s->setIndeterminate(false);
  s->setProgress(0.5);
  try {
    s->setProgress(1.0001);
    FAIL() << "no failure raised";
  } catch (const ContractViolation& v) {
    EXPECT_EQ(v.failure().name, "Invalid `progress` property value");
    EXPECT_EQ(v.failure().reason, "`progress` property needs to be between 0 and 1");
  }
  EXPECT_THROW(s->setProgress(-0.01), ContractViolation);
  EXPECT_THROW(s->setProgress(std::nan("")), ContractViolation);
  EXPECT_EQ(s->progress(), 0.5);
  EXPECT_EQ(filled(*s), 4);

  // In the app the failure is logged and the call answers false.
  kesto::fnd::setAssertionPolicy(kesto::fnd::AssertionPolicy::Record);
  EXPECT_FALSE(s->setProgress(2));
  EXPECT_EQ(s->progress(), 0.5);
  kesto::fnd::setAssertionPolicy(kesto::fnd::AssertionPolicy::Throw);
}

TEST(SpinningIndicator, VisibilityFollowsHideWhenStopped) {
  auto s = makeIndicator();
  s->setAnimates(false);
  EXPECT_TRUE(s->isHidden()) << "indeterminate, stopped, hide when stopped";
  EXPECT_FALSE(s->isAnimationRunning());
  s->setHideWhenStopped(false);
  EXPECT_FALSE(s->isHidden());
  s->setHideWhenStopped(true);
  EXPECT_TRUE(s->isHidden());
  s->setIndeterminate(false);
  EXPECT_FALSE(s->isHidden()) << "a determinate indicator is shown although stopped";
  EXPECT_FALSE(s->animates());

  auto t = makeIndicator();
  t->setIndeterminate(false);
  EXPECT_FALSE(t->animates()) << "determinate stops the spin";
  EXPECT_FALSE(t->isHidden());
}

TEST(SpinningIndicator, PictureChangesOnlyOnRedrawingChanges) {
  auto s = makeIndicator();
  s->setProgress(0.5);  // indeterminate: stored, not drawn
  EXPECT_EQ(s->progress(), 0.5);
  EXPECT_EQ(filled(*s), 8);
  EXPECT_LT(s->filledSpokes()[1].alpha, 1.0);

  s->setIndeterminate(false);  // animates NO redraws the determinate picture
  EXPECT_EQ(filled(*s), 4);
  s->setIndeterminate(true);
  EXPECT_EQ(filled(*s), 4) << "kept until the next redraw";
  s->setAnimates(true);
  EXPECT_EQ(filled(*s), 8);
}

TEST(SpinningIndicator, SteppedTurnHoldsEachSpokeForItsShareOfTheDuration) {
  auto s = makeIndicator();
  auto frames = s->keyFrameAnimationForCurrentPreferences();
  ASSERT_EQ(frames.values.size(), 18u);
  ASSERT_EQ(frames.keyTimes.size(), frames.values.size());
  EXPECT_FLOAT_EQ(frames.values.back(), static_cast<float>(-2 * kPi));
  for (std::size_t i = 1; i < frames.keyTimes.size(); ++i) EXPECT_GE(frames.keyTimes[i], frames.keyTimes[i - 1]);
  // Angle -2*pi*i/8 from i/8 to (i+1)/8.
  EXPECT_FLOAT_EQ(frames.values[3], static_cast<float>(-2 * kPi / 8));
  EXPECT_DOUBLE_EQ(frames.keyTimes[3], 1.0 / 8);
  EXPECT_DOUBLE_EQ(frames.keyTimes[4], 2.0 / 8);

  s->advanceAnimation(0.07);
  EXPECT_EQ(s->currentRotation(), 0.0);
  s->advanceAnimation(0.01);  // 0.08 s: past one eighth of 0.6 s
  EXPECT_NEAR(s->currentRotation(), -2 * kPi / 8, 1e-9);
  s->advanceAnimation(0.6);  // a full turn later: same step
  EXPECT_NEAR(s->currentRotation(), -2 * kPi / 8, 1e-9);

  s->setSteppedAnimation(false);
  auto smooth = s->keyFrameAnimationForCurrentPreferences();
  EXPECT_EQ(smooth.values.size(), 5u);
  s->advanceAnimation(0.15);
  EXPECT_NEAR(s->currentRotation(), -kPi / 2, 1e-9);

  // One spoke: a still ring, and the arithmetic stays finite.
  s->setNumberOfLines(1);
  s->setSteppedAnimation(true);
  auto one = s->keyFrameAnimationForCurrentPreferences();
  EXPECT_EQ(one.values.size(), 4u);
  s->advanceAnimation(0.5);
  EXPECT_EQ(s->currentRotation(), 0.0);
}

TEST(SpinningIndicator, AnySpokeCountIsSafe) {
  kesto::ui::Window window(Rect(0, 0, 100, 100));
  auto s = makeIndicator();
  window.contentView()->addSubview(s);
  s->setNumberOfLines(0);  // used to divide by zero
  EXPECT_EQ(s->numberOfLines(), 0u);
  EXPECT_TRUE(s->filledSpokes().empty());
  EXPECT_EQ(s->keyFrameAnimationForCurrentPreferences().values.size(), 2u);
  s->advanceAnimation(0.3);
  EXPECT_EQ(s->currentRotation(), 0.0);
  s->setIndeterminate(false);
  s->setProgress(1.0);
  EXPECT_TRUE(s->filledSpokes().empty());
  EXPECT_FALSE(s->snapshot().isNull());

  s->setNumberOfLines(4000000000u);  // used to take for ever building the turn
  EXPECT_EQ(s->filledSpokes().size(), SpinningIndicator::kMaximumDrawnLines);
  s->setAnimates(true);
  EXPECT_EQ(s->keyFrameAnimationForCurrentPreferences().values.size(), 2 * SpinningIndicator::kMaximumDrawnLines + 2);
  kesto::test::spin(0.1);
}

TEST(SpinningIndicator, SpinsByItselfInAWindow) {
  kesto::ui::Window window(Rect(0, 0, 100, 100));
  auto s = makeIndicator();
  window.contentView()->addSubview(s);
  EXPECT_TRUE(kesto::test::runUntil([&] { return s->currentRotation() != 0.0; }, 10));
  s->setAnimates(false);
  EXPECT_EQ(s->currentRotation(), 0.0);
}

TEST(SpinningIndicator, AHiddenOrStoppedIndicatorHasNoClock) {
  kesto::ui::Window window(Rect(0, 0, 100, 100));
  auto s = makeIndicator();
  window.contentView()->addSubview(s);
  EXPECT_TRUE(s->isTicking());
  // Hidden while still "animating" (as the toolbar's activity hides it): no wake-ups at all.
  s->setHidden(true);
  EXPECT_FALSE(s->isTicking());
  const double held = s->currentRotation();
  kesto::test::spin(0.3);
  EXPECT_EQ(s->currentRotation(), held);
  s->setHidden(false);
  EXPECT_TRUE(s->isTicking());
  s->setAnimates(false);
  EXPECT_FALSE(s->isTicking());
  s->setAnimates(true);
  EXPECT_TRUE(s->isTicking());
  s->removeFromSuperview();
  EXPECT_FALSE(s->isTicking());
}

TEST(SpinningIndicator, DrawsTheTopSpokeFirstAndFillsClockwise) {
  auto s = makeIndicator();
  s->setColor(Color::rgb(1, 0, 0));
  s->setAnimates(false);
  s->setHideWhenStopped(false);
  auto image = s->progressImage();
  // Image rows run downwards: the top spoke spans rows 10 to 16 above the centre (20, 20).
  Color top = image.pixelColor(20, 13);
  Color leftOfTop = image.pixelColor(15, 15);   // spoke 1, counter-clockwise from the top
  Color rightOfTop = image.pixelColor(25, 15);  // spoke 7, the faintest
  EXPECT_GT(top.alpha, 0.9);
  EXPECT_GT(top.red, 0.9);
  EXPECT_GT(leftOfTop.alpha, rightOfTop.alpha);
  EXPECT_GT(rightOfTop.alpha, 0.0);

  s->setIndeterminate(false);
  s->setProgress(0.25);
  image = s->progressImage();
  EXPECT_GT(image.pixelColor(20, 13).alpha, 0.9);
  EXPECT_GT(image.pixelColor(25, 15).alpha, 0.5) << "the second spoke is clockwise of the top";
  EXPECT_LT(image.pixelColor(15, 15).alpha, 0.1);
  EXPECT_LT(image.pixelColor(20, 27).alpha, 0.1);
}

TEST(BezierPathGeometry, RotatesAboutAPointOrTheBoundsCentre) {
  auto path = kesto::ui::Path::rect(Rect(10, 0, 2, 4));
  auto same = kesto::geometry::rotatedBezierPath(path, 0.0f, {0, 0});
  EXPECT_EQ(same.elements().size(), path.elements().size());
  EXPECT_EQ(same.bounds().origin.x, 10);

  auto quarter = kesto::geometry::rotatedBezierPath(path, static_cast<float>(kPi / 2), {0, 0});
  auto b = quarter.bounds();  // counter-clockwise: x becomes y
  EXPECT_NEAR(b.origin.x, -4, 1e-5);
  EXPECT_NEAR(b.origin.y, 10, 1e-5);
  EXPECT_NEAR(b.size.width, 4, 1e-5);

  auto centre = kesto::geometry::centerOfBounds(path);
  EXPECT_EQ(centre.x, 11);
  EXPECT_EQ(centre.y, 2);
  auto half = kesto::geometry::rotatedBezierPath(path, static_cast<float>(kPi));
  EXPECT_NEAR(half.bounds().origin.x, 10, 1e-5);
  EXPECT_NEAR(half.bounds().origin.y, 0, 1e-5);
}

TEST(SpinningIndicator, ProgressThroughTheAnimatorMovesThereStepByStep) {
  using kesto::ui::AnimationContext;
  EXPECT_EQ(SpinningIndicator::defaultAnimationForKey("progress"), SpinningIndicator::DefaultAnimation::Basic);
  EXPECT_EQ(SpinningIndicator::defaultAnimationForKey("color"), SpinningIndicator::DefaultAnimation::None);

  kesto::ui::Window window(Rect(0, 0, 100, 100));
  auto s = makeIndicator();
  window.contentView()->addSubview(s);
  s->setIndeterminate(false);
  bool ended = false;
  AnimationContext::runAnimationGroup(
      [&](AnimationContext& ctx) {
        ctx.setDuration(0.4);
        EXPECT_TRUE(s->animateProgress(1.0));
      },
      [&] { ended = true; });
  // Nothing jumps: the value starts where it was and passes through the middle.
  EXPECT_LT(s->progress(), 0.5);
  std::vector<double> seen;
  ASSERT_TRUE(kesto::test::runUntil([&] {
    seen.push_back(s->progress());
    return ended;
  }, 10));
  EXPECT_EQ(s->progress(), 1.0);
  EXPECT_EQ(filled(*s), 8);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](double p) { return p > 0.05 && p < 0.95; }));

  // A newer change replaces a running one and ends at its own value.
  AnimationContext::runAnimationGroup([&](AnimationContext& ctx) {
    ctx.setDuration(0.3);
    s->animateProgress(0.0);
  });
  AnimationContext::runAnimationGroup([&](AnimationContext& ctx) {
    ctx.setDuration(0.1);
    s->animateProgress(0.5);
  });
  ASSERT_TRUE(kesto::test::runUntil([&] { return AnimationContext::runningAnimationCount() == 0; }, 10));
  EXPECT_EQ(s->progress(), 0.5);
  EXPECT_EQ(filled(*s), 4);

  // Without a duration the value is set at once; out of range nothing starts.
  AnimationContext::runAnimationGroup([&](AnimationContext& ctx) {
    ctx.setDuration(0);
    s->animateProgress(0.25);
  });
  EXPECT_EQ(s->progress(), 0.25);
  EXPECT_THROW(s->animateProgress(1.5), ContractViolation);
  EXPECT_EQ(AnimationContext::runningAnimationCount(), 0);
  EXPECT_EQ(s->progress(), 0.25);
}
