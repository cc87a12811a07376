#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Window.h"
#include "Views/FlexSplitView.h"
#include "Views/Unused/KestoSplitView.h"
#include "Views/Unused/PrioritySplitViewDelegate.h"
#include "Views/TwoPaneSplitView.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

template <typename T>
std::shared_ptr<T> makeSplit(std::vector<double> widths, double height = 300, double divider = 1) {
  double total = 0;
  for (double w : widths) total += w;
  total += divider * double(widths.size() - 1);
  auto split = std::make_shared<T>(fnd::Rect(0, 0, total, height));
  split->setVertical(true);
  split->setDividerStyle(ui::SplitView::DividerStyle::Thin);
  double x = 0;
  for (double w : widths) {
    split->addSubview(std::make_shared<ui::View>(fnd::Rect(x, 0, w, height)));
    x += w + divider;
  }
  return split;
}

double width(const ui::SplitView& s, size_t i) { return s.subviews()[i]->frame().size.width; }
double x(const ui::SplitView& s, size_t i) { return s.subviews()[i]->frame().origin.x; }

std::vector<double> widths(const ui::SplitView& s) {
  std::vector<double> all;
  for (const auto& view : s.subviews()) all.push_back(view->frame().size.width);
  return all;
}

struct Recorder : FlexSplitViewDelegate {
  std::vector<std::string> events;
  unsigned implementedFlexSplitViewMethods() const override { return IsAnimating | DividerMovedAt | SubviewStateChanged; }
  void splitViewSplitViewIsAnimating(FlexSplitView&, bool a) override { events.push_back(a ? "animating" : "done"); }
  void splitViewDividerMovedAt(FlexSplitView&, long d, double p) override {
    events.push_back("moved " + std::to_string(d) + " " + std::to_string(int(p)));
  }
  void splitViewSubviewStateChanged(FlexSplitView&, unsigned long s, unsigned long state) override {
    events.push_back("state " + std::to_string(s) + " " + std::to_string(state));
  }
};

// A window hosting a split view so drags arrive as real events.
struct DragHarness {
  ui::Window window{fnd::Rect(0, 0, 800, 300)};
  void add(const std::shared_ptr<ui::View>& v) { window.contentView()->addSubview(v); }
  // Split views are flipped; window points are y-up.
  void drag(double fromX, double toX, int clicks = 1) {
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, {fromX, 150}, 0, clicks));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, {toX, 150}));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {toX, 150}, 0, clicks));
  }
};

}  // namespace

TEST(SplitView, DragsStayBetweenNeighboursAndCollapseWhenAllowed) {
  struct Delegate : ui::SplitViewDelegate {
    unsigned implementedSplitViewHooks() const override { return ConstrainMinCoordinate | ConstrainMaxCoordinate | CanCollapseSubview | DidResizeSubviews; }
    double splitViewConstrainMinCoordinate(ui::SplitView&, double, long) override { return 100; }
    double splitViewConstrainMaxCoordinate(ui::SplitView&, double, long) override { return 5000; }  // past the end
    bool splitViewCanCollapseSubview(ui::SplitView&, ui::View* v) override { return collapsible == v; }
    void splitViewDidResizeSubviews(ui::SplitView&, std::optional<long> d) override { dividers.push_back(d.value_or(-1)); }
    ui::View* collapsible = nullptr;
    std::vector<long> dividers;
  } delegate;
  auto split = makeSplit<ui::SplitView>({200, 399});
  split->setDelegate(&delegate);
  DragHarness h;
  h.add(split);
  h.drag(200.5, 700);  // the max answer exceeds the split view: kept before the end
  EXPECT_EQ(widths(*split), (std::vector<double>{599, 0}));
  h.drag(599.5, 80);  // below the minimum, no collapse permission
  EXPECT_EQ(width(*split, 0), 100);
  delegate.collapsible = split->subviews()[0].get();
  h.drag(100.5, 20);  // past half the minimum: collapses
  EXPECT_TRUE(split->isSubviewCollapsed(split->subviews()[0].get()));
  EXPECT_EQ(width(*split, 0), 0);
  EXPECT_EQ(delegate.dividers, (std::vector<long>{0, 0, 0}));
  // A window resize adjusts the panes and reports no divider.
  split->setFrameSize({700, 300});
  ASSERT_FALSE(delegate.dividers.empty());
  EXPECT_EQ(delegate.dividers.back(), -1);
  EXPECT_EQ(x(*split, 1) + width(*split, 1), 700);
}

