#include "Platform/UI/Animator.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Window.h"
#include "Views/BRWColoredView.h"
#include "Views/KSTRoundedBox.h"
#include "Views/Unused/BRWImageView.h"
#include "Views/Unused/BRWTextureView.h"
#include "Views/KSTRoundedToolbarView.h"
#include "Views/Unused/KestoNonDraggableView.h"

#include <gtest/gtest.h>

using namespace kesto;

namespace {

ui::Color at(const ui::Image& image, double x, double y) {
  return image.pixelColor(int(x), int(image.size().height - 1 - y));
}

struct StyledFixture : ::testing::Test {
  ui::Window window{fnd::Rect(100, 100, 300, 200)};
  template <typename T>
  std::shared_ptr<T> add(const fnd::Rect& frame) {
    auto v = std::make_shared<T>(frame);
    window.contentView()->addSubview(v);
    return v;
  }
  void send(ui::EventType type, const fnd::Point& p) {
    ui::Event e;
    e.type = type;
    e.locationInWindow = p;
    e.clickCount = 1;
    window.sendEvent(e);
  }
};

struct ClickCounter : ui::View {
  using View::View;
  int downs = 0;
  void mouseDown(const ui::Event&) override { ++downs; }
};

}  // namespace

TEST_F(StyledFixture, ColouredViewStyles) {
  window.contentView()->setBackgroundColor(ui::Color::rgb(0, 1, 0));
  auto v = add<BRWColoredView>(fnd::Rect(0, 0, 100, 50));
  v->awakeFromNib();
  EXPECT_EQ(v->color(), "azure");
  ui::Color c = at(v->snapshot(), 50, 25);
  EXPECT_NEAR(c.red, 0.63, 0.01);
  EXPECT_NEAR(c.green, 0.63, 0.01);  // a grey, not a blue
  EXPECT_NEAR(c.blue, 0.63, 0.01);
  // An unknown name paints nothing of its own: what is behind shows.
  v->setColor("mauve");
  c = at(window.contentView()->snapshot(), 50, 25);
  EXPECT_EQ(c.green, 1.0);
  EXPECT_EQ(c.red, 0.0);
  // The vertical gradient runs from lighter at the top to darker at the bottom; no final fill.
  v->setColor("gradient");
  ui::Image g = v->snapshot();
  EXPECT_GT(at(g, 50, 48).red, at(g, 50, 1).red + 0.1);
  // The rounded tab: top corners cut, bottom corners filled.
  v->setColor("gradientRounded");
  v->setNeedsDisplay();
  ui::Image tab = window.contentView()->snapshot();
  EXPECT_EQ(at(tab, 0, 49).green, 1.0);
  EXPECT_LT(at(tab, 0, 0).green, 0.9);
}

// The rounded box casts a light-grey shadow two points right of and below it, softened over
// three points; above and left of it nothing shows. Its superview paints it, in a flipped one
// too.
TEST_F(StyledFixture, RoundedBoxCastsALightShadowBelowRight) {
  for (bool flippedParent : {false, true}) {
    struct Parent : ui::View {
      bool flip = false;
      using View::View;
      bool isFlipped() const override { return flip; }
    };
    auto parent = add<Parent>(fnd::Rect(0, 0, 300, 200));
    parent->flip = flippedParent;
    parent->setBackgroundColor(ui::Color::white(1.0));
    // Flipped, y runs down from the top: the same place on screen either way.
    auto box = std::make_shared<KSTRoundedBox>(fnd::Rect(100, flippedParent ? 60 : 100, 60, 40));
    parent->addSubview(box);
    box->awakeFromNib();
    ASSERT_TRUE(box->shadow());
    ui::Image image = parent->snapshot();
    SCOPED_TRACE(flippedParent ? "flipped" : "unflipped");
    // Inside: the box's own grey.
    EXPECT_NEAR(at(image, 130, 120).red, 0.963, 0.01);
    // Below and right of the box: grey, darkest near it, fading out.
    const double nearBelow = at(image, 130, 99).red, farBelow = at(image, 130, 95).red;
    EXPECT_LT(nearBelow, 0.97);
    EXPECT_LT(nearBelow, farBelow);
    EXPECT_LT(at(image, 161, 120).red, 0.97);
    EXPECT_GT(at(image, 130, 92).red, 0.99) << "past offset and blur nothing shows";
    // Above and left: only the blur's edge, much fainter than below.
    EXPECT_GT(at(image, 130, 141).red, nearBelow + 0.01);
    EXPECT_GT(at(image, 98, 120).red, 0.99);
    EXPECT_GT(at(image, 130, 143).red, 0.99);
    // Hidden, it casts none.
    box->setHidden(true);
    parent->setNeedsDisplay();
    EXPECT_GT(at(parent->snapshot(), 130, 99).red, 0.99);
    parent->removeFromSuperview();
  }
}

