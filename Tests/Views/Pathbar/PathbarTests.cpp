#include "Platform/UI/Event.h"
#include "Platform/UI/Window.h"
#include "Views/Pathbar.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

ui::Color at(const ui::Image& image, double x, double y) {
  return image.pixelColor(int(x), int(image.size().height - 1 - y));
}
bool isBlue(const ui::Color& c) { return c.blue > c.red + 0.25 && c.alpha > 0.9; }
bool isLightGrey(const ui::Color& c) { return std::abs(c.red - c.blue) < 0.05 && c.red > 0.8; }

constexpr ui::Command kPathbarClicked{"pathbarClicked:"};

struct Target : ui::Responder {
  int actions = 0;
  bool performAction(ui::Command selector, ui::Responder*) override {
    if (selector != kPathbarClicked) return false;
    ++actions;
    return true;
  }
};

struct PathbarFixture : ::testing::Test {
  ui::Window window{fnd::Rect(0, 0, 400, 24)};
  std::shared_ptr<Pathbar> bar = std::make_shared<Pathbar>(fnd::Rect(0, 0, 400, 24));
  void SetUp() override { window.contentView()->addSubview(bar); }
  void click(int type, const fnd::Point& p) {
    ui::Event e;
    e.type = ui::EventType(type);
    e.locationInWindow = p;
    e.clickCount = 1;
    window.sendEvent(e);
  }
};

}  // namespace

TEST_F(PathbarFixture, ItemsAreAddedInsertedAndRemovedWithinBounds) {
  bar->addItemWithTitle("Library");
  bar->addItemWithTitle("Sub");
  bar->insertItemWithTitle("Folder", 1);
  bar->insertItemWithTitle("ignored", -1);
  bar->insertItemWithTitle("ignored", 4);
  ASSERT_EQ(bar->pathComponentCells().size(), 3u);
  EXPECT_EQ(bar->pathComponentCells()[1]->title(), "Folder");
  bar->removeItemAtIndex(3);
  bar->removeItemAtIndex(-1);
  ASSERT_EQ(bar->pathComponentCells().size(), 3u);
  auto middle = bar->pathComponentCells()[1];
  EXPECT_EQ(bar->indexOfComponentCell(middle.get()), 1);
  PathbarComponentCell stranger("Folder");
  EXPECT_EQ(bar->indexOfComponentCell(&stranger), -1);
  bar->removeItemAtIndex(1);
  EXPECT_EQ(bar->indexOfComponentCell(middle.get()), -1);
  bar->removeLastItem();
  EXPECT_EQ(bar->pathComponentCells().size(), 1u);
  bar->removeAllItems();
  bar->removeLastItem();
  EXPECT_TRUE(bar->pathComponentCells().empty());
}

TEST_F(PathbarFixture, SegmentsOverlapByTwelvePoints) {
  bar->addItemWithTitle("Library");
  bar->addItemWithTitle("Folder");
  auto f = bar->segmentFrames();
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1].origin.x, f[0].maxX() - 12);
  EXPECT_EQ(f[0].size.height, 24);
}

TEST_F(PathbarFixture, OneSegmentIsHighlightedWithTheEdgeOnItsRight) {
  bar->addItemWithTitle("Library");
  auto* only = bar->pathComponentCells()[0].get();
  EXPECT_TRUE(bar->isFirstItem(only));
  EXPECT_TRUE(bar->isLastItem(only));
  EXPECT_TRUE(bar->isHighlighted(only));
  ui::Image image = bar->snapshot();
  fnd::Rect f = bar->segmentFrames()[0];
  EXPECT_TRUE(isBlue(at(image, 2, 20)));           // no left arrow: blue from the start
  EXPECT_TRUE(isBlue(at(image, f.maxX() - 1, 12))); // the edge
  EXPECT_TRUE(isLightGrey(at(image, f.maxX() + 20, 12)));  // the fill beyond
}

TEST_F(PathbarFixture, PlainSegmentsShowTheSeparatorAndTheLastIsHighlighted) {
  bar->addItemWithTitle("Library");
  bar->addItemWithTitle("Folder");
  bar->addItemWithTitle("Sub");
  auto f = bar->segmentFrames();
  ui::Image image = bar->snapshot();
  EXPECT_TRUE(isLightGrey(at(image, f[0].origin.x + 2, 21)));
  EXPECT_TRUE(isLightGrey(at(image, f[1].midX(), 21)));
  // The separator's chevron reaches its point at mid-height near the segment's right end.
  ui::Color tip = at(image, f[0].maxX() - 2, 12);
  EXPECT_LT(tip.red, 0.75);
  // The last segment: the left arrow notch shows the previous segment, then blue.
  EXPECT_TRUE(isBlue(at(image, f[2].origin.x + 13, 21)));
  EXPECT_TRUE(isBlue(at(image, f[2].maxX() - 2, 21)));
}

TEST_F(PathbarFixture, PressingHighlightsAndAClickSendsTheAction) {
  Target target;
  bar->setTarget(&target);
  bar->setAction(kPathbarClicked);
  bar->addItemWithTitle("Library");
  bar->addItemWithTitle("Folder");
  bar->addItemWithTitle("Sub");
  auto f = bar->segmentFrames();
  fnd::Point inSecond{f[1].midX(), 20};
  click(int(ui::EventType::LeftMouseDown), inSecond);
  auto* second = bar->pathComponentCells()[1].get();
  EXPECT_TRUE(bar->isHighlighted(second));
  ui::Image image = bar->snapshot();
  EXPECT_TRUE(isBlue(at(image, f[1].origin.x + 14, 21)));
  click(int(ui::EventType::LeftMouseUp), inSecond);
  EXPECT_EQ(target.actions, 1);
  EXPECT_EQ(bar->indexOfComponentCell(bar->clickedPathComponentCell()), 1);
  EXPECT_FALSE(bar->isHighlighted(second));
  // Released outside the pressed segment: no action.
  click(int(ui::EventType::LeftMouseDown), inSecond);
  click(int(ui::EventType::LeftMouseUp), fnd::Point{f[0].origin.x + 3, 20});
  EXPECT_EQ(target.actions, 1);
}
