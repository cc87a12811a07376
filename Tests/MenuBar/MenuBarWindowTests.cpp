#include "MenuBar/MenuBarWindow.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/View.h"
#include "Views/WindowButton.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace kesto::test {
namespace {

const fnd::Size kWindow{560, 530};

TEST(MenuBarPlacement, UnderTheIconWhenItsPlaceIsKnown) {
  std::vector<fnd::Rect> screens{fnd::Rect(0, 0, 1280, 776)};  // a 24-point panel at the top of 800
  // The icon in the middle of the top panel: the window's top centre under its middle.
  fnd::Point o = menuBarWindowOrigin(fnd::Rect(600, 776, 24, 24), {}, kWindow, 0, screens);
  EXPECT_EQ(o.x, 612 - 280);
  EXPECT_EQ(o.y, 776 - 530);
  EXPECT_EQ(menuBarWindowOrigin(fnd::Rect(600, 776, 24, 24), {}, kWindow, 5, screens).y, 776 - 5 - 530);
  // At the right edge the window stays on the screen.
  o = menuBarWindowOrigin(fnd::Rect(1256, 776, 24, 24), {}, kWindow, 0, screens);
  EXPECT_EQ(o.x, 1280 - 560);
}

TEST(MenuBarPlacement, UnderThePointerOtherwiseAndNeverOffAScreenAwayFromTheOrigin) {
  // Two monitors, the second to the right and lower, neither sharing the first's origin.
  std::vector<fnd::Rect> screens{fnd::Rect(0, 0, 1920, 1080), fnd::Rect(1920, -200, 1280, 1024)};
  fnd::Point o = menuBarWindowOrigin(std::nullopt, {2500, 300}, kWindow, 0, screens);
  EXPECT_EQ(o.x, 2500 - 280);
  EXPECT_EQ(o.y, 824 - 530);  // at the top of that screen's visible area
  // The pointer at that monitor's right edge: the window keeps inside it.
  o = menuBarWindowOrigin(std::nullopt, {3195, 0}, kWindow, 0, screens);
  EXPECT_EQ(o.x, 3200 - 560);
  EXPECT_GE(o.y, -200);
  // At the left edge of the second monitor the window does not spill onto the first.
  o = menuBarWindowOrigin(std::nullopt, {1925, 100}, kWindow, 0, screens);
  EXPECT_EQ(o.x, 1920);
  // A tray icon just off every screen (a panel at the very top) picks the nearest one.
  o = menuBarWindowOrigin(fnd::Rect(3100, 824, 22, 22), {}, kWindow, 0, screens);
  EXPECT_EQ(o.x, 3200 - 560);
  EXPECT_EQ(o.y, 824 - 530);
}

TEST(MenuBarPlacement, SnappingBackToTheIcon) {
  fnd::Point anchor{600, 776};
  EXPECT_TRUE(menuBarWindowSnaps({600, 746}, anchor, 30, true));   // exactly the snap distance
  EXPECT_FALSE(menuBarWindowSnaps({600, 745}, anchor, 30, true));  // one point farther
  EXPECT_TRUE(menuBarWindowSnaps({100, 100}, anchor, 30, false));  // never detaches
}

TEST(MenuBarWindowTest, EscapeAsksToCloseAndAttachingAddsTheArrow) {
  MenuBarWindow window(fnd::Rect(100, 100, 300, 300));
  int closes = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&closes, [&](const fnd::Notification&) { ++closes; },
                                                       CloseMenubarNotification);
  window.keyDown(ui::Event::key(ui::KeyCode::Escape));
  EXPECT_TRUE(window.performAction(ui::cmd::cancelOperation, nullptr));
  fnd::NotificationCenter::defaultCenter().removeObserver(&closes);
  EXPECT_EQ(closes, 2);
  // The window's own commands still reach the window behind its cancel.
  EXPECT_TRUE(window.respondsToAction(ui::cmd::performClose));
  EXPECT_FALSE(window.respondsToAction(ui::cmd::insertNewline));