TEST_F(StyledFixture, BordersShowOnlyOnLayerBackedViewsAndLightGrayHasNone) {
  auto v = add<BRWColoredView>(fnd::Rect(0, 0, 100, 50));
  v->setColor("whiteBordered");
  v->snapshot();
  EXPECT_EQ(v->borderWidth(), 0.0);
  v->setWantsLayer(true);
  v->snapshot();
  EXPECT_EQ(v->borderWidth(), 0.5);
  EXPECT_EQ(v->borderColor(), BRWColoredView::systemGray());
  auto light = add<BRWColoredView>(fnd::Rect(0, 60, 100, 50));
  light->setWantsLayer(true);
  light->setColor("lightGray");
  ui::Image image = light->snapshot();
  EXPECT_EQ(light->borderWidth(), 0.0);
  EXPECT_EQ(at(image, 0, 25), at(image, 50, 25));  // no outline
}

TEST_F(StyledFixture, EditViewTakesFocusOnClick) {
  auto v = add<KestoEditView>(fnd::Rect(0, 0, 100, 50));
  send(ui::EventType::LeftMouseDown, fnd::Point{10, 10});
  EXPECT_EQ(window.firstResponder(), v.get());
}

TEST_F(StyledFixture, PaperTextureStaysAlignedWithTheWindow) {
  auto a = add<BRWTextureView>(fnd::Rect(0, 0, 128, 128));
  auto b = add<BRWTextureView>(fnd::Rect(150, 0, 128, 128));
  ui::Image ia = a->snapshot(), ib = b->snapshot();
  // Window x 150 + 10 lies 32 points into a 64-point tile, as window x 32 does.
  int same = 0;
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 64; ++x) same += at(ia, (x + 150) % 64 + 64, y) == at(ib, x + 64, y);
  EXPECT_EQ(same, 64 * 64);
  EXPECT_FALSE(ui::Image::named("paper_background").isNull());
}

TEST_F(StyledFixture, ImageViewFramesItsFixedRectangle) {
  auto v = add<BRWImageView>(fnd::Rect(0, 0, 300, 200));
  v->setImage(ui::Image(10, 10, ui::Color::rgb(1, 0, 0)));
  ui::Image image = v->snapshot();
  EXPECT_EQ(at(image, 120, 90).red, 1.0);
  ui::Color frame = at(image, 0, 90);
  EXPECT_NEAR(frame.red, 2.0 / 3.0, 0.01);
  EXPECT_NEAR(at(image, 1, 90).red, 2.0 / 3.0, 0.01);  // two points wide
  EXPECT_EQ(at(image, 260, 90).alpha, 0.0);            // nothing beyond 240
}

TEST_F(StyledFixture, ToolbarsSwallowClicksAndDragTheWindow) {
  auto behind = add<ClickCounter>(fnd::Rect(0, 0, 300, 40));
  auto bar = std::make_shared<KSTRoundedToolbarView>(fnd::Rect(0, 0, 300, 40));
  behind->addSubview(bar);
  bar->awakeFromNib();
  EXPECT_DOUBLE_EQ(bar->alphaValue(), 0.95);
  EXPECT_TRUE(bar->mouseDownCanMoveWindow());
  window.orderFront();
  fnd::Point start = window.frame().origin;
  send(ui::EventType::LeftMouseDown, fnd::Point{10, 10});
  EXPECT_EQ(behind->downs, 0);
  send(ui::EventType::LeftMouseDragged, fnd::Point{30, 5});
  send(ui::EventType::LeftMouseUp, fnd::Point{10, 10});
  EXPECT_EQ(window.frame().origin.x, start.x + 20);
  EXPECT_EQ(window.frame().origin.y, start.y - 5);
  // Non-draggable views swallow drags without moving anything.
  auto still = add<KestoNonDraggableView>(fnd::Rect(0, 100, 50, 50));
  fnd::Point now = window.frame().origin;
  send(ui::EventType::LeftMouseDown, fnd::Point{10, 110});
  send(ui::EventType::LeftMouseDragged, fnd::Point{40, 140});
  EXPECT_EQ(window.frame().origin, now);
}

TEST_F(StyledFixture, AutohideToolbarShowsWhileThePointerIsOver) {
  auto bar = add<KSTRoundedToolbarAutohideView>(fnd::Rect(0, 0, 300, 40));
  bar->awakeFromNib();
  EXPECT_DOUBLE_EQ(bar->alphaValue(), 0.2);
  EXPECT_FALSE(bar->backgroundColor());  // the base's styling does not run
  bar->mouseEntered();
  ui::AnimationContext::finishAllAnimations();
  EXPECT_DOUBLE_EQ(bar->alphaValue(), 1.0);
  bar->mouseExited();
  ui::AnimationContext::finishAllAnimations();
  EXPECT_DOUBLE_EQ(bar->alphaValue(), 0.2);
}