TEST(KestoSplitView, HasAOnePointDivider) {
  KestoSplitView split;
  EXPECT_EQ(split.dividerThickness(), 1.0);
}

TEST(FlexSplitView, ThicknessAdjustmentAndDividerLimits) {
  auto split = makeSplit<FlexSplitView>({100, 200, 100});
  split->reset();
  EXPECT_EQ(split->dividerThickness(), 1.0);  // the thin style's own
  split->setDividerThickness(1.0);
  EXPECT_EQ(split->deltaAdjustmentForDividerThickness(), 0);
  split->setDividerThickness(3.0);
  EXPECT_EQ(split->deltaAdjustmentForDividerThickness(), 4.0);
  split->setDividerThickness(2.0);
  EXPECT_EQ(split->deltaAdjustmentForDividerThickness(), 2.0);

  auto s = makeSplit<FlexSplitView>({100, 200, 100});
  s->reset();
  s->setMaxSize(50, 0);
  s->setMinSize(30, 1);
  EXPECT_EQ(s->splitViewConstrainMinCoordinate(*s, 7, 0), 0);  // only a maximum: the origin
  EXPECT_EQ(s->splitViewConstrainMaxCoordinate(*s, 7, 0), 50);
  EXPECT_EQ(s->splitViewConstrainMaxCoordinate(*s, 7, 1), 101 + 200 + 100);  // next has no minimum
  EXPECT_EQ(s->splitViewConstrainMinCoordinate(*s, 7, 1), 101 + 30);
  // Records are refused past the end rather than written through.
  s->setMinSize(10, 9);
  EXPECT_EQ(s->minSizeForSubviewAtIndex(9), 0);
  s->addSubview(std::make_shared<ui::View>(fnd::Rect(404, 0, 10, 300)));  // no reset: no record
  EXPECT_EQ(s->splitViewConstrainMinCoordinate(*s, 7, 3), 7);
  EXPECT_FALSE(s->splitViewCanCollapseSubview(*s, s->subviews()[3].get()));
}

TEST(FlexSplitView, CollapseChoicesPrioritiesAndAdjustment) {
  auto s = makeSplit<FlexSplitView>({100, 200, 100});
  s->reset();
  s->setCanCollapse(true, 2);
  EXPECT_TRUE(s->splitViewCanCollapseSubview(*s, s->subviews()[2].get()));
  ui::View stranger;
  EXPECT_FALSE(s->splitViewCanCollapseSubview(*s, &stranger));
  EXPECT_TRUE(s->splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(*s, s->subviews()[1].get(), 1));
  s->setCollapseSubviewAtIndex(2, 1);
  EXPECT_FALSE(s->splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(*s, s->subviews()[1].get(), 1));
  EXPECT_TRUE(s->splitViewShouldCollapseSubviewForDoubleClickOnDividerAtIndex(*s, s->subviews()[2].get(), 1));
  EXPECT_EQ(s->subviewIndexToCollapseForDoubleClickOnDividerAtIndex(0), 9223372036854775807L);
  s->setPriority(0, 1);
  s->setPriority(0, 2);
  EXPECT_EQ(s->priorityIndexes().at(0), 2);
  // Growing: only subview 1 changes.
  s->setFrameSize({502, 300});
  EXPECT_EQ(widths(*s), (std::vector<double>{100, 300, 100}));
  // A zero-width subview counts as collapsed.
  s->subviews()[2]->setFrameSize({0, 300});
  EXPECT_TRUE(s->isSubviewCollapsed(s->subviews()[2].get()));
}

