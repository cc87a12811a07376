// Styled windows and panels: the panel's placement over the library window and its cancel,
// the borderless window's own buttons, full screen and its held top edge while dragged.
#include "Harness/TestSupport.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/Screen.h"
#include "Platform/UI/View.h"
#include "Views/Unused/KSTMovableWindow.h"
#include "Views/KestoPanel.h"
#include "Views/Unused/KestoStyledWindow.h"
#include "Platform/UI/SheetPresenter.h"
#include "Views/WindowButton.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class Presenter : public ui::ApplicationDelegate, public ui::SheetPresenter {
 public:
  ui::Window* library = nullptr;
  std::vector<ui::Window*> dismissed;
  ui::Window* libraryWindow() override { return library; }
  void dismissSheetForWindow(ui::Window& sheet) override {
    dismissed.push_back(&sheet);
    if (sheet.sheetParent()) sheet.sheetParent()->endSheet(sheet);
  }
};

struct DelegateScope {
  explicit DelegateScope(ui::ApplicationDelegate* d) { ui::Application::shared().setDelegate(d); }
  ~DelegateScope() { ui::Application::shared().setDelegate(nullptr); }
};

void drag(ui::Window& window, fnd::Point from, fnd::Point to) {
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDown, from));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseDragged, to));
  window.sendEvent(ui::Event::mouse(ui::EventType::LeftMouseUp, to));
}

TEST(KestoPanel, CentresOrBottomCentresOnTheLibraryWindowCentredWinning) {
  Presenter presenter;
  DelegateScope scope(&presenter);
  ui::Window library(fnd::Rect(100, 80, 800, 500));
  presenter.library = &library;
  KestoPanel panel(fnd::Rect(0, 0, 200, 100));
  const fnd::Rect proposed(10, 20, 200, 100);
  ui::Screen elsewhere(-1);
  EXPECT_EQ(panel.constrainFrameRect(proposed, elsewhere), proposed);  // neither: as proposed
  panel.setShouldBeBottomCentered(true);
  EXPECT_EQ(panel.constrainFrameRect(proposed, elsewhere), fnd::Rect(400, 130, 200, 100));
  panel.setShouldBeCentered(true);
  EXPECT_EQ(panel.constrainFrameRect(proposed, elsewhere), fnd::Rect(400, 280, 200, 100));
  // Shown, it takes that place.
  panel.makeKeyAndOrderFront();
  EXPECT_EQ(panel.frame(), fnd::Rect(400, 280, 200, 100));
  // Kept on the library window's screen: never above its visible top.
  fnd::Rect visible = library.screen().visibleFrame();
  library.setFrame(fnd::Rect(100, visible.maxY() - 60, 800, 500));
  fnd::Rect high = panel.constrainFrameRect(proposed, elsewhere);
  EXPECT_DOUBLE_EQ(high.maxY(), visible.maxY());
}

TEST(KestoPanel, WithoutALibraryWindowACentredPanelSitsAroundTheOrigin) {
  KestoPanel panel(fnd::Rect(0, 0, 200, 100));
  panel.setShouldBeCentered(true);
  EXPECT_EQ(panel.constrainFrameRect(fnd::Rect(300, 300, 200, 100), ui::Screen::primary()),
            fnd::Rect(-100, -50, 200, 100));
}

TEST(KestoPanel, EscapeInASheetEndsItThroughThePresenter) {
  Presenter presenter;
  DelegateScope scope(&presenter);
  ui::Window library(fnd::Rect(100, 80, 800, 500));
  presenter.library = &library;
  library.makeKeyAndOrderFront();
  KestoPanel sheet(fnd::Rect(0, 0, 300, 150));
  int code = 0;
  library.beginSheet(sheet, [&](int c) { code = c; });
  sheet.sendEvent(ui::Event::key(ui::KeyCode::Escape, 0, "\x1b"));
  ASSERT_EQ(presenter.dismissed.size(), 1u);
  EXPECT_EQ(presenter.dismissed[0], &sheet);
  EXPECT_EQ(code, ui::ModalResponse::Stop);  // ended by the presenter, not by the panel's own cancel
  EXPECT_EQ(library.attachedSheet(), nullptr);
}

TEST(KestoPanel, WithoutAPresenterEscapeStillEndsTheSheet) {
  ui::Window library(fnd::Rect(100, 80, 800, 500));
  library.makeKeyAndOrderFront();
  KestoPanel sheet(fnd::Rect(0, 0, 300, 150));
  int code = 1;
  library.beginSheet(sheet, [&](int c) { code = c; });
  sheet.sendEvent(ui::Event::key(47, ui::ModifierFlag::Command, "."));
  EXPECT_EQ(code, ui::ModalResponse::Cancel);
}

