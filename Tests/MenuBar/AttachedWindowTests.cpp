#include "MenuBar/AttachedWindow.h"

#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

// A 100 by 50 view with the default margins: the bubble is 104 by 54 plus the arrow's 16.
AttachedWindowGeometry bubble(int side, double distance = 0) {
  AttachedWindowGeometry g;
  g.viewSize = {100, 50};
  g.side = side;
  g.distance = distance;
  return g;
}

void expectRect(const fnd::Rect& r, double x, double y, double w, double h) {
  EXPECT_DOUBLE_EQ(r.minX(), x);
  EXPECT_DOUBLE_EQ(r.minY(), y);
  EXPECT_DOUBLE_EQ(r.size.width, w);
  EXPECT_DOUBLE_EQ(r.size.height, h);
}

TEST(AttachedWindowGeometry, FramesPutTheArrowTipOnThePoint) {
  const fnd::Point p{500, 500};
  expectRect(bubble(1).windowFrame(p), 448, 430, 104, 70);     // below, centred
  expectRect(bubble(1, 5).windowFrame(p), 448, 425, 104, 70);  // and further down
  expectRect(bubble(0, 5).windowFrame(p), 375, 473, 120, 54);  // left, centred
  expectRect(bubble(2).windowFrame(p), 500, 473, 120, 54);
  expectRect(bubble(3, 5).windowFrame(p), 448, 505, 104, 70);
  // Near an edge's end: the tip is the arrow inset (radius 8 + half the base 10) from a corner.
  expectRect(bubble(11).windowFrame(p), 482, 430, 104, 70);
  expectRect(bubble(10).windowFrame(p), 414, 430, 104, 70);
  expectRect(bubble(7).windowFrame(p), 500, 464, 120, 54);
  // The automatic side unresolved: no arrow room and no offset.
  expectRect(bubble(12, 5).windowFrame(p), 500, 500, 104, 54);
  expectRect(bubble(2).viewFrame(), 18, 2, 100, 50);
  expectRect(bubble(3).viewFrame(), 2, 18, 100, 50);
}

TEST(AttachedWindowGeometry, AutomaticSideKeepsClearOfEdgesOnAScreenAwayFromTheOrigin) {
  const fnd::Rect screen(1280, 200, 1024, 768);
  auto g = bubble(12);
  EXPECT_EQ(g.bestSide({1792, 600}, screen, screen), 1);
  // Near the bottom: right, and extending upward so it stays on the screen.
  EXPECT_EQ(g.bestSide({1792, 210}, screen, screen), 6);
  // Near the bottom right corner: left.
  EXPECT_EQ(g.bestSide({2290, 210}, screen, screen), 4);
  // Too narrow on both sides: above.
  const fnd::Rect narrow(1280, 200, 110, 768);
  EXPECT_EQ(g.bestSide({1335, 210}, narrow, narrow), 3);
  // Near the right end of the parent window: below, extending to the left.
  EXPECT_EQ(g.bestSide({1690, 700}, screen, fnd::Rect(1300, 300, 400, 400)), 10);
  // Near its left end: extending to the right.
  EXPECT_EQ(g.bestSide({1310, 700}, screen, fnd::Rect(1300, 300, 400, 400)), 11);
}

TEST(AttachedWindowGeometry, OutlineCornersAndArrow) {
  auto g = bubble(11);
  g.drawsRoundCornerBesideArrow = false;
  auto path = g.bubblePath();
  const auto& e = path.elements();
  ASSERT_GE(e.size(), 3u);
  // A square top-left corner: the arrow starts at the very corner and points up.
  EXPECT_DOUBLE_EQ(e[0].points[0].x, 1);
  EXPECT_DOUBLE_EQ(e[0].points[0].y, 53);
  EXPECT_DOUBLE_EQ(e[1].points[0].x, 11);
  EXPECT_DOUBLE_EQ(e[1].points[0].y, 69);
  EXPECT_DOUBLE_EQ(e[2].points[0].x, 21);
  EXPECT_EQ(e.back().op, ui::Path::Op::Close);
  // Without the arrow the window keeps its room, but the outline stays on the bubble.
  g = bubble(1);
  g.hasArrow = false;
  EXPECT_LE(g.bubblePath().bounds().maxY(), 54);
  g.hasArrow = true;
  EXPECT_DOUBLE_EQ(g.bubblePath().bounds().maxY(), 69);
}

