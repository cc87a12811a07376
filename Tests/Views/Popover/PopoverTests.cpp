#include "Harness/TestSupport.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/Window.h"
#include "Views/PopoverController.h"
#include "Views/PopoverWindow.h"
#include "Views/PopoverWindowFrame.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <algorithm>

using namespace kesto;

namespace {

bool hasPoint(const ui::Path& path, double x, double y) {
  for (const auto& e : path.elements())
    if (e.op != ui::Path::Op::Close && e.points[0].x == x && e.points[0].y == y) return true;
  return false;
}

// Pixel of a y-up view snapshot at view point (x, y).
ui::Color at(const ui::Image& image, double x, double y) {
  return image.pixelColor(int(x), int(image.size().height - 1 - y));
}

constexpr fnd::Size kContent{200, 100};  // frames of 224 x 124

}  // namespace

// ---- Geometry of the window and its body

TEST(PopoverWindow, ContentSitsTwelvePointsInFromEachSide) {
  EXPECT_EQ(PopoverWindow::frameRectForContentRect(fnd::Rect(100, 100, 200, 150)), fnd::Rect(88, 88, 224, 174));
  EXPECT_EQ(PopoverWindow::contentRectForFrameRect(fnd::Rect(88, 88, 224, 174)), fnd::Rect(12, 12, 200, 150));
  PopoverWindow window;
  EXPECT_TRUE(window.canBecomeKeyWindow());
  EXPECT_FALSE(window.canBecomeMainWindow());
  window.setFrame(fnd::Rect(10, 10, 224, 174));
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, 5, 5));
  window.setPopoverContentView(content);
  EXPECT_EQ(content->frame(), fnd::Rect(12, 12, 200, 150));
  EXPECT_EQ(content->superview(), window.frameView().get());
  window.setPopoverContentView(nullptr);
  EXPECT_EQ(content->superview(), nullptr);
}

TEST(PopoverFrame, ArrowPointsSitOnTheFacingEdge) {
  ui::Path up = PopoverWindowFrame::popoverBezierPath(fnd::Rect(0, 0, 224, 174), PopoverArrow::Below);
  EXPECT_TRUE(hasPoint(up, 123, 162));
  EXPECT_TRUE(hasPoint(up, 112, 174));
  EXPECT_TRUE(hasPoint(up, 100, 162));
  ui::Path right = PopoverWindowFrame::popoverBezierPath(fnd::Rect(0, 0, 224, 174), PopoverArrow::Left);
  EXPECT_TRUE(hasPoint(right, 224, 87));
  ui::Path down = PopoverWindowFrame::popoverBezierPath(fnd::Rect(0, 0, 224, 174), PopoverArrow::Above);
  EXPECT_TRUE(hasPoint(down, 112, 0));
  ui::Path left = PopoverWindowFrame::popoverBezierPath(fnd::Rect(0, 0, 224, 174), PopoverArrow::Right);
  EXPECT_TRUE(hasPoint(left, 0, 87));
  // Outside 0-3 the body has no arrow: nothing reaches the outer 12 points.
  fnd::Rect b = PopoverWindowFrame::popoverBezierPath(fnd::Rect(0, 0, 224, 174), 7).bounds();
  EXPECT_EQ(b, fnd::Rect(12, 12, 200, 150));
}