TEST(FlexSplitView, DividerDrawingFollowsColourStyleAndEdge) {
  auto s = makeSplit<FlexSplitView>({100, 100}, 20, 9);
  s->reset();
  s->setDividerStyle(ui::SplitView::DividerStyle::Thick);  // 9 points: the divider is x 100...108
  s->setBackgroundColor(ui::Color::white());
  s->setShouldDrawDivider(true);
  s->setDividerRectEdge(2);
  auto red = ui::Color::rgb(1, 0, 0);
  ui::Image nothing = s->snapshot();
  EXPECT_EQ(nothing.pixelColor(108, 10), ui::Color::white());  // no colour: nothing drawn
  s->setDividerColor(red.withAlpha(0));
  EXPECT_EQ(s->snapshot().pixelColor(108, 10), ui::Color::white());
  s->setDividerColor(red);
  ui::Image edge = s->snapshot();
  EXPECT_EQ(edge.pixelColor(108, 10), red);
  EXPECT_EQ(edge.pixelColor(107, 10), ui::Color::white());
  s->setDividerRectEdge(7);
  ui::Image whole = s->snapshot();
  EXPECT_EQ(whole.pixelColor(100, 10), red);
  EXPECT_EQ(whole.pixelColor(104, 10), red);
}

TEST(FlexSplitView, PositionsSizesAndCollapse) {
  auto s = makeSplit<FlexSplitView>({120, 200, 100});
  s->reset();
  bool done = false;
  EXPECT_FALSE(s->setPositions({10, 20}, {0}, false, [&](bool) { done = true; }));
  EXPECT_FALSE(done);
  EXPECT_FALSE(s->setPositions({10}, {2}, false, nullptr));  // divider 2 does not exist
  EXPECT_FALSE(s->setPositions({10}, {-1}, false, nullptr));
  EXPECT_EQ(s->positionOfDividerAtIndex(5), 0);
  EXPECT_TRUE(s->setPositions({150}, {0}, false, [&](bool ok) { done = ok; }));
  EXPECT_TRUE(done);
  EXPECT_EQ(width(*s, 0), 150);
  EXPECT_EQ(x(*s, 1), 151);
  EXPECT_EQ(width(*s, 1), 170);
  // A middle subview grows by 60: 30 on each side.
  s->setPositions({120}, {0}, false, nullptr);
  EXPECT_TRUE(s->setSize(260, 1, false, nullptr));
  EXPECT_EQ(s->positionOfDividerAtIndex(0), 90);
  EXPECT_EQ(s->positionOfDividerAtIndex(1), 351);
  EXPECT_FALSE(s->setSize(260, 1, false, nullptr));
  EXPECT_FALSE(s->setSize(10, 3, false, nullptr));
  // The first subview grows by 10.5 from 150.7: the divider lands on 160.
  s->setPositions({150.7}, {0}, false, nullptr);
  EXPECT_TRUE(s->setSize(150.7 + 10.5, 0, false, nullptr));
  EXPECT_EQ(s->positionOfDividerAtIndex(0), 160);
  // Collapse the first subview, then expand it to the saved position.
  EXPECT_FALSE(s->collapseOrExpandSubviewAtIndex(0, false));
  EXPECT_EQ(s->positionOfDividerAtIndex(0), 0);
  EXPECT_TRUE(s->collapseOrExpandSubviewAtIndex(0, false));
  EXPECT_EQ(s->positionOfDividerAtIndex(0), 160);
  EXPECT_FALSE(s->collapseOrExpandSubviewAtIndex(1, false));
  EXPECT_FALSE(s->collapseOrExpandSubviewAtIndex(7, false));
  // With subview 1 collapsed, divider 1 answers the end of subview 0; both collapsed: 0.
  s->subviews()[1]->setFrameSize({0, 300});
  EXPECT_EQ(s->positionOfDividerAtIndex(1), 160);
  s->subviews()[0]->setFrameSize({0, 300});
  EXPECT_EQ(s->positionOfDividerAtIndex(1), 0);
}