TEST(AttachedWindow, SettersClampAndTheWindowStandsAtItsPoint) {
  EXPECT_FALSE(AttachedWindow::create(nullptr, {0, 0}));
  auto view = std::make_shared<ui::View>(fnd::Rect(0, 0, 100, 50));
  auto window = AttachedWindow::create(view, {1500, 500}, nullptr, 1);
  ASSERT_TRUE(window);
  expectRect(window->frame(), 1448, 430, 104, 70);
  expectRect(view->frame(), 2, 2, 100, 50);

  window->setBorderWidth(5);
  EXPECT_DOUBLE_EQ(window->borderWidth(), 2) << "never above the margin";
  window->setCornerRadius(40);
  EXPECT_DOUBLE_EQ(window->cornerRadius(), 17);  // (50 + 4 - 20) / 2
  EXPECT_DOUBLE_EQ(window->arrowBaseWidth(), 20);
  window->setViewMargin(-3);
  EXPECT_DOUBLE_EQ(window->viewMargin(), 0);
  EXPECT_DOUBLE_EQ(window->cornerRadius(), 15) << "clamped again for the smaller bubble";
  window->setArrowBaseWidth(100);
  EXPECT_DOUBLE_EQ(window->arrowBaseWidth(), 20);  // 50 - 15 - 15
  window->setHasArrow(0.7);
  EXPECT_FALSE(window->hasArrow()) << "the integer part is the flag";
  window->setHasArrow(1.2);
  EXPECT_TRUE(window->hasArrow());

  // The automatic side given later is not resolved: the origin is the point.
  window->setPoint({1600, 300}, kAttachedSideAutomatic);
  EXPECT_DOUBLE_EQ(window->frame().minX(), 1600);
  EXPECT_DOUBLE_EQ(window->frame().minY(), 300);

  auto automatic = AttachedWindow::create(std::make_shared<ui::View>(fnd::Rect(0, 0, 100, 50)), {200, 200});
  ASSERT_TRUE(automatic);
  EXPECT_GE(automatic->side(), 0);
  EXPECT_LE(automatic->side(), 11);
}

// A pattern image fills the bubble with its tiles repeated; a colour set later replaces it, and
// a null image changes nothing.
TEST(AttachedWindow, APatternImageFillsTheBubble) {
  auto view = std::make_shared<ui::View>(fnd::Rect(0, 0, 100, 50));
  auto window = AttachedWindow::create(view, {400, 400}, nullptr, 1);
  ASSERT_TRUE(window);
  // Red and blue in alternate columns.
  std::vector<std::uint8_t> checker;
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 2; ++x) checker.insert(checker.end(), x == 0 ? std::initializer_list<std::uint8_t>{255, 0, 0, 255}
                                                                      : std::initializer_list<std::uint8_t>{0, 0, 255, 255});
  const ui::Image tile = ui::Image::fromRGBA(2, 2, checker);
  ASSERT_FALSE(tile.isNull());
  window->setBackgroundImage(tile);
  ASSERT_TRUE(window->backgroundImage());
  const auto probe = [&](int x) {
    ui::Image shot = window->contentView()->snapshot();
    return shot.pixelColor(x, int(shot.size().height) - 25);
  };
  const ui::Color a = probe(50), b = probe(51), c = probe(52);
  EXPECT_EQ(a, c) << "the tile repeats";
  EXPECT_NE(a, b);
  for (const ui::Color& p : {a, b}) {
    EXPECT_EQ(p.green, 0.0);
    EXPECT_EQ(p.red + p.blue, 1.0) << "pure red or pure blue: the pattern, not a colour";
  }
  window->setBackgroundImage(ui::Image());
  EXPECT_TRUE(window->backgroundImage()) << "a null image changes nothing";
  window->setBackgroundColor(ui::Color::rgb(0, 1, 0));
  EXPECT_FALSE(window->backgroundImage());
  EXPECT_EQ(probe(50), ui::Color::rgb(0, 1, 0));
  EXPECT_EQ(probe(51), ui::Color::rgb(0, 1, 0));
}

}  // namespace
}  // namespace kesto::test