  EXPECT_EQ(window.titleBarRect(), fnd::Rect(0, 278, 300, 22));
  window.setAttachedToMenuBar(true);
  EXPECT_EQ(window.frame().size.height, 310);
  EXPECT_EQ(window.titleBarRect(), fnd::Rect(0, 278, 300, 32));
  EXPECT_EQ(window.toolbarRect(), fnd::Rect(0, 278, 300, 22));
  EXPECT_EQ(window.level(), ui::WindowLevel::PopUpMenu);
  window.setAttachedToMenuBar(false);
  EXPECT_EQ(window.frame().size.height, 300);
  EXPECT_EQ(window.level(), ui::WindowLevel::Normal);
}

TEST(MenuBarWindowTest, HidingFadesAndLeavesTheWindowOpaque) {
  MenuBarWindow window(fnd::Rect(100, 100, 300, 300));
  window.showWindow();
  ASSERT_TRUE(window.isVisible());
  window.hideWindow();
  EXPECT_TRUE(runUntil([&] { return !window.isVisible(); }, 30));
  EXPECT_EQ(window.alphaValue(), 1.0);
}


// ---- live resize, window buttons, the delegate, the title bar ----

TEST(MenuBarResize, AttachedWindowsGrowAndShrinkAboutTheirMiddle) {
  const fnd::Rect start(100, 200, 400, 300);
  // Twenty points right from a press right of the middle: twenty more on each side.
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(100, 200, 420, 300), 500, 520, true, 200, 1000),
            fnd::Rect(80, 200, 440, 300));
  // From the left edge, moving left grows it the same way; moving right shrinks it.
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(90, 200, 410, 300), 100, 90, false, 200, 1000),
            fnd::Rect(90, 200, 420, 300));
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(130, 200, 370, 300), 100, 130, false, 200, 1000),
            fnd::Rect(130, 200, 340, 300));
  // Bounded, and still centred on the start frame's middle (x 300).
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(100, 200, 10, 300), 500, 100, true, 200, 1000),
            fnd::Rect(200, 200, 200, 300));
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(100, 200, 900, 300), 500, 1000, true, 200, 600),
            fnd::Rect(0, 200, 600, 300));
  // The bottom edge: height and bottom from the proposal, the width kept.
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(100, 150, 400, 350), 500, 530, true, 200, 1000),
            fnd::Rect(100, 150, 400, 350));
  // Neither width nor bottom changed: the start frame.
  EXPECT_EQ(menuBarWindowResizedFrame(start, fnd::Rect(100, 200, 400, 300), 500, 530, true, 200, 1000), start);
}

// Dragging the window's own edges resizes it: attached, symmetrically; detached, as dragged.
TEST(MenuBarResize, TheEdgesResizeTheWindow) {
  MenuBarWindow window(fnd::Rect(300, 300, 400, 300));
  window.setMinSize({300, 200});
  window.setAnchorPoint({500, 900});
  window.setAttachedToMenuBar(true);
  window.showWindow();
  const fnd::Rect start = window.frame();
  const auto drag = [&](fnd::Point fromScreen, fnd::Point toScreen) {
    const auto local = [&](fnd::Point p) { return fnd::Point{p.x - window.frame().minX(), p.y - window.frame().minY()}; };
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, local(fromScreen), 0, 1, &window));
    EXPECT_TRUE(window.inLiveResize());
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, local(toScreen), 0, 1, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, local(toScreen), 0, 1, &window));
    EXPECT_FALSE(window.inLiveResize());
  };
  const double rightEdge = start.maxX() - 2, middleY = start.midY();
  drag({rightEdge, middleY}, {rightEdge + 30, middleY});
  EXPECT_EQ(window.frame(), fnd::Rect(start.minX() - 30, start.minY(), start.size.width + 60, start.size.height));
  EXPECT_EQ(window.titleBarRect().size.width, start.size.width + 60) << "laid out again";
  // The bottom edge: the top stays, never below the minimum height.
  const fnd::Rect wide = window.frame();
  drag({wide.midX(), wide.minY() + 1}, {wide.midX(), wide.minY() + 41});
  EXPECT_EQ(window.frame(), fnd::Rect(wide.minX(), wide.minY() + 40, wide.size.width, wide.size.height - 40));
  drag({wide.midX(), window.frame().minY() + 1}, {wide.midX(), wide.maxY()});
  EXPECT_EQ(window.frame().size.height, 200);
  EXPECT_EQ(window.frame().maxY(), wide.maxY());
  // A press inside, away from the edges, resizes nothing.
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, {200, 100}, 0, 1, &window));
  EXPECT_FALSE(window.inLiveResize());
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {200, 100}, 0, 1, &window));
  // Detached, the right edge moves alone.
  window.setAttachedToMenuBar(false);
  const fnd::Rect loose = window.frame();
  drag({loose.maxX() - 1, loose.midY()}, {loose.maxX() + 19, loose.midY()});
  EXPECT_EQ(window.frame(), fnd::Rect(loose.minX(), loose.minY(), loose.size.width + 20, loose.size.height));
  window.orderOut();
}