TEST(FlexSplitView, ExpandingAFirstSubviewNeverSavedStaysAtZero) {
  auto s = makeSplit<FlexSplitView>({0, 200});
  s->reset();
  EXPECT_TRUE(s->collapseOrExpandSubviewAtIndex(0, false));
  EXPECT_EQ(s->positionOfDividerAtIndex(0), 0);
  // Moving the divider to the full size leaves the second subview there with no gap.
  auto t = makeSplit<FlexSplitView>({100, 100});
  t->reset();
  t->setPositions({201}, {0}, false, nullptr);
  EXPECT_EQ(x(*t, 1), 201);
  EXPECT_EQ(width(*t, 1), 0);
}

TEST(FlexSplitView, AnimatedPositionsReportStartAndEnd) {
  auto s = makeSplit<FlexSplitView>({120, 200});
  s->reset();
  Recorder recorder;
  s->setEventsDelegate(&recorder);
  bool finished = false;
  EXPECT_TRUE(s->setPosition(60, 0, true, [&](bool ok) { finished = ok; }));
  EXPECT_TRUE(s->isAnimating());
  EXPECT_EQ(recorder.events, std::vector<std::string>{"animating"});
  // During the animation a resize report sends no move.
  s->postDidResizeSubviews(0);
  EXPECT_EQ(recorder.events.size(), 1u);
  EXPECT_TRUE(test::runUntil([&] { return finished; }, 10));
  EXPECT_FALSE(s->isAnimating());
  EXPECT_EQ(width(*s, 0), 60);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"animating", "done"}));
}

TEST(FlexSplitView, DragsReportMovesAndStateChanges) {
  auto s = makeSplit<FlexSplitView>({120, 200});
  s->reset();
  s->updateSubviewsState();
  Recorder recorder;
  s->setEventsDelegate(&recorder);
  DragHarness h;
  h.add(s);
  h.drag(120.5, -50);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"moved 0 0", "state 0 0"}));
  recorder.events.clear();
  h.drag(0.5, 80.5);
  EXPECT_EQ(recorder.events, (std::vector<std::string>{"moved 0 80", "state 0 1"}));
}

// A pane split view as its interface file leaves it: built, then awoken.
template <typename T>
std::shared_ptr<T> awokenSplit(std::vector<double> widths) {
  auto split = makeSplit<T>(std::move(widths));
  split->awakeFromNib();
  return split;
}

// The split made `width` wide while its panes keep `widths`: what a resize rule starts from.
void widenAroundPanes(FlexSplitView& split, double width, const std::vector<double>& widths) {
  split.setFrameSize({width, 300});
  for (size_t i = 0; i < widths.size(); ++i) split.subviews()[i]->setFrameSize({widths[i], 300});
}

