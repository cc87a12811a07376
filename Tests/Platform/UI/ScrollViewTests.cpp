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
