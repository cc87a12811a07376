#include "MenuBar/MenuBarWindow.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Event.h"

#include <gtest/gtest.h>

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
  EXPECT_TRUE(runUntil([&] { return !window.isVisible(); }, 2));
  EXPECT_EQ(window.alphaValue(), 1.0);
}

}  // namespace
}  // namespace kesto::test