TEST(FlexSplitView, ResizeRules) {
  // Uniform: two subviews, +3: they grow by 1 and 2.
  auto u = makeSplit<FlexSplitView>({100, 100});
  u->reset();
  widenAroundPanes(*u, 204, {100, 100});
  u->applyUniformResizeFromOldSize({201, 300});
  EXPECT_EQ(widths(*u), (std::vector<double>{101, 102}));
  // Within half a point of the maximum nobody can grow: sizes stay, heights follow the view.
  u->setMaxSize(101, 0);
  u->setMaxSize(102, 1);
  u->subviews()[0]->setFrameSize({101, 10});
  u->applyUniformResizeFromOldSize({194, 300});
  EXPECT_EQ(width(*u, 0), 101);
  EXPECT_EQ(u->subviews()[0]->frame().size.height, 300);

  // Proportional: 100 and 300, +10: 103 and 307; the divider adjustment comes off first.
  auto p = makeSplit<FlexSplitView>({100, 300});
  p->reset();
  widenAroundPanes(*p, 411, {100, 300});
  p->applyProportionalResizeFromOldSize({401, 300});
  EXPECT_EQ(widths(*p), (std::vector<double>{103, 307}));
  p->setDividerThickness(5);  // 4 more points of divider
  p->applyProportionalResizeFromOldSize({401, 300});
  EXPECT_EQ(p->deltaAdjustmentForDividerThickness(), 0);
  EXPECT_EQ(width(*p, 0) + width(*p, 1), 410 + 6);
  // Panes that are all empty do not hang the rule: they share the change.
  auto z = makeSplit<FlexSplitView>({0, 0});
  z->reset();
  z->setFrameSize({101, 300});
  z->subviews()[1]->setFrameSize({0, 300});
  z->applyProportionalResizeFromOldSize({1, 300});
  EXPECT_EQ(widths(*z), (std::vector<double>{50, 50}));

  // Priority: subview 2 (80, minimum 60) first, then subview 0; -50.
  auto q = makeSplit<FlexSplitView>({200, 100, 80});
  q->reset();
  q->setPriority(0, 2);
  q->setPriority(5, 0);
  q->setPriority(9, 9);  // past the end: skipped
  q->setMinSize(60, 2);
  widenAroundPanes(*q, 332, {200, 100, 80});
  q->applyPriorityResizeFromOldSize({382, 300});
  EXPECT_EQ(width(*q, 2), 60);
  EXPECT_EQ(width(*q, 0), 170);
  EXPECT_EQ(x(*q, 2), 272);
  // layoutSubviews hides a zero-size subview and shows it again.
  q->subviews()[1]->setFrameSize({0, 300});
  q->layoutSubviews();
  EXPECT_TRUE(q->subviews()[1]->isHidden());
  q->subviews()[1]->setFrameSize({5, 300});
  q->layoutSubviews();
  EXPECT_FALSE(q->subviews()[1]->isHidden());
  EXPECT_EQ(q->subviewsResizeMode(), 0u);
}

TEST(PrioritySplitViewDelegate, GrowthAndShrinkageFollowPriorities) {
  auto s = makeSplit<ui::SplitView>({300, 220});
  PrioritySplitViewDelegate d;
  d.setPriority(0, 1);
  d.setPriority(1, 0);
  d.setMinimumLength(100, 0);
  d.setMinimumLength(200, 1);
  s->setDelegate(&d);
  s->setFrameSize({571, 300});
  EXPECT_EQ(widths(*s), (std::vector<double>{300, 270}));
  s->setFrameSize({471, 300});
  EXPECT_EQ(width(*s, 1), 200);
  EXPECT_EQ(width(*s, 0), 270);
  EXPECT_EQ(x(*s, 1), 271);
  EXPECT_EQ(s->subviews()[1]->frame().size.height, 300);
  EXPECT_EQ(d.splitViewConstrainMinCoordinate(*s, 0, 0), 100);
  EXPECT_EQ(d.splitViewConstrainMaxCoordinate(*s, 0, 0), 270 + 200 - 200);
  // Shrinking below the minimums logs and lays out what fits; nothing is raised.
  fnd::setAssertionPolicy(fnd::AssertionPolicy::Throw);
  EXPECT_NO_THROW(s->setFrameSize({200, 300}));
  EXPECT_EQ(widths(*s), (std::vector<double>{100, 200}));
  EXPECT_EQ(d.minimumLengthOfSplitView(*s), 301);
  // In a window, the window's minimum size keeps the split view at its minimums.
  ui::Window window(fnd::Rect(0, 0, 571, 300));
  s->setFrame(fnd::Rect(0, 0, 571, 300));
  s->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  window.contentView()->addSubview(s);
  window.setContentSize({600, 300});
  EXPECT_EQ(window.minSize().width, 301);
  window.setContentSize({100, 300});
  EXPECT_EQ(s->frame().size.width, 301);
}

