#include "Harness/TestSupport.h"
#include "MenuBar/MenubarController.h"
#include "MenuBar/PanelController.h"
#include "Model/ModelNotifications.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextField.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

namespace kesto::test {
namespace {

// A status item whose icon stands where the test says.
class PlacedStatusItemView : public StatusItemView {
 public:
  explicit PlacedStatusItemView(fnd::Rect place) : StatusItemView(nullptr), place_(place) {}
  std::optional<fnd::Rect> globalRect() const override { return place_; }

 private:
  fnd::Rect place_;
};

class PlacedDelegate : public PanelControllerDelegate {
 public:
  StatusItemView* statusItemViewForPanelController(PanelController&) override { return view.get(); }
  std::shared_ptr<StatusItemView> view;
};

// A second screen to the right of the first, its top at 768.
const fnd::Rect kScreen(1280, 0, 1024, 768);

TEST(StatusItemPanel, PlacementKeepsInsideTheRightEdgeAndTheArrowFollowsTheIcon) {
  // An icon near the right end: the panel stands 10 points inside the edge.
  const fnd::Rect status(2290, 744, 24, 24);
  const fnd::Rect panel = PanelController::panelRect(status, kScreen, 500);
  EXPECT_DOUBLE_EQ(panel.maxX(), 2294);
  EXPECT_DOUBLE_EQ(panel.minY(), 268);
  EXPECT_DOUBLE_EQ(panel.size.width, 470);
  // An icon in the middle: centred under it.
  EXPECT_DOUBLE_EQ(PanelController::panelRect(fnd::Rect(1780, 744, 24, 24), kScreen, 500).minX(), 1557);

  PlacedDelegate delegate;
  delegate.view = std::make_shared<PlacedStatusItemView>(fnd::Rect(2290, 768, 24, 24));
  PanelController controller(&delegate);
  controller.setScreenFrameForTesting(kScreen);
  // The icon's rectangle moved down by its height.
  const fnd::Rect under = controller.statusRectForWindow(controller.window());
  EXPECT_DOUBLE_EQ(under.minY(), 744);
  controller.setHasActivePanel(true);
  controller.setHasActivePanel(true);  // harmless
  EXPECT_TRUE(controller.hasActivePanel());
  controller.window().finishAnimations();
  EXPECT_DOUBLE_EQ(controller.window().frame().maxX(), 2294);
  controller.layoutPanel();
  EXPECT_EQ(controller.backgroundView().arrowX(), 2302 - std::int64_t(controller.window().frame().minX()));

  // Escape closes it; closing again changes nothing; the window goes after the fade.
  controller.window().keyDown(ui::Event::key(ui::KeyCode::Escape, 0, "\x1b"));
  EXPECT_FALSE(controller.hasActivePanel());
  controller.setHasActivePanel(false);
  EXPECT_TRUE(runUntil([&] { return !controller.window().isVisible(); }, 30));
  EXPECT_FALSE(controller.hasActivePanel());
  // Another program taking the focus takes the panel's key status, and closes it.
  controller.setHasActivePanel(true);
  {
    std::shared_ptr<void> focusBack(nullptr, [](void*) { Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive); });
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    Q_EMIT qGuiApp->applicationStateChanged(Qt::ApplicationInactive);
    EXPECT_FALSE(controller.hasActivePanel());
  }
  EXPECT_TRUE(runUntil([&] { return !controller.window().isVisible(); }, 30));

  // Without a status item: 24 points wide at the top middle of the screen, its origin left out.
  PanelController lone(nullptr);
  lone.setScreenFrameForTesting(kScreen);
  const fnd::Rect fallback = lone.statusRectForWindow(lone.window());
  EXPECT_DOUBLE_EQ(fallback.minX(), 500);
  EXPECT_DOUBLE_EQ(fallback.minY(), 768 - 2 * PanelController::kStatusBarThickness);
  EXPECT_DOUBLE_EQ(fallback.size.width, 24);
}

TEST(StatusItemPanel, ShiftClicksOpenSlowlyAndSmallPanelsHideFields) {
  auto click = [](std::uint64_t flags) { return ui::Event::mouse(ui::EventType::LeftMouseDown, {0, 0}, flags); };
  EXPECT_DOUBLE_EQ(PanelController::openingDuration(nullptr), 0.1);
  auto shift = click(ui::ModifierFlag::Shift);
  auto shiftOption = click(ui::ModifierFlag::Shift | ui::ModifierFlag::Option);
  auto shiftCommand = click(ui::ModifierFlag::Shift | ui::ModifierFlag::Command);
  auto shiftCaps = click(ui::ModifierFlag::Shift | ui::ModifierFlag::CapsLock);
  EXPECT_DOUBLE_EQ(PanelController::openingDuration(&shift), 1.0);
  EXPECT_DOUBLE_EQ(PanelController::openingDuration(&shiftOption), 1.0);
  EXPECT_DOUBLE_EQ(PanelController::openingDuration(&shiftCommand), 0.1);
  EXPECT_DOUBLE_EQ(PanelController::openingDuration(&shiftCaps), 0.1);
  auto keyWithShift = ui::Event::key(ui::KeyCode::P, ui::ModifierFlag::Shift, "P");
  EXPECT_DOUBLE_EQ(PanelController::openingDuration(&keyWithShift), 0.1);

  PanelController controller(nullptr);
  EXPECT_FALSE(controller.searchField().isHidden());
  EXPECT_FALSE(controller.textField().isHidden());
  EXPECT_DOUBLE_EQ(controller.textField().frame().minY(), 12);
  controller.window().setFrame(fnd::Rect(0, 0, 470, 40), false);
  controller.layoutPanel();
  EXPECT_TRUE(controller.textField().isHidden()) << "no room: hidden, not given a negative height";
  EXPECT_FALSE(controller.searchField().isHidden());
}

TEST(StatusItemPanel, BackgroundArrowAndStatusItem) {
  BackgroundView background(fnd::Rect(0, 0, 470, 500));
  background.setNeedsDisplayFlag(false);
  background.setArrowX(100);
  EXPECT_TRUE(background.needsDisplay());
  const ui::Path path = background.backgroundPath();
  const auto& e = path.elements();
  ASSERT_GE(e.size(), 3u);
  EXPECT_DOUBLE_EQ(e[0].points[0].x, 100);  // the tip, on the top edge inset by the line
  EXPECT_DOUBLE_EQ(e[0].points[0].y, 499);
  EXPECT_DOUBLE_EQ(e[1].points[0].x, 108);
  EXPECT_DOUBLE_EQ(e[1].points[0].y, 489);

  int updates = 0;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(&updates, [&](const fnd::Notification&) { ++updates; }, BRWUpdateMenuBookmarksViewNotification);
  {
    MenubarController menubar;
    menubar.statusItemView().mouseDown(ui::Event());
    EXPECT_EQ(updates, 1) << "a click posts the menu-bookmarks update";
    EXPECT_FALSE(menubar.hasActiveIcon());
    menubar.setHasActiveIcon(true);
    EXPECT_TRUE(menubar.statusItemView().isHighlighted());
    EXPECT_FALSE(menubar.statusItemView().image().isNull());
  }
  center.removeObserver(&updates);
}

}  // namespace
}  // namespace kesto::test