TEST(PopoverFrame, PixelsShowTheArrowTipAndTheHighlightGap) {
  ui::Window window(fnd::Rect(0, 0, 224, 174));
  auto frame = std::make_shared<PopoverWindowFrame>(fnd::Rect(0, 0, 224, 174));
  window.contentView()->addSubview(frame);
  frame->setColor(ui::Color::rgb(1, 0, 0));
  frame->setArrowDirection(PopoverArrow::Below);
  frame->setTopHighlightColor(ui::Color::rgb(0, 0, 1));
  ui::Image image = frame->snapshot();
  // The arrow's tip reaches the top edge at the middle; beside it, nothing is drawn.
  EXPECT_EQ(at(image, 112, 172).red, 1.0);
  EXPECT_EQ(at(image, 100, 172).alpha, 0.0);
  EXPECT_EQ(at(image, 112, 100).red, 1.0);
  EXPECT_EQ(at(image, 2, 2).alpha, 0.0);
  // The highlight runs under the body's top edge, with a 23-point gap under the arrow.
  double y = 161;
  EXPECT_EQ(at(image, 50, y).blue, 1.0);
  EXPECT_EQ(at(image, 99, y).blue, 1.0);
  for (double x = 100; x < 123; ++x) EXPECT_EQ(at(image, x, y).red, 1.0) << x;
  EXPECT_EQ(at(image, 123, y).blue, 1.0);
  // An arrow on the right edge.
  frame->setArrowDirection(PopoverArrow::Left);
  frame->setTopHighlightColor(std::nullopt);
  image = frame->snapshot();
  EXPECT_EQ(at(image, 222, 87).red, 1.0);
  EXPECT_EQ(at(image, 222, 60).alpha, 0.0);
}

// ---- Choosing the side

TEST(PopoverSide, PreferenceThenOppositeThenTheRoomierCrossSide) {
  fnd::Rect screen(0, 0, 1280, 800);
  // Room below: the preference.
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Below, kContent, fnd::Rect(600, 400, 20, 20), screen),
            PopoverArrow::Below);
  // Too low for below, fits above.
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Below, kContent, fnd::Rect(600, 50, 20, 20), screen),
            PopoverArrow::Above);
  // Neither below nor above: the side with more room.
  fnd::Size tall{200, 700};
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Below, tall, fnd::Rect(300, 380, 20, 20), screen),
            PopoverArrow::Right);
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Below, tall, fnd::Rect(900, 380, 20, 20), screen),
            PopoverArrow::Left);
  // Wider than the screen: the preference stays.
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Left, fnd::Size{1400, 100}, fnd::Rect(600, 400, 20, 20), screen),
            PopoverArrow::Left);
  // Left with no room on either side goes below when there is more room there.
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Left, fnd::Size{1100, 100}, fnd::Rect(600, 600, 20, 20), screen),
            PopoverArrow::Below);
}

TEST(PopoverSide, RoomIsMeasuredAgainstTheEdgesOfAScreenAwayFromTheOrigin) {
  // A screen to the right of the primary one; the anchor near its left edge.
  fnd::Rect right(1920, 0, 1280, 800);
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Below, fnd::Size{200, 700}, fnd::Rect(1950, 380, 20, 20), right),
            PopoverArrow::Right);
  // A screen above the primary one; the anchor near its bottom edge.
  fnd::Rect upper(0, 1080, 1280, 800);
  EXPECT_EQ(PopoverController::chooseArrowDirection(PopoverArrow::Left, fnd::Size{1200, 100}, fnd::Rect(640, 1100, 20, 20), upper),
            PopoverArrow::Above);
}

TEST(PopoverSide, FramesStandBesideTheAnchor) {
  fnd::Rect a(100, 200, 40, 20);
  EXPECT_EQ(PopoverController::popoverFrame(kContent, PopoverArrow::Left, a), fnd::Rect(100 - 224, 210 - 62, 224, 124));
  EXPECT_EQ(PopoverController::popoverFrame(kContent, PopoverArrow::Above, a), fnd::Rect(120 - 112, 220, 224, 124));
  EXPECT_EQ(PopoverController::popoverFrame(kContent, PopoverArrow::Right, a), fnd::Rect(140, 148, 224, 124));
  EXPECT_EQ(PopoverController::popoverFrame(kContent, PopoverArrow::Below, a), fnd::Rect(8, 200 - 124, 224, 124));
  EXPECT_EQ(PopoverController::popoverFrame(kContent, 4, a), fnd::Rect());
}

// ---- The controller