TEST(MenuBarWindowTest, WindowButtonsStandInTheTitleBarAndHideWhileAttached) {
  MenuBarWindow window(fnd::Rect(100, 100, 300, 300));
  const auto& buttons = window.windowButtons();
  ASSERT_EQ(buttons.size(), 3u);
  EXPECT_EQ(buttons[0]->kind(), WindowButton::Kind::Close);
  EXPECT_EQ(buttons[1]->kind(), WindowButton::Kind::Miniaturize);
  EXPECT_EQ(buttons[2]->kind(), WindowButton::Kind::Zoom);
  const auto xs = [&] {
    std::vector<double> x;
    for (const auto& b : buttons) x.push_back(b->frame().minX());
    return x;
  };
  EXPECT_EQ(xs(), (std::vector<double>{7, 27, 47}));
  // Centred in the title bar (22 high at the top), whole points.
  EXPECT_EQ(buttons[0]->frame().minY(), std::floor((22 - WindowButton::kSize) / 2 + 278));
  for (const auto& b : buttons) EXPECT_FALSE(b->isHidden());
  const auto allHidden = [&] {
    for (const auto& b : buttons)
      if (!b->isHidden()) return false;
    return true;
  };
  // Attaching fades them out, then hides them at full alpha for the next showing.
  window.setAttachedToMenuBar(true);
  ASSERT_TRUE(runUntil([&] { return allHidden(); }, 30));
  for (const auto& b : buttons) EXPECT_EQ(b->alphaValue(), 1.0);
  // In the title bar below the arrow.
  EXPECT_EQ(buttons[0]->frame().minY(), std::floor((22 - WindowButton::kSize) / 2 + 278));
  // Detaching shows them, fading in.
  window.setAttachedToMenuBar(false);
  for (const auto& b : buttons) EXPECT_FALSE(b->isHidden());
  ui::AnimationContext::finishAllAnimations();
  for (const auto& b : buttons) EXPECT_EQ(b->alphaValue(), 1.0);
  // A detach during the fade out keeps them.
  window.setAttachedToMenuBar(true);
  window.setAttachedToMenuBar(false);
  spin(0.3);
  EXPECT_FALSE(allHidden());
  // Kept shown while attached when asked, hidden again at once when asked again.
  window.setHideWindowControlsWhenAttached(false);
  window.setAttachedToMenuBar(true);
  spin(0.3);
  EXPECT_FALSE(allHidden());
  window.setHideWindowControlsWhenAttached(true);
  EXPECT_TRUE(allHidden());
  // The close button closes the window.
  window.setAttachedToMenuBar(false);
  window.showWindow();
  ASSERT_TRUE(window.isVisible());
  buttons[0]->performClick();
  EXPECT_FALSE(window.isVisible());
}

struct AttachDelegate : MenuBarWindowDelegate {
  unsigned methods = 0;
  std::vector<std::string> calls;
  unsigned implementedMenuBarWindowMethods() const override { return methods; }
  void windowDidAttachToMenuBar(MenuBarWindow&) override { calls.push_back("attach"); }
  void windowDidDetachFromMenuBar(MenuBarWindow&) override { calls.push_back("detach"); }
};

