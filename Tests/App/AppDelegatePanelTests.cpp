// The application delegate's way to the older status-item panel: togglePanel flips the status
// item's highlight and opens or closes the panel with it; the panel stands under the status
// item the delegate names, and without one it never opens.
#include "AppFixture.h"

#include "App/AppDelegate.h"
#include "MenuBar/MenubarController.h"
#include "MenuBar/PanelController.h"

namespace kesto::test {
namespace {

using AppDelegatePanel = AppTest;

TEST_F(AppDelegatePanel, TogglePanelOpensThePanelOnlyWithAStatusItemAndFlipsItsHighlight) {
  AppDelegate delegate;
  PanelController& panel = delegate.panelController();
  EXPECT_EQ(&delegate.panelController(), &panel) << "made once";
  EXPECT_EQ(panel.delegate(), &delegate);
  // Without a status item nothing opens: the delegate names no view to stand under.
  EXPECT_EQ(delegate.statusItemViewForPanelController(panel), nullptr);
  delegate.togglePanel();
  EXPECT_FALSE(panel.hasActivePanel());
  spin(0.2);
  EXPECT_FALSE(panel.window().isVisible());

  MenubarController menubar;
  delegate.menubarController = &menubar;
  EXPECT_EQ(delegate.statusItemViewForPanelController(panel), &menubar.statusItemView());
  // The panel asks the delegate where to stand: under that view (the top middle of the screen
  // while the tray does not tell the icon's place).
  const fnd::Rect status = panel.statusRectForWindow(panel.window());
  if (auto icon = menubar.statusItemView().globalRect()) EXPECT_EQ(status.minX(), icon->minX());
  else EXPECT_EQ(status.size.width, StatusItemView::kLength);
  delegate.togglePanel();
  EXPECT_TRUE(menubar.hasActiveIcon());
  EXPECT_TRUE(panel.hasActivePanel());
  ASSERT_TRUE(runUntil([&] { return panel.window().isVisible(); }, 30));
  // Again: both go off together.
  delegate.togglePanel();
  EXPECT_FALSE(menubar.hasActiveIcon());
  EXPECT_FALSE(panel.hasActivePanel());
  EXPECT_TRUE(runUntil([&] { return !panel.window().isVisible(); }, 30));
  // A highlight set elsewhere is flipped off, and the panel follows the icon.
  menubar.setHasActiveIcon(true);
  delegate.togglePanel();
  EXPECT_FALSE(menubar.hasActiveIcon());
  EXPECT_FALSE(panel.hasActivePanel());
  delegate.menubarController = nullptr;
}

}  // namespace
}  // namespace kesto::test