TEST(KestoStyledWindow, ButtonsSitAtTheTopAndStayThereThroughResizes) {
  KestoStyledWindow window(fnd::Rect(100, 100, 400, 300));
  auto content = window.contentView();
  EXPECT_EQ(static_cast<unsigned>(window.styleMask()), ui::WindowStyle::Borderless);
  EXPECT_DOUBLE_EQ(content->cornerRadius(), 6.0);
  EXPECT_DOUBLE_EQ(content->borderWidth(), 1.0);
  ASSERT_TRUE(window.closeButton() && window.minimizeButton() && window.maximizeButton() && window.fullscreenButton());
  const double h = WindowButton::kSize;
  EXPECT_EQ(window.closeButton()->frame(), fnd::Rect(5, 300 - 2 - h, h, h));
  EXPECT_EQ(window.minimizeButton()->frame(), fnd::Rect(20, 300 - 2 - h, h, h));
  EXPECT_EQ(window.maximizeButton()->frame(), fnd::Rect(35, 300 - 2 - h, h, h));
  EXPECT_EQ(window.fullscreenButton()->frame(), fnd::Rect(380, 300 - 2 - h, h, h));
  window.setFrame(fnd::Rect(100, 100, 500, 360));
  EXPECT_EQ(window.closeButton()->frame(), fnd::Rect(5, 360 - 2 - h, h, h));
  EXPECT_EQ(window.fullscreenButton()->frame(), fnd::Rect(480, 360 - 2 - h, h, h));
  // Drawn by themselves: a red close button, a grey full-screen one, clear outside the circle.
  ui::Image close = window.closeButton()->snapshot();
  ui::Color red = close.pixelColor(6, 2);
  EXPECT_GT(red.red, 0.8);
  EXPECT_LT(red.green, 0.5);
  EXPECT_LT(close.pixelColor(0, 0).alpha, 0.1);
  ui::Color grey = window.fullscreenButton()->snapshot().pixelColor(6, 2);
  EXPECT_NEAR(grey.red, grey.blue, 0.05);
  // A new content view gets the style and the buttons too.
  auto replacement = std::make_shared<ui::View>(fnd::Rect(0, 0, 10, 10));
  window.setContentView(replacement);
  EXPECT_EQ(window.closeButton()->superview(), replacement.get());
  EXPECT_DOUBLE_EQ(replacement->cornerRadius(), 6.0);
  EXPECT_EQ(replacement->frame().size, (fnd::Size{500, 360}));
  // The close button closes the window.
  window.makeKeyAndOrderFront();
  window.closeButton()->performClick();
  EXPECT_FALSE(window.isVisible());
}

TEST(KestoStyledWindow, FullScreenHidesThreeButtonsButNeverTheFullScreenOne) {
  KestoStyledWindow window(fnd::Rect(100, 100, 400, 300));
  window.makeKeyAndOrderFront();
  window.fullscreenButton()->performClick();
  ASSERT_TRUE(runUntil([&] { return window.isFullScreen(); }, 30));
  ASSERT_TRUE(runUntil([&] { return window.closeButton()->isHidden(); }, 30));
  EXPECT_TRUE(window.minimizeButton()->isHidden());
  EXPECT_TRUE(window.maximizeButton()->isHidden());
  EXPECT_FALSE(window.fullscreenButton()->isHidden());
  EXPECT_FALSE(window.isMovableByWindowBackground());
  window.toggleFullScreen();
  ASSERT_TRUE(runUntil([&] { return !window.closeButton()->isHidden(); }, 30));
  EXPECT_TRUE(window.isMovableByWindowBackground());
}

TEST(KestoStyledWindow, DraggingUpStopsAtTheTopOfTheVisibleAreaOnly) {
  KestoStyledWindow window(fnd::Rect(100, 100, 300, 200));
  window.makeKeyAndOrderFront();
  ui::Screen screen = ui::Screen::main();
  ASSERT_TRUE(screen.isValid());
  fnd::Rect visible = screen.visibleFrame();
  drag(window, {150, 100}, {130, 60});  // down and left: free
  EXPECT_EQ(window.frame().origin, (fnd::Point{80, 60}));
  drag(window, {150, 100}, {150, 100 + visible.size.height + 500});  // far up: held at the top
  EXPECT_DOUBLE_EQ(window.frame().maxY(), visible.maxY());
  EXPECT_DOUBLE_EQ(window.frame().origin.x, 80);
  drag(window, {150, 100}, {150 - 400, 100});  // off the left edge is allowed
  EXPECT_DOUBLE_EQ(window.frame().origin.x, -320);
}

TEST(KSTMovableWindow, MovesWithABackgroundDrag) {
  KSTMovableWindow window(fnd::Rect(100, 100, 300, 200));
  window.makeKeyAndOrderFront();
  drag(window, {50, 50}, {80, 40});
  EXPECT_EQ(window.frame().origin, (fnd::Point{130, 90}));
  ui::Window plain(fnd::Rect(100, 100, 300, 200));
  plain.makeKeyAndOrderFront();
  drag(plain, {50, 50}, {80, 40});
  EXPECT_EQ(plain.frame().origin, (fnd::Point{100, 100}));
}

}  // namespace
}  // namespace kesto::test