TEST(PaneSplitViews, FolderListRemembersItsWidthAndCollapses) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setObject(fnd::Value(), KestoSplitViewVerticalSecondaryLeft::WidthKey);
  auto s = awokenSplit<KestoSplitViewVerticalSecondaryLeft>({200, 599});
  EXPECT_EQ(width(*s, 0), 200);
  EXPECT_FALSE(s->collapsed());
  defaults.setDouble(230, KestoSplitViewVerticalSecondaryLeft::WidthKey);
  auto t = awokenSplit<KestoSplitViewVerticalSecondaryLeft>({200, 599});
  EXPECT_EQ(width(*t, 0), 230);
  // Divider limits are the class's, whatever is proposed.
  EXPECT_EQ(t->splitViewConstrainMinCoordinate(*t, 3, 0), 160);
  EXPECT_EQ(t->splitViewConstrainMaxCoordinate(*t, 999, 0), 350);
  // A drag stores the width, then tells the owner.
  int posts = 0;
  t->setDidResizeHandler([&] {
    EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryLeft::WidthKey), 250);
    ++posts;
  });
  t->setPosition(250, 0);
  EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryLeft::WidthKey), 250);
  EXPECT_EQ(posts, 1);
  // Growing the window grows only the primary pane.
  t->setFrameSize({1000, 300});
  EXPECT_EQ(width(*t, 0), 250);
  EXPECT_EQ(x(*t, 1), 251);
  EXPECT_EQ(width(*t, 1), 749);
  // Collapse (animated with the context's duration), then resize: it stays collapsed, out of
  // sight at its own width, so what it holds keeps its layout.
  auto tab = std::make_shared<ui::View>(fnd::Rect(180, 250, 30, 30));
  tab->setAutoresizingMask(ui::View::MinXMargin | ui::View::MinYMargin);
  auto list = std::make_shared<ui::View>(fnd::Rect(0, 0, 250, 240));
  list->setAutoresizingMask(ui::View::WidthSizable | ui::View::HeightSizable);
  t->subviews()[0]->setAutoresizesSubviews(true);
  t->subviews()[0]->addSubview(tab);
  t->subviews()[0]->addSubview(list);
  ui::AnimationContext::current().setDuration(0);
  t->collapseSecondaryPane();
  EXPECT_TRUE(t->collapsed());
  EXPECT_EQ(width(*t, 0), 250);
  EXPECT_EQ(x(*t, 0) + width(*t, 0), -1);
  EXPECT_EQ(x(*t, 1), 0);
  EXPECT_EQ(width(*t, 1), 1000);
  t->setFrameSize({900, 300});
  EXPECT_EQ(x(*t, 0) + width(*t, 0), -1);
  EXPECT_EQ(width(*t, 1), 900);
  EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryLeft::WidthKey), 250);
  t->collapseSecondaryPane();
  EXPECT_EQ(x(*t, 0), 0);
  EXPECT_EQ(width(*t, 0), 250);
  EXPECT_EQ(x(*t, 1), 251);
  EXPECT_EQ(tab->frame(), fnd::Rect(180, 250, 30, 30));
  EXPECT_EQ(list->frame(), fnd::Rect(0, 0, 250, 240));
  // Folding and unfolding again changes nothing inside either.
  t->collapseSecondaryPane();
  t->collapseSecondaryPane();
  EXPECT_EQ(tab->frame(), fnd::Rect(180, 250, 30, 30));
  EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryLeft::WidthKey), 250);
  ui::AnimationContext::current().setDuration(0.25);
}

