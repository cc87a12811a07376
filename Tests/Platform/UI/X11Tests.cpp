// Real input under an X server (run through Tests/Harness/e2e/ui-layer.sh); skipped offscreen.
#include "Harness/TestSupport.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"
#include "TestViews.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <string>

using namespace kesto;
using namespace kesto::ui;

namespace {
struct Clicked : View {
  using View::View;
  std::vector<int> clicks;
  std::vector<fnd::Point> where;
  std::uint64_t flags = 0;
  std::vector<std::uint16_t> keys;
  bool acceptsFirstResponder() override { return true; }
  void keyDown(const Event& e) override { keys.push_back(e.keyCode); }
  void mouseDown(const Event& e) override {
    clicks.push_back(e.clickCount);
    where.push_back(convertPointFromView(e.locationInWindow, nullptr));
    flags = e.modifierFlags;
  }
};

bool underX11() { return QGuiApplication::platformName() == "xcb" && std::getenv("KESTO_E2E"); }

int run(const std::string& command) { return std::system(command.c_str()); }

// Finds the shown window by name while the event loop keeps turning: xdotool's own --sync would
// wait with the loop stopped. A window shown while the window manager was still starting can
// stay unmapped: it is shown again.
std::string shownWindow(const std::string& name, Window& window) {
  std::string id;
  auto find = [&] {
    FILE* out = popen(("xdotool search --onlyvisible --name " + name + " 2>/dev/null | head -n1").c_str(), "r");
    if (!out) return false;
    char buf[64] = {};
    if (fgets(buf, sizeof buf, out)) id = buf;
    pclose(out);
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return !id.empty();
  };
  for (int attempt = 0; attempt < 3 && !test::runUntil([&] { return find(); }, 3); ++attempt) {
    window.orderOut();
    window.makeKeyAndOrderFront();
  }
  test::spin(0.3);
  return id;
}

// Shows `window` with `title` in front and answers its X window id; empty when it never showed.
std::string showTitled(Window& window, const std::string& title) {
  window.setTitle(title);
  window.makeKeyAndOrderFront();
  if (!test::runUntil([&] { return window.isVisible(); }, 5)) {
    ADD_FAILURE() << title << " never became visible";
    return {};
  }
  test::spin(0.5);
  return shownWindow(title, window);
}
}  // namespace

TEST(X11, ClicksArriveWithCountsModifiersAndViewCoordinates) {
  if (!underX11()) GTEST_SKIP() << "needs the end-to-end X session";
  Window window(fnd::Rect(200, 200, 300, 200));
  auto view = test::addedTo<Clicked>(*window.contentView(), fnd::Rect(100, 50, 100, 100));
  view->setBackgroundColor(Color::rgb(1, 0, 0));
  // Window-relative (top-left) point 150,100 is the view's centre: view point (50, 50).
  std::string w = showTitled(window, "KestoX11Probe");
  ASSERT_FALSE(w.empty());
  ASSERT_EQ(run("xdotool mousemove --window " + w + " 150 100 click --repeat 2 --delay 50 1"), 0);
  ASSERT_TRUE(test::runUntil([&] { return view->clicks.size() >= 2; }, 5));
  EXPECT_EQ(view->clicks, (std::vector<int>{1, 2}));
  EXPECT_NEAR(view->where[0].x, 50, 1.5);
  EXPECT_NEAR(view->where[0].y, 50, 1.5);
  ASSERT_EQ(run("xdotool mousemove --window " + w + " 120 80 keydown ctrl click 1 keyup ctrl"), 0);
  ASSERT_TRUE(test::runUntil([&] { return view->clicks.size() >= 3; }, 5));
  EXPECT_TRUE(view->flags & ModifierFlag::Command);
  EXPECT_NEAR(view->where[2].x, 20, 1.5);
  EXPECT_NEAR(view->where[2].y, 70, 1.5);
  // Keys reach the first responder (the clicked view) with their physical key codes.
  ASSERT_EQ(run("xdotool key --window " + w + " Down a Return"), 0);
  ASSERT_TRUE(test::runUntil([&] { return view->keys.size() >= 3; }, 5));
  EXPECT_EQ(view->keys, (std::vector<std::uint16_t>{KeyCode::DownArrow, KeyCode::A, KeyCode::Return}));
}

namespace {
constexpr Command kFirst{"first:"}, kSecond{"second:"}, kThird{"third:"};

// Pops its menu up on a right click; takes the menu's actions.
struct MenuOwner : View {
  using View::View;
  std::shared_ptr<Menu> menu;
  std::vector<Command> got;
  void rightMouseDown(const Event& e) override { Menu::popUpContextMenu(menu, e, *this); }
  bool respondsToAction(Command s) const override { return s == kFirst || s == kThird; }
  bool performAction(Command s, Responder*) override {
    if (!respondsToAction(s)) return false;
    got.emplace_back(s);
    return true;
  }
};
}  // namespace

TEST(X11, AContextMenuIsChosenWithTheKeyboard) {
  if (!underX11()) GTEST_SKIP() << "needs the end-to-end X session";
  Window window(fnd::Rect(200, 200, 300, 200));
  auto view = test::addedTo<MenuOwner>(*window.contentView(), fnd::Rect(50, 50, 200, 100));
  view->setBackgroundColor(Color::rgb(0.2, 0.4, 0.8));
  view->menu = std::make_shared<Menu>();
  view->menu->addItemWithTitle("First", kFirst);
  view->menu->addItemWithTitle("Second (no receiver)", kSecond);
  view->menu->addItemWithTitle("Third", kThird);
  std::string w = showTitled(window, "KestoMenuProbe");
  ASSERT_FALSE(w.empty());
  ASSERT_EQ(run("xdotool mousemove --window " + w + " 150 100 click 3"), 0);
  ASSERT_TRUE(test::runUntil([&] { return QApplication::activePopupWidget() != nullptr; }, 5));
  test::spin(0.3);
  const char* shot = std::getenv("KESTO_E2E_SHOTS");
  if (shot)
    test::runProgram(
        {"python3", KESTO_SOURCE_DIR "/Tests/Harness/e2e/screenshot.py", std::string(shot) + "/context-menu.png"});
  // Down reaches "First", the next Down passes over the disabled item to "Third".
  ASSERT_EQ(run("xdotool key --delay 100 Down Down Return"), 0);
  ASSERT_TRUE(test::runUntil([&] { return !view->got.empty(); }, 5));
  EXPECT_EQ(view->got, std::vector<Command>{kThird});
  EXPECT_FALSE(view->menu->isTracking());
}
