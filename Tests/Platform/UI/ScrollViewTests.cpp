#include "Harness/TestSupport.h"
#include "TestViews.h"
#include "Platform/UI/ClipView.h"
#include "Platform/UI/ScrollView.h"
#include "Platform/UI/View.h"

#include <gtest/gtest.h>

using namespace kesto;
using namespace kesto::ui;
using kesto::test::FlippedView;

namespace {

// Counts the scroller updates a document's frame changes cause.
class CountingScrollView : public ScrollView {
 public:
  using ScrollView::ScrollView;
  explicit CountingScrollView(int* reflections) : ScrollView(fnd::Rect(0, 0, 200, 100)), reflections_(reflections) {}
  void reflectScrolledClipView(ClipView* clip) override {
    if (reflections_) ++*reflections_;
    ScrollView::reflectScrolledClipView(clip);
  }

 private:
  int* reflections_ = nullptr;
};

}  // namespace

// A document (or its clip view) kept elsewhere may outlive its scroll view; its later frame
// changes must not reach the scroll view that is gone.
TEST(ScrollView, ADocumentOutlivingItsScrollViewCanStillChange) {
  int reflections = 0;
  auto document = std::make_shared<FlippedView>(fnd::Rect(0, 0, 200, 1000));
  std::shared_ptr<ClipView> clip;
  {
    auto sv = std::make_shared<CountingScrollView>(&reflections);
    sv->setHasVerticalScroller(true);
    sv->setDocumentView(document);
    clip = sv->contentView();
    clip->scrollToPoint({0, 800});
    reflections = 0;
    document->setFrameSize({200, 900});
    EXPECT_GT(reflections, 0);
    EXPECT_EQ(sv->verticalScrollerMaximum(), 800);
  }
  reflections = 0;
  document->setFrameSize({200, 300});
  document->setFrame(fnd::Rect(0, 0, 100, 50));
  EXPECT_EQ(reflections, 0);

  // Without its clip view either.
  clip.reset();
  document->setFrameSize({200, 2000});
  EXPECT_EQ(reflections, 0);
}

// After the scroll view changed clip views, the old document's changes leave the new clip
// alone, and a document moved to another scroll view reports only there.
TEST(ScrollView, ADocumentReportsOnlyToTheScrollViewShowingIt) {
  int firstCount = 0, secondCount = 0;
  CountingScrollView first(&firstCount);
  auto oldDocument = std::make_shared<FlippedView>(fnd::Rect(0, 0, 200, 1000));
  first.setDocumentView(oldDocument);
  first.setContentView(std::make_shared<ClipView>(fnd::Rect(0, 0, 200, 100)));
  auto newDocument = std::make_shared<FlippedView>(fnd::Rect(0, 0, 200, 500));
  first.setDocumentView(newDocument);
  firstCount = 0;
  oldDocument->setFrameSize({200, 50});
  EXPECT_EQ(firstCount, 0);
  newDocument->setFrameSize({200, 600});
  EXPECT_GT(firstCount, 0);
  EXPECT_EQ(first.verticalScrollerMaximum(), 500);

  {
    CountingScrollView second(&secondCount);
    second.setDocumentView(newDocument);
    firstCount = secondCount = 0;
    newDocument->setFrameSize({200, 700});
    EXPECT_EQ(firstCount, 0);
    EXPECT_GT(secondCount, 0);
  }
  secondCount = 0;
  newDocument->setFrameSize({200, 800});
  EXPECT_EQ(secondCount, 0);

  // The scroll view the document left may go first; the one showing it still hears.
  int thirdCount = 0;
  CountingScrollView third(&thirdCount);
  {
    auto earlier = std::make_shared<CountingScrollView>(&secondCount);
    earlier->setDocumentView(newDocument);
    third.setDocumentView(newDocument);
  }
  thirdCount = 0;
  newDocument->setFrameSize({200, 900});
  EXPECT_GT(thirdCount, 0);
  EXPECT_EQ(third.verticalScrollerMaximum(), 800);
}

namespace {
// The rows of the scroller's column (right edge) that differ from its groove, away from the
// arrows at both ends: the knob, which must be the only such run.
std::pair<int, int> knobRows(ScrollView& view) {
  Image shot = view.snapshot();
  const int x = static_cast<int>(shot.size().width) - 7;
  const int height = static_cast<int>(shot.size().height);
  int first = -1, last = -1, runs = 0;
  bool inRun = false;
  std::vector<Color> column;
  for (int y = 0; y < height; ++y) column.push_back(shot.pixelColor(x, y));
  // The groove's colour: the one most rows between the arrows have.
  auto near = [](const Color& a, const Color& b) {
    return std::abs(a.red - b.red) + std::abs(a.green - b.green) + std::abs(a.blue - b.blue) <= 0.02;
  };
  Color groove = column[static_cast<std::size_t>(height / 2)];
  int best = 0;
  for (int y = 20; y < height - 20; y += 7) {
    int same = 0;
    for (int z = 20; z < height - 20; ++z) same += near(column[static_cast<std::size_t>(y)], column[static_cast<std::size_t>(z)]);
    if (same > best) best = same, groove = column[static_cast<std::size_t>(y)];
  }
  for (int y = 20; y < height - 20; ++y) {
    const bool differs = !near(column[static_cast<std::size_t>(y)], groove);
    if (differs && !inRun) ++runs;
    inRun = differs;
    if (!differs) continue;
    if (first < 0) first = y;
    last = y;
  }
  if (runs != 1) return {-1, -1};
  return {first, last};
}
}  // namespace

// The scroller keeps its groove as a picture and paints only the knob over it: the knob shows,
// follows the document, and the groove follows a new size.
TEST(ScrollView, TheScrollerKnobFollowsTheDocumentOverItsKeptGroove) {
  ScrollView view(fnd::Rect(0, 0, 200, 300));
  view.setScrollerStyle(ScrollerStyle::Legacy);
  view.setHasVerticalScroller(true);
  view.setDocumentView(std::make_shared<FlippedView>(fnd::Rect(0, 0, 185, 1500)));
  auto [top, topEnd] = knobRows(view);
  ASSERT_GE(top, 0) << "no knob, or more than one run of it";
  EXPECT_LT(topEnd, 150);

  ASSERT_TRUE(view.performAction(cmd::scrollToEndOfDocument, nullptr));
  auto [bottom, bottomEnd] = knobRows(view);
  ASSERT_GE(bottom, 0) << "no knob after scrolling";
  EXPECT_GT(bottom, 150);
  EXPECT_GT(bottomEnd, topEnd);

  // Taller and back at the top: one knob at the top over a groove as long as the scroller.
  view.setFrame(fnd::Rect(0, 0, 200, 500));
  ASSERT_TRUE(view.performAction(cmd::scrollToBeginningOfDocument, nullptr));
  auto [tall, tallEnd] = knobRows(view);
  ASSERT_GE(tall, 0) << "no knob, or the groove kept its old length";
  EXPECT_LT(tallEnd, 250);
}