TEST(MenuBarWindowTest, AttachingAndDetachingTellADelegateThatTakesIt) {
  MenuBarWindow window(fnd::Rect(100, 100, 300, 300));
  std::vector<std::string> posted;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(&posted, [&](const fnd::Notification& n) { if (n.object == &window) posted.push_back("attached"); },
                     MenuBarWindowDidAttachToMenuBar);
  center.addObserver(&posted, [&](const fnd::Notification& n) { if (n.object == &window) posted.push_back("detached"); },
                     MenuBarWindowDidDetachFromMenuBar);
  // Without a delegate nothing is posted.
  window.setAttachedToMenuBar(true);
  window.setAttachedToMenuBar(false);
  EXPECT_TRUE(posted.empty());
  // A delegate that takes only the attach hears only that, and only that is posted.
  AttachDelegate delegate;
  delegate.methods = MenuBarWindowDelegate::DidAttach;
  window.setMenuBarDelegate(&delegate);
  window.setAttachedToMenuBar(true);
  window.setAttachedToMenuBar(true);  // no change, no call
  window.setAttachedToMenuBar(false);
  EXPECT_EQ(delegate.calls, std::vector<std::string>{"attach"});
  EXPECT_EQ(posted, std::vector<std::string>{"attached"});
  delegate.methods = MenuBarWindowDelegate::DidAttach | MenuBarWindowDelegate::DidDetach;
  window.setMenuBarDelegate(&delegate);
  window.setAttachedToMenuBar(true);
  window.setAttachedToMenuBar(false);
  EXPECT_EQ(delegate.calls, (std::vector<std::string>{"attach", "attach", "detach"}));
  EXPECT_EQ(posted, (std::vector<std::string>{"attached", "attached", "detached"}));
  window.setMenuBarDelegate(nullptr);
  center.removeObserver(&posted);
}

TEST(MenuBarWindowTest, AFocusedTitleBarShowsAFaintNoise) {
  const ui::Image noise = menuBarNoiseImage();
  ASSERT_EQ(noise.size(), (fnd::Size{100, 100}));
  std::set<double> greys;
  for (int i = 0; i < 100; ++i) {
    const ui::Color c = noise.pixelColor(i, (i * 37) % 100);
    EXPECT_NEAR(c.alpha, 6.0 / 255, 0.002);
    EXPECT_NEAR(c.red, c.green, 0.02);
    greys.insert(c.red);
  }
  EXPECT_GT(greys.size(), 5u) << "random greys";

  // Across the title bar the shading runs top to bottom only: a row is one grey unless the
  // noise lies over it.
  MenuBarWindow window(fnd::Rect(100, 100, 300, 300));
  const auto rowSpread = [&] {
    window.displayIfNeeded();
    ui::Image shot = window.contentView()->snapshot();
    double lo = 1, hi = 0;
    for (int x = 80; x < 220; ++x) {
      const double r = shot.pixelColor(x, 8).red;
      lo = std::min(lo, r);
      hi = std::max(hi, r);
    }
    return hi - lo;
  };
  EXPECT_LT(rowSpread(), 0.001) << "not focused: no noise";
  window.makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return window.isKeyWindow(); }, 30));
  window.contentView()->setNeedsDisplay();
  EXPECT_GT(rowSpread(), 0.005) << "focused: the noise shows";
  window.orderOut();
}

TEST(MenuBarWindowTest, DoubleClickMinimisesADetachedWindowAndADragKeepsTheTitleBarInSight) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.removeObject("AppleMiniaturizeOnDoubleClick");
  MenuBarWindow window(fnd::Rect(100, 100, 300, 300));
  window.showWindow();
  const auto click = [&](fnd::Point p, int count) {
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, p, 0, count, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, p, 0, count, &window));
  };
  // Below the title bar a double click does nothing.
  click({150, 150}, 2);
  EXPECT_FALSE(window.isMiniaturized());
  // Turned off by the setting.
  defaults.setBool(false, "AppleMiniaturizeOnDoubleClick");
  click({150, 290}, 2);
  EXPECT_FALSE(window.isMiniaturized());
  // Attached, the title bar does not minimise either.
  defaults.removeObject("AppleMiniaturizeOnDoubleClick");
  window.setAttachedToMenuBar(true);
  click({150, window.frame().size.height - 20}, 2);
  EXPECT_FALSE(window.isMiniaturized());
  window.setAttachedToMenuBar(false);
  window.showWindow();
  click({150, 290}, 2);
  EXPECT_TRUE(runUntil([&] { return window.isMiniaturized(); }, 30));
  window.orderOut();

  // Dragged below the bottom of the visible area, the title bar comes back up to stand arrow
  // height + 23 points above it.
  MenuBarWindow dragged(fnd::Rect(100, 300, 300, 300));
  dragged.showWindow();
  const fnd::Rect visible = dragged.screen().visibleFrame();
  ASSERT_GT(visible.size.height, 0);
  const fnd::Point grab{150, 290};
  dragged.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, grab, 0, 1, &dragged));
  const double down = dragged.frame().maxY() - visible.minY() + 50;  // the top 50 below the bottom
  dragged.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, {grab.x, grab.y - down}, 0, 1, &dragged));
  EXPECT_LT(dragged.frame().maxY(), visible.minY());
  dragged.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {grab.x, grab.y - down}, 0, 1, &dragged));
  EXPECT_EQ(dragged.frame().maxY(), visible.minY() + 10 + 23);
  // A drag that leaves it in sight is not moved.
  dragged.setFrame(fnd::Rect(100, 300, 300, 300));
  dragged.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, grab, 0, 1, &dragged));
  dragged.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, {grab.x, grab.y - 40}, 0, 1, &dragged));
  dragged.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {grab.x, grab.y - 40}, 0, 1, &dragged));
  EXPECT_EQ(dragged.frame(), fnd::Rect(100, 260, 300, 300));
  dragged.orderOut();
}

