#include "Harness/TestSupport.h"
#include "Platform/UI/Animator.h"
#include "Views/Unused/BRWSplitViewVerticalSecondaryRight.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

std::shared_ptr<BRWSplitViewVerticalSecondaryRight> makeSplit(double left, double right) {
  auto split = std::make_shared<BRWSplitViewVerticalSecondaryRight>(fnd::Rect(0, 0, left + 1 + right, 300));
  split->setDividerStyle(ui::SplitView::DividerStyle::Thin);
  split->addSubview(std::make_shared<ui::View>(fnd::Rect(0, 0, left, 300)));
  split->addSubview(std::make_shared<ui::View>(fnd::Rect(left + 1, 0, right, 300)));
  split->awakeFromNib();
  return split;
}

void settle() {
  EXPECT_TRUE(test::runUntil([] { return ui::AnimationContext::runningAnimationCount() == 0; }, 30));
}

const fnd::Rect& leftPane(const ui::SplitView& s) { return s.subviews()[0]->frame(); }
const fnd::Rect& rightPane(const ui::SplitView& s) { return s.subviews()[1]->frame(); }

}  // namespace

TEST(CollapsibleRightPane, FoldsPastTheRightEdgeAndReopensAtTheWholeRememberedWidth) {
  auto s = makeSplit(499.3, 250.7);
  EXPECT_FALSE(s->collapsed());
  EXPECT_DOUBLE_EQ(*s->secondaryPaneSize(), 250.7);
  EXPECT_EQ(*s->secondaryPaneMinSize(), 160);
  EXPECT_EQ(*s->secondaryPaneMaxSize(), 300);
  EXPECT_EQ(s->implementedSplitViewHooks(), 0u);

  s->collapseSecondaryPane();
  EXPECT_TRUE(s->collapsed());
  settle();
  double total = s->frame().size.width;
  EXPECT_DOUBLE_EQ(rightPane(*s).origin.x, total + 1);
  EXPECT_DOUBLE_EQ(rightPane(*s).size.width, -1);
  EXPECT_DOUBLE_EQ(leftPane(*s).size.width, total + 1 - 1);

  s->collapseSecondaryPane();
  EXPECT_FALSE(s->collapsed());
  settle();
  EXPECT_DOUBLE_EQ(rightPane(*s).size.width, 250);
  EXPECT_DOUBLE_EQ(rightPane(*s).origin.x, total - 250);
  EXPECT_DOUBLE_EQ(leftPane(*s).size.width, total - 250 - 1);
}

TEST(CollapsibleRightPane, APaneStartingUnderAPointStartsFoldedAndOpensAtTheMinimum) {
  auto s = makeSplit(600, 0.5);
  EXPECT_TRUE(s->collapsed());
  s->collapseSecondaryPane();
  settle();
  EXPECT_FALSE(s->collapsed());
  EXPECT_DOUBLE_EQ(rightPane(*s).size.width, 160);

  // A pane dragged down under a point and then folded also comes back at the minimum.
  auto t = makeSplit(600, 200);
  t->setSecondaryPaneMinSize(180);
  t->subviews()[1]->setFrame(fnd::Rect(800, 0, 0.4, 300));
  t->collapseSecondaryPane();
  settle();
  t->collapseSecondaryPane();
  settle();
  EXPECT_DOUBLE_EQ(rightPane(*t).size.width, 180);
}

TEST(CollapsibleRightPane, QuickSuccessiveCallsEachFlipTheState) {
  auto s = makeSplit(500, 200);
  s->collapseSecondaryPane();
  s->collapseSecondaryPane();
  EXPECT_FALSE(s->collapsed());
  settle();
  EXPECT_DOUBLE_EQ(rightPane(*s).size.width, 200);
}