namespace {

struct Recorder : PopoverControllerDelegate {
  std::vector<std::string> log;
  bool allowClose = true;
  PopoverController* controller = nullptr;
  bool visibleAtDidClose = true;
  bool popoverShouldClose(PopoverController&) override {
    log.push_back("should");
    return allowClose;
  }
  void popoverWillShow(PopoverController&) override { log.push_back("willShow"); }
  void popoverDidShow(PopoverController&) override { log.push_back("didShow"); }
  void popoverWillClose(PopoverController&) override { log.push_back("willClose"); }
  void popoverDidClose(PopoverController& c) override {
    log.push_back("didClose");
    visibleAtDidClose = c.popoverWindow().Window::isVisible();
  }
};

struct PopoverFixture : ::testing::Test {
  ui::Window parent{fnd::Rect(300, 200, 400, 300)};
  std::shared_ptr<ui::View> anchor = std::make_shared<ui::View>(fnd::Rect(180, 140, 40, 20));
  PopoverController controller{std::make_shared<ui::ViewController>(std::make_shared<ui::View>(fnd::Rect(0, 0, 200, 100)))};
  Recorder recorder;
  void SetUp() override {
    parent.contentView()->addSubview(anchor);
    parent.makeKeyAndOrderFront();
    // Activation reaches the window through the event loop.
    test::runUntil([] { return ui::PlatformObserver::isApplicationActive(); }, 30);
    test::spin(0.05);
    controller.setDelegate(&recorder);
    controller.setAnimates(false);
  }
  void TearDown() override { controller.setDelegate(nullptr); }
  void present(PopoverArrowDirection side = PopoverArrow::Below) {
    controller.presentPopoverFromRect(anchor->bounds(), anchor.get(), side, true);
  }
};

}  // namespace

TEST_F(PopoverFixture, PresentingPlacesTheWindowBesideTheAnchorOnce) {
  EXPECT_EQ(controller.contentSize(), (fnd::Size{200, 100}));
  present();
  ASSERT_TRUE(controller.popoverIsVisible());
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"willShow", "didShow"}));
  EXPECT_EQ(controller.arrowDirection(), PopoverArrow::Below);
  // Anchor in screen coordinates: (480, 340, 40, 20); the popover hangs below its middle.
  EXPECT_EQ(controller.popoverWindow().frame(), fnd::Rect(500 - 112, 340 - 124, 224, 124));
  EXPECT_EQ(controller.positionView(), anchor.get());
  // A second presentation changes nothing.
  controller.presentPopoverFromRect(fnd::Rect(0, 0, 1, 1), parent.contentView().get(), PopoverArrow::Left, false);
  EXPECT_EQ(recorder.log.size(), 2u);
  EXPECT_EQ(controller.arrowDirection(), PopoverArrow::Below);
}

TEST_F(PopoverFixture, ClosingAsksTheDelegateButForcingDoesNot) {
  present();
  recorder.allowClose = false;
  controller.closePopover();
  EXPECT_TRUE(controller.popoverIsVisible());
  controller.forceClosePopover();
  EXPECT_FALSE(controller.popoverIsVisible());
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"willShow", "didShow", "should", "willClose", "didClose"}));
  EXPECT_FALSE(recorder.visibleAtDidClose);
  // Closed: no anchor, arrow back to 0; closing again does nothing.
  EXPECT_EQ(controller.positionView(), nullptr);
  EXPECT_EQ(controller.arrowDirection(), PopoverArrow::Left);
  controller.closePopover();
  EXPECT_EQ(recorder.log.size(), 5u);
}

TEST_F(PopoverFixture, TheAnchorCarriesThePopoverAndClosesItWhenItLeaves) {
  present();
  fnd::Rect before = controller.popoverWindow().frame();
  anchor->setFrameOrigin(fnd::Point{100, 150});
  fnd::Rect after = controller.popoverWindow().frame();
  EXPECT_EQ(after.origin.x, before.origin.x - 80);
  EXPECT_EQ(after.origin.y, before.origin.y + 10);
  EXPECT_EQ(after.size, before.size);
  EXPECT_EQ(controller.arrowDirection(), PopoverArrow::Below);
  // Out of the superview's bounds: closed without asking.
  recorder.allowClose = false;
  anchor->setFrameOrigin(fnd::Point{390, 150});
  EXPECT_FALSE(controller.popoverIsVisible());
  ASSERT_FALSE(recorder.log.empty());
  EXPECT_EQ(recorder.log.back(), "didClose");
}