// ---- every move through the snap rule, the icon's moves, the least size ----

// A tray that tells where its icon stands once the test gives it a place, and moves it.
class TrayTellingWindow : public MenuBarWindow {
 public:
  using MenuBarWindow::MenuBarWindow;
  std::optional<fnd::Rect> icon;

 protected:
  std::optional<fnd::Rect> iconGeometry() const override { return icon; }
};

// A shown window with a tray icon whose place the tray does not tell: it hangs under the anchor.
class MenuBarSnap : public ::testing::Test {
 protected:
  void SetUp() override {
    sys::TrayIcon::setAvailableForTesting(true);
    window.setAnchorPoint({640, 700});
    window.setHasMenuBarIcon(true);
    ASSERT_TRUE(window.hasMenuBarIcon());
    window.setAttachedToMenuBar(true);
    window.setIsDetachable(false);
    window.showWindow();
    home = window.frame();
  }
  void TearDown() override {
    window.orderOut();
    sys::TrayIcon::setAvailableForTesting(std::nullopt);
  }
  void moveTo(const fnd::Point& origin) { window.setFrame(fnd::Rect(origin, window.frame().size)); }

  TrayTellingWindow window{fnd::Rect(100, 100, 300, 300)};
  fnd::Rect home;
};

TEST_F(MenuBarSnap, AWindowThatMayNotDetachComesBackUnderTheIconHoweverItIsMoved) {
  EXPECT_EQ(home, fnd::Rect(window.originForAttachedState(), home.size));
  EXPECT_EQ(home.midX(), 640);
  EXPECT_EQ(home.maxY(), window.screen().visibleFrame().maxY());
  // Moved by a program or the window manager.
  moveTo({50, 60});
  EXPECT_EQ(window.frame(), home);
  EXPECT_TRUE(window.attachedToMenuBar());
  // Its own title bar dragged down: back at once.
  const fnd::Point grab{150, home.size.height - 20};
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, grab, 0, 1, &window));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, {grab.x - 200, grab.y - 200}, 0, 1, &window));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, {grab.x - 200, grab.y - 200}, 0, 1, &window));
  EXPECT_EQ(window.frame(), home);
  // A live resize moves it where the resize puts it.
  window.windowWillStartLiveResize({home.minX() + 1, home.midY()});
  moveTo({home.minX() - 40, home.minY()});
  EXPECT_EQ(window.frame().minX(), home.minX() - 40);
  window.windowDidEndLiveResize();
}

// Detaching places the window itself (40 points lower): that move is not snapped back, so the
// window is wholly detached; the next move brings it back wholly attached.
TEST_F(MenuBarSnap, TheWindowsOwnPlacementIsNotSnapped) {
  window.setAttachedToMenuBar(false);
  EXPECT_FALSE(window.attachedToMenuBar());
  EXPECT_EQ(window.level(), ui::WindowLevel::Normal);
  EXPECT_EQ(window.frame(), fnd::Rect(home.minX(), home.minY() - 40, home.size.width, home.size.height - 10));
  moveTo({home.minX() + 50, home.minY() - 100});
  EXPECT_TRUE(window.attachedToMenuBar());
  EXPECT_EQ(window.level(), ui::WindowLevel::PopUpMenu);
  EXPECT_EQ(window.frame(), home);
}