TEST(PaneSplitViews, LeftPaneCollapseLimitsAndWholeWidths) {
  auto s = awokenSplit<BRWSplitViewVerticalSecondaryLeft>({400, 399});
  s->collapseSecondaryPane();
  EXPECT_EQ(s->collapsableViewWidth(), 250);  // the maximum caps the width to restore
  EXPECT_TRUE(test::runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0; }, 10));
  EXPECT_EQ(x(*s, 0) + width(*s, 0), -1);
  EXPECT_EQ(x(*s, 1), 0);
  s->collapseSecondaryPane();
  EXPECT_TRUE(test::runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0; }, 10));
  EXPECT_EQ(width(*s, 0), 250);
  auto t = awokenSplit<BRWSplitViewVerticalSecondaryLeft>({180.6, 400});
  ui::AnimationContext::current().setDuration(0);
  t->collapseSecondaryPane();
  t->collapseSecondaryPane();
  EXPECT_TRUE(test::runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0; }, 10));
  EXPECT_EQ(width(*t, 0), 180);
  auto z = awokenSplit<BRWSplitViewVerticalSecondaryLeft>({0, 400});
  EXPECT_TRUE(z->collapsed());
  EXPECT_EQ(z->collapsableViewWidth(), 160);
  ui::AnimationContext::current().setDuration(0.25);
}

// Only the panes with a width key answer the resize hook and store a width; a folded folder
// list keeps the width it will come back at.
TEST(PaneSplitViews, OnlyKeyedPanesRememberAnExpandedWidth) {
  using Hook = ui::SplitViewDelegate::Hook;
  auto& defaults = fnd::UserDefaults::standard();
  auto plain = awokenSplit<BRWSplitViewVerticalSecondaryLeft>({200, 599});
  EXPECT_EQ(plain->implementedSplitViewHooks() & Hook::DidResizeSubviews, 0u);
  auto right = awokenSplit<KestoSplitViewVerticalSecondaryRight>({599, 300});
  EXPECT_NE(right->implementedSplitViewHooks() & Hook::DidResizeSubviews, 0u);
  defaults.setDouble(220, KestoSplitViewVerticalSecondaryLeft::WidthKey);
  auto left = awokenSplit<KestoSplitViewVerticalSecondaryLeft>({200, 599});
  EXPECT_NE(left->implementedSplitViewHooks() & Hook::DidResizeSubviews, 0u);
  int told = 0;
  left->setDidResizeHandler([&] { ++told; });
  ui::AnimationContext::current().setDuration(0);
  left->collapseSecondaryPane();
  left->subviews()[0]->setFrameSize({170, 300});
  left->postDidResizeSubviews(std::nullopt);
  EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryLeft::WidthKey), 220);
  EXPECT_EQ(told, 1);  // the owner hears of every resize, stored or not
  left->collapseSecondaryPane();
  left->setPosition(240, 0);
  EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryLeft::WidthKey), 240);
  ui::AnimationContext::current().setDuration(0.25);
}

TEST(PaneSplitViews, InspectorWidthAndLimits) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setDouble(180, KestoSplitViewVerticalSecondaryRight::WidthKey);
  auto s = awokenSplit<KestoSplitViewVerticalSecondaryRight>({700, 299});
  EXPECT_EQ(width(*s, 1), 210);
  EXPECT_EQ(*s->secondaryPaneSize(), 240);
  defaults.setDouble(300, KestoSplitViewVerticalSecondaryRight::WidthKey);
  auto t = awokenSplit<KestoSplitViewVerticalSecondaryRight>({699, 300});
  EXPECT_EQ(width(*t, 1), 300);
  EXPECT_EQ(t->splitViewConstrainMinCoordinate(*t, 0, 0), 649);
  EXPECT_EQ(t->splitViewConstrainMaxCoordinate(*t, 0, 0), 789);
  t->setSecondaryPaneMaxSize(0.5);  // below 1: the default applies
  EXPECT_EQ(t->splitViewConstrainMinCoordinate(*t, 0, 0), 649);
  t->setPosition(700, 0);
  EXPECT_EQ(defaults.doubleForKey(KestoSplitViewVerticalSecondaryRight::WidthKey), 299);
  t->setFrameSize({1200, 300});
  EXPECT_EQ(width(*t, 1), 299);
  EXPECT_EQ(x(*t, 1), 901);
}