TEST_F(PopoverFixture, ThePopoverFollowsItsParentWindow) {
  present();
  test::spin(0.05);
  fnd::Rect before = controller.popoverWindow().frame();
  parent.setFrame(fnd::Rect(350, 150, 400, 300));
  test::spin(0.05);
  ASSERT_TRUE(controller.popoverIsVisible());
  fnd::Rect after = controller.popoverWindow().frame();
  EXPECT_EQ(after.origin.x, before.origin.x + 50);
  EXPECT_EQ(after.origin.y, before.origin.y - 50);
}

TEST_F(PopoverFixture, ContentSizeResizesAroundTheSameSide) {
  present();
  controller.setContentSize(fnd::Size{100, 50});
  EXPECT_EQ(controller.popoverWindow().frame(), fnd::Rect(500 - 62, 340 - 74, 124, 74));
}

TEST_F(PopoverFixture, AnimatedOpeningZoomsThenAttachesAndTheFadeCloses) {
  controller.setAnimates(true);
  present();
  EXPECT_TRUE(controller.popoverIsVisible());
  ASSERT_NE(controller.popoverWindow().zoomWindow(), nullptr);
  EXPECT_EQ(recorder.log, std::vector<std::string>{"willShow"});
  // A presentation during the zoom is ignored.
  present(PopoverArrow::Left);
  ASSERT_TRUE(test::runUntil([&] { return recorder.log.size() == 2; }, 30));
  EXPECT_EQ(recorder.log.back(), "didShow");
  EXPECT_EQ(controller.popoverWindow().zoomWindow(), nullptr);
  EXPECT_EQ(controller.arrowDirection(), PopoverArrow::Below);
  controller.closePopover();
  EXPECT_TRUE(controller.popoverIsVisible());  // fading
  ASSERT_TRUE(test::runUntil([&] { return !controller.popoverIsVisible(); }, 30));
  EXPECT_EQ(recorder.log.back(), "didClose");
}

TEST_F(PopoverFixture, LosingKeyStatusInsideTheApplicationCloses) {
  present();
  test::spin(0.05);
  ASSERT_TRUE(controller.popoverIsVisible());
  ASSERT_TRUE(controller.popoverWindow().isKeyWindow());
  recorder.allowClose = false;
  ui::Application::shared().windowBecameKey(&parent);
  EXPECT_TRUE(controller.popoverIsVisible());
  controller.popoverWindow().makeKeyAndOrderFront();
  recorder.allowClose = true;
  ui::Application::shared().windowBecameKey(&parent);
  EXPECT_FALSE(controller.popoverIsVisible());
  // The parent window is key again afterwards.
  EXPECT_TRUE(parent.isKeyWindow());
}

// Another program taking the focus takes the popover's key status: it stays open and is key again
// once the focus is back, unless it is to close when the program becomes inactive.
TEST_F(PopoverFixture, AnotherProgramTakingTheFocusClosesItOnlyWhenAsked) {
  const auto focusIn = [](bool ours) {
    Q_EMIT qGuiApp->applicationStateChanged(ours ? Qt::ApplicationActive : Qt::ApplicationInactive);
  };
  std::shared_ptr<void> focusBack(nullptr, [&](void*) { focusIn(true); });
  present();
  test::spin(0.05);
  focusIn(true);
  ASSERT_TRUE(controller.popoverWindow().isKeyWindow());
  focusIn(false);
  EXPECT_FALSE(controller.popoverWindow().isKeyWindow());
  EXPECT_TRUE(controller.popoverIsVisible());
  EXPECT_EQ(recorder.log, (std::vector<std::string>{"willShow", "didShow"}));
  focusIn(true);
  EXPECT_TRUE(test::runUntil([&] { return controller.popoverWindow().isKeyWindow(); }, 10));
  controller.setClosesWhenApplicationBecomesInactive(true);
  focusIn(false);
  EXPECT_FALSE(controller.popoverIsVisible());
  EXPECT_EQ(recorder.log.back(), "didClose");
}
