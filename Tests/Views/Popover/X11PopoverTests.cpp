// A popover on a real X server with a window manager (run through
// Tests/Harness/e2e/exchange.sh); skipped elsewhere.
#include "Harness/TestSupport.h"
#include "Platform/UI/Window.h"
#include "Views/PopoverController.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

using namespace kesto;

namespace {

bool underX11() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  return std::getenv("KESTO_E2E") && platform && std::string(platform) == "xcb";
}

// The output alone of a command run as test::runServing runs it.
std::string runServing(const std::string& command) { return test::runServing(command).output; }

void screenshot(const std::string& name) { test::runServing(test::screenshotCommand(name)); }

struct Shown : PopoverControllerDelegate {
  int didShow = 0, didClose = 0;
  void popoverDidShow(PopoverController&) override { ++didShow; }
  void popoverDidClose(PopoverController&) override { ++didClose; }
};

}  // namespace

TEST(X11Popover, FollowsItsMovedParentAndClosesWhenTheApplicationLosesFocus) {
  if (!underX11()) GTEST_SKIP() << "needs the end-to-end X session";
  ui::Window parent(fnd::Rect(150, 250, 420, 300));
  parent.setTitle("KestoPopoverParent");
  parent.contentView()->setBackgroundColor(ui::Color::white(0.93));
  auto anchor = std::make_shared<ui::View>(fnd::Rect(190, 200, 40, 24));
  anchor->setBackgroundColor(ui::Color::rgb(0.25, 0.5, 0.9));
  parent.contentView()->addSubview(anchor);
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, 200, 90));
  PopoverController popover(std::make_shared<ui::ViewController>(content));
  popover.setColor(ui::Color::white(0.25));
  popover.setBorderColor(ui::Color::white(1.0));
  Shown shown;
  popover.setDelegate(&shown);
  parent.makeKeyAndOrderFront();
  ASSERT_TRUE(test::runUntil([&] { return parent.isVisible(); }, 5));
  test::spin(0.5);

  popover.presentPopoverFromRect(anchor->bounds(), anchor.get(), PopoverArrow::Below, true);
  ASSERT_TRUE(test::runUntil([&] { return shown.didShow == 1; }, 5));
  test::spin(0.3);
  screenshot("popover-shown");
  fnd::Rect parentBefore = parent.frame(), popoverBefore = popover.popoverWindow().frame();

  // The window manager moves the parent: the popover keeps its place beside the anchor.
  runServing("sh -c 'xdotool search --onlyvisible --name KestoPopoverParent | head -n1 | xargs -I{} xdotool windowmove {} 400 120'");
  ASSERT_TRUE(test::runUntil([&] { return parent.frame().origin != parentBefore.origin; }, 5));
  test::spin(0.5);
  fnd::Rect parentAfter = parent.frame(), popoverAfter = popover.popoverWindow().frame();
  EXPECT_EQ(popoverAfter.origin.x - popoverBefore.origin.x, parentAfter.origin.x - parentBefore.origin.x);
  EXPECT_EQ(popoverAfter.origin.y - popoverBefore.origin.y, parentAfter.origin.y - parentBefore.origin.y);
  EXPECT_TRUE(popover.popoverIsVisible());
  screenshot("popover-followed-parent");

  // Another application comes forward. By default the popover stays...
  std::string pid = runServing("sh -c 'xmessage -geometry +900+600 \"Another application\" >/dev/null 2>&1 & echo $!'");
  ASSERT_FALSE(pid.empty());
  runServing("sh -c 'xdotool search --sync --onlyvisible --name xmessage | head -n1 | xargs -I{} xdotool windowactivate --sync {}'");
  test::spin(0.6);
  EXPECT_TRUE(popover.popoverIsVisible());
  EXPECT_EQ(shown.didClose, 0);
  // ...and with closesWhenApplicationBecomesInactive it closes when focus leaves the application.
  runServing("sh -c 'xdotool search --onlyvisible --name KestoPopoverParent | head -n1 | xargs -I{} xdotool windowactivate --sync {}'");
  test::spin(0.5);
  popover.setClosesWhenApplicationBecomesInactive(true);
  runServing("sh -c 'xdotool search --onlyvisible --name xmessage | head -n1 | xargs -I{} xdotool windowactivate --sync {}'");
  ASSERT_TRUE(test::runUntil([&] { return shown.didClose == 1; }, 5));
  EXPECT_FALSE(popover.popoverIsVisible());
  screenshot("popover-closed-on-focus-loss");
  runServing("kill " + pid);
  popover.setDelegate(nullptr);
}