TEST_F(MenuBarSnap, ADetachableWindowDetachesAwayFromTheIconAndAttachesNearIt) {
  window.setIsDetachable(true);
  moveTo({home.minX() + 200, home.minY() - 300});
  EXPECT_FALSE(window.attachedToMenuBar());
  EXPECT_EQ(window.frame().size.height, home.size.height - 10) << "the arrow gone";
  // Brought back within the snap distance: under the icon again, with its arrow.
  moveTo({home.minX() + 10, home.minY() + 10 - 20});
  EXPECT_TRUE(window.attachedToMenuBar());
  EXPECT_EQ(window.frame(), home);
}

// A window manager that keeps the window where it put it answers every move back under the icon
// with a move away: the window gives in after a few tries instead of moving for ever.
TEST_F(MenuBarSnap, AWindowManagerThatWillNotHaveItThereIsNotFoughtForEver) {
  const fnd::Point kept{200, 150};
  int snappedBack = 0, moves = 0;
  for (; moves < 50; ++moves) {
    moveTo(kept);
    if (window.frame().origin == kept) break;
    ++snappedBack;
  }
  EXPECT_GE(snappedBack, 1);
  EXPECT_LT(moves, 50);
  // A move from elsewhere is snapped again.
  moveTo({kept.x + 30, kept.y});
  EXPECT_EQ(window.frame(), home);
}

TEST_F(MenuBarSnap, AnAttachedWindowFollowsItsIconWhenTheIconMoves) {
  // The tray moves its icon without a word: the shown window notices by itself.
  for (const double x : {188.0, 420.0}) {
    window.icon = fnd::Rect(x, home.maxY(), 24, 24);
    ASSERT_TRUE(runUntil([&] { return window.frame().midX() == x + 12; }, 60)) << "under the icon at " << x;
    EXPECT_EQ(window.frame().size, home.size);
  }
  window.icon.reset();
  window.setAnchorPoint({400, 650});
  window.statusItemViewDidMove();
  EXPECT_EQ(window.frame(), fnd::Rect(400 - home.size.width / 2, home.minY(), home.size.width, home.size.height));
  // Detached, it stays where it is.
  window.setIsDetachable(true);
  window.setAttachedToMenuBar(false);
  const fnd::Rect loose = window.frame();
  window.setAnchorPoint({640, 700});
  window.statusItemViewDidMove();
  EXPECT_EQ(window.frame(), loose);
}

TEST(MenuBarLeastSize, TheWindowKeepsTheLeastSizeOfItsContentWithItsTitleBarAndArrow) {
  MenuBarWindow window(fnd::Rect(300, 300, 400, 300));
  window.setContentMinSize({400, 277});
  EXPECT_EQ(window.minSize(), (fnd::Size{400, 300}));  // 22 title bar and 1 separator
  window.setAnchorPoint({500, 900});
  window.setAttachedToMenuBar(true);
  EXPECT_EQ(window.minSize(), (fnd::Size{400, 310}));
  EXPECT_EQ(window.frame().size, (fnd::Size{400, 310})) << "the arrow added once";
  window.setAttachedToMenuBar(false);
  EXPECT_EQ(window.frame().size, (fnd::Size{400, 300})) << "and given up again";
  window.setAttachedToMenuBar(true);
  window.showWindow();
  // Its edges dragged far inwards stop at the least size.
  const auto drag = [&](fnd::Point fromScreen, fnd::Point toScreen) {
    const auto local = [&](fnd::Point p) { return fnd::Point{p.x - window.frame().minX(), p.y - window.frame().minY()}; };
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, local(fromScreen), 0, 1, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, local(toScreen), 0, 1, &window));
    window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, local(toScreen), 0, 1, &window));
  };
  fnd::Rect f = window.frame();
  drag({f.minX() + 1, f.midY()}, {f.minX() + 150, f.midY()});
  drag({f.midX(), f.minY() + 1}, {f.midX(), f.minY() + 200});
  EXPECT_EQ(window.frame().size, (fnd::Size{400, 310}));
  EXPECT_EQ(window.frame().maxY(), f.maxY());
  window.orderOut();
}

}  // namespace
}  // namespace kesto::test
