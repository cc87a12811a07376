#include "CollectionViewFixture.h"

#include "Views/TileCollectionViewDocumentView.h"

#include <cmath>

using namespace kesto;
using namespace kesto::test;

namespace {
struct AnimatedClip {
  std::unique_ptr<ui::Window> window = std::make_unique<ui::Window>(fnd::Rect(0, 0, 200, 100));
  std::shared_ptr<TileScrollView> scroll = std::make_shared<TileScrollView>(fnd::Rect(0, 0, 200, 100));
  AnimatedClip() {
    ui::DisplayLink::setManualMode(true);
    window->contentView()->addSubview(scroll);
    scroll->setDocumentView(std::make_shared<TileCollectionViewDocumentView>(fnd::Rect(0, 0, 200, 5000)));
  }
  ~AnimatedClip() { ui::DisplayLink::setManualMode(false); }
  TileClipView& clip() { return *scroll->clipView(); }
  double y() { return clip().bounds().origin.y; }
};
}  // namespace

TEST(TileClipView, DecelerationRateIsClamped) {
  TileClipView clip;
  EXPECT_EQ(clip.decelerationRate(), 0.78);
  clip.setDecelerationRate(1.5);
  EXPECT_EQ(clip.decelerationRate(), 1.0);
  clip.setDecelerationRate(-0.2);
  EXPECT_EQ(clip.decelerationRate(), 0.0);
}

TEST(TileClipView, AnimatedScrollDeceleratesStepByStep) {
  AnimatedClip a;
  std::vector<bool> results;
  EXPECT_TRUE(a.clip().scrollRectToVisible(fnd::Rect(0, 1000, 10, 100), true, [&](bool ok) { results.push_back(ok); }));
  EXPECT_EQ(a.y(), 0);  // nothing moves before the first refresh
  EXPECT_EQ(a.clip().destinationOrigin().y, 1000);
  ui::DisplayLink::step();
  EXPECT_NEAR(a.y(), 1000 * (1 - 0.78), 1e-9);
  ui::DisplayLink::step();
  EXPECT_NEAR(a.y(), 220 * 0.78 + 1000 * 0.22, 1e-9);
  int steps = 2;
  while (a.clip().isAnimating() && steps < 1000) {
    ui::DisplayLink::step();
    ++steps;
  }
  EXPECT_LT(steps, 60);
  EXPECT_LT(1000 - a.y(), 0.36);  // settles at the last blended point
  EXPECT_GT(1000 - a.y(), 0);
  EXPECT_EQ(results, std::vector<bool>{true});
  EXPECT_EQ(a.scroll->verticalScrollerValue(), int(std::lround(a.y())));
}

TEST(TileClipView, RatesOneAndZero) {
  AnimatedClip a;
  std::vector<bool> results;
  a.clip().setDecelerationRate(1.0);
  a.clip().scrollRectToVisible(fnd::Rect(0, 1000, 10, 100), true, [&](bool ok) { results.push_back(ok); });
  ui::DisplayLink::step();
  EXPECT_EQ(a.y(), 0);
  EXPECT_FALSE(a.clip().isAnimating());
  EXPECT_EQ(results, std::vector<bool>{true});
  a.clip().setDecelerationRate(0.0);
  a.clip().scrollRectToVisible(fnd::Rect(0, 1000, 10, 100), true);
  ui::DisplayLink::step();
  EXPECT_EQ(a.y(), 1000);
  EXPECT_TRUE(a.clip().isAnimating());
  ui::DisplayLink::step();
  EXPECT_FALSE(a.clip().isAnimating());
}

TEST(TileClipView, APlainScrollStopsTheAnimationAndLandsExactly) {
  AnimatedClip a;
  std::vector<bool> results;
  a.clip().scrollRectToVisible(fnd::Rect(0, 3000, 10, 100), true, [&](bool ok) { results.push_back(ok); });
  ui::DisplayLink::step();
  a.clip().scrollToPoint({0, 123});
  EXPECT_EQ(a.y(), 123);
  // The interrupted scroll reports that it did not finish, once, and later frames move nothing.
  EXPECT_EQ(results, std::vector<bool>{false});
  a.clip().updateOrigin();
  ui::DisplayLink::step();
  EXPECT_EQ(a.y(), 123);
  // A following animation that settles does not report the old completion again.
  a.clip().setDecelerationRate(0);
  a.clip().scrollRectToVisible(fnd::Rect(0, 2000, 10, 100), true);
  ui::DisplayLink::step();
  ui::DisplayLink::step();
  EXPECT_EQ(results, std::vector<bool>{false});
}

TEST(TileClipView, CompletionsForScrollsThatCannotStart) {
  AnimatedClip a;
  std::vector<bool> results;
  EXPECT_FALSE(a.clip().scrollRectToVisible(fnd::Rect(0, 10, 10, 10), true, [&](bool ok) { results.push_back(ok); }));
  EXPECT_EQ(results, std::vector<bool>{false});
  // The armed flag stays set when nothing had to move: the next wheel step animates.
  EXPECT_TRUE(a.clip().shouldAnimateOriginChange());
  a.scroll->scrollWheel(ui::Event::scroll({}, 0, -50));
  EXPECT_TRUE(a.clip().isAnimating());
  EXPECT_FALSE(a.clip().shouldAnimateOriginChange());
  EXPECT_TRUE(a.clip().scrollRectToVisible(fnd::Rect(0, 500, 10, 10), false, [&](bool ok) { results.push_back(ok); }));
  // The wheel's animation had no completion; the plain scroll reports its move at once.
  EXPECT_EQ(results, (std::vector<bool>{false, true}));
  EXPECT_FALSE(a.clip().isAnimating());
  EXPECT_EQ(a.y(), 410);
}

TEST(TileClipView, LeavingTheWindowStopsTheAnimation) {
  AnimatedClip a;
  std::vector<bool> results;
  a.clip().scrollRectToVisible(fnd::Rect(0, 1000, 10, 100), true, [&](bool ok) { results.push_back(ok); });
  ui::DisplayLink::step();
  double y = a.y();
  a.scroll->removeFromSuperview();
  EXPECT_FALSE(a.clip().isAnimating());
  EXPECT_EQ(ui::DisplayLink::step(), 0);
  EXPECT_EQ(a.y(), y);
  EXPECT_EQ(results, std::vector<bool>{false});
}

TEST(TileScrollView, SwapKeepsTheDocumentView) {
  auto scroll = std::make_shared<TileScrollView>(fnd::Rect(0, 0, 100, 100));
  auto doc = std::make_shared<TileCollectionViewDocumentView>(fnd::Rect(0, 0, 100, 400));
  scroll->setDocumentView(doc);
  TileClipView* clip = scroll->clipView();
  ASSERT_TRUE(clip);
  scroll->awakeFromNib();
  EXPECT_EQ(scroll->clipView(), clip);
  scroll->swapClipView();
  EXPECT_NE(scroll->clipView(), clip);
  EXPECT_EQ(scroll->documentView(), doc);
}

TEST(TileClipView, RealTimerDrivesTheAnimation) {
  AnimatedClip a;
  ui::DisplayLink::setManualMode(false);
  bool done = false;
  a.clip().scrollRectToVisible(fnd::Rect(0, 1000, 10, 100), true, [&](bool) { done = true; });
  EXPECT_TRUE(runUntil([&] { return done; }, 5));
  EXPECT_NEAR(a.y(), 1000, 0.36);
}
