// Real input under an X server (run through Tests/Harness/e2e/ui-layer.sh); skipped offscreen.
#include "Harness/TestSupport.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/View.h"
#include "Platform/UI/Window.h"
#include "TestViews.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

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

namespace {
// Another X client holding the keyboard, as the window manager does while it moves a window:
// grabbed once `marker` reads "grabbed", let go when the file `release` exists.
void holdKeyboardUntil(const std::string& release, const std::string& marker) {
  run("python3 " + test::shellQuoted(KESTO_SOURCE_DIR "/Tests/Harness/e2e/x-keyboard.py") + " hold " +
      test::shellQuoted(release) + " " + test::shellQuoted(marker) + " >/dev/null 2>&1 &");
}

struct KeyCount : WindowDelegate {
  int became = 0, resigned = 0;
  void windowDidBecomeKey(Window&) override { ++became; }
  void windowDidResignKey(Window&) override { ++resigned; }
};
}  // namespace

// The key status follows the X server's focus: another client's keyboard grab takes the keys for
// a while but not the focus (the window stays key), another program taking the focus takes it
// (the window resigns, and a keyboard grab of its view ends at the server's focus-out, before the
// toolkit has seen the focus go), and the focus coming back makes the window key again.
TEST(X11, KeyStatusAndKeyboardGrabsFollowTheServersFocus) {
  if (!underX11()) GTEST_SKIP() << "needs the end-to-end X session";
  KeyCount count;  // outlives the window
  Window window(fnd::Rect(200, 200, 300, 200));
  auto view = test::addedTo<Clicked>(*window.contentView(), fnd::Rect(0, 0, 300, 200));
  std::string w = showTitled(window, "KestoFocusProbe");
  ASSERT_FALSE(w.empty());
  test::runServing("xdotool windowactivate --sync " + w);
  ASSERT_TRUE(test::runUntil([&] {
    return window.isKeyWindow() && QGuiApplication::applicationState() == Qt::ApplicationActive;
  }, 10));
  window.setDelegate(&count);

  // Held by another client: the toolkit calls the program inactive, the window stays key.
  const std::string dir = test::makeTempDir("grab"), release = dir + "/release", marker = dir + "/grabbed";
  // Let go when the test ends, however it ends: the next test needs the keyboard.
  std::shared_ptr<void> letGo(nullptr, [&](void*) { test::writeFile(release, ""); });
  holdKeyboardUntil(release, marker);
  ASSERT_TRUE(test::runUntil([&] { return !test::readFile(marker).empty(); }, 30));
  ASSERT_EQ(test::readFile(marker), "grabbed");
  EXPECT_TRUE(test::runUntil([] { return QGuiApplication::applicationState() != Qt::ApplicationActive; }, 10))
      << "the toolkit took the grab for the focus leaving";
  test::writeFile(release, "");
  ASSERT_TRUE(test::runUntil([] { return QGuiApplication::applicationState() == Qt::ApplicationActive; }, 30));
  EXPECT_EQ(count.resigned, 0) << "another client's grab took the key status";
  EXPECT_TRUE(window.isKeyWindow());

  // Another program takes the focus.
  bool lost = false, toolkitStillFocused = false;
  QWindow* handle = static_cast<QWidget*>(window.nativeHandle())->windowHandle();
  ASSERT_TRUE(view->grabKeyboard([&] {
    lost = true;
    toolkitStillFocused = QGuiApplication::focusWindow() == handle;
  }));
  const std::string pid = test::runServing(
      "sh -c 'xmessage -geometry +700+500 \"Another program\" >/dev/null 2>&1 & echo $!'").output;
  ASSERT_FALSE(pid.empty());
  std::shared_ptr<void> endOther(nullptr, [&](void*) { run("kill " + pid); });
  test::runServing("sh -c 'xdotool search --sync --onlyvisible --name xmessage | head -n1 | xargs -I{} xdotool windowactivate --sync {}'");
  ASSERT_TRUE(test::runUntil([&] { return lost; }, 10)) << "the grab outlived the focus";
  EXPECT_TRUE(toolkitStillFocused) << "the grab ended only once the toolkit saw the focus go";
  EXPECT_FALSE(view->hasKeyboardGrab());
  ASSERT_TRUE(test::runUntil([&] { return !window.isKeyWindow(); }, 10)) << "the window stayed key";
  EXPECT_EQ(count.resigned, 1);

  // Back to the window: key again.
  const int became = count.became;
  test::runServing("xdotool windowactivate --sync " + w);
  EXPECT_TRUE(test::runUntil([&] { return window.isKeyWindow(); }, 10));
  EXPECT_EQ(count.became, became + 1);
  window.setDelegate(nullptr);
}
