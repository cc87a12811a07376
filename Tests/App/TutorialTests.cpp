// The first-use tutorials: shown while their key is absent, toggled by opening the place again,
// kept away for good by their close button until the tutorials are turned back on.
#include "Sidebar/TutorialPopovers.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Window.h"
#include "Views/PopoverController.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

using Tutorial = TutorialPopovers::Tutorial;

class TutorialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TutorialPopovers::turnOnTutorialPopups();
    window.setContentView(std::make_shared<ui::View>(fnd::Rect(0, 0, 600, 400)));
    anchor = std::make_shared<ui::View>(fnd::Rect(400, 300, 160, 30));
    window.contentView()->addSubview(anchor);
    window.makeKeyAndOrderFront();
  }
  void TearDown() override { TutorialPopovers::turnOnTutorialPopups(); }
  fnd::UserDefaults& defaults() { return fnd::UserDefaults::standard(); }

  ui::Window window{fnd::Rect(100, 100, 600, 400)};
  std::shared_ptr<ui::View> anchor;
  TutorialPopovers tutorials;
};

TEST_F(TutorialTest, OpeningThePlaceAgainClosesTheTutorialWithoutMarkingItSeen) {
  tutorials.placeOpened(Tutorial::Inbox, anchor.get());
  ASSERT_TRUE(tutorials.isShown(Tutorial::Inbox));
  // Below the anchor, dark with a white border.
  EXPECT_EQ(tutorials.popover(Tutorial::Inbox)->arrowDirection(), PopoverArrow::Below);
  EXPECT_EQ(tutorials.popover(Tutorial::Inbox)->borderColor(), ui::Color::white(1.0));
  tutorials.placeOpened(Tutorial::Inbox, anchor.get());
  EXPECT_TRUE(runUntil([&] { return !tutorials.isShown(Tutorial::Inbox); }, 5));
  EXPECT_TRUE(TutorialPopovers::isPending(Tutorial::Inbox));
  auto* first = tutorials.popover(Tutorial::Inbox);
  tutorials.placeOpened(Tutorial::Inbox, anchor.get());
  EXPECT_TRUE(tutorials.isShown(Tutorial::Inbox));
  EXPECT_EQ(tutorials.popover(Tutorial::Inbox), first);
}

TEST_F(TutorialTest, CloseButtonStoresTheMisspelledKeyAndKeepsTheTutorialAway) {
  tutorials.placeOpened(Tutorial::Import, anchor.get());
  ASSERT_TRUE(tutorials.isShown(Tutorial::Import));
  tutorials.closeTutorial(Tutorial::Import);
  EXPECT_TRUE(runUntil([&] { return !tutorials.isShown(Tutorial::Import); }, 5));
  // Saved to the file at once, under the key's stored spelling.
  fnd::UserDefaults file(defaults().filePath());
  EXPECT_TRUE(file.hasValueForKey("BRWTutorialImoprtSeen"));
  EXPECT_TRUE(file.boolForKey("BRWTutorialImoprtSeen"));
  tutorials.placeOpened(Tutorial::Import, anchor.get());
  EXPECT_FALSE(tutorials.isShown(Tutorial::Import));
  // Other tutorials are still pending.
  EXPECT_TRUE(TutorialPopovers::isPending(Tutorial::Library));
}

TEST_F(TutorialTest, AStoredNoCountsAsSeenAndTurningOnBringsAllBack) {
  defaults().setBool(false, "BRWTutorialTagsSeen");
  tutorials.placeOpened(Tutorial::Tags, anchor.get());
  EXPECT_FALSE(tutorials.isShown(Tutorial::Tags));
  for (int i = 0; i < int(TutorialPopovers::kCount); ++i) defaults().setBool(true, TutorialPopovers::seenKey(Tutorial(i)));
  TutorialPopovers::turnOnTutorialPopups();
  EXPECT_FALSE(fnd::UserDefaults(defaults().filePath()).hasValueForKey("BRWTutorialDeliciousySeen"));
  for (int i = 0; i < int(TutorialPopovers::kCount); ++i) EXPECT_TRUE(TutorialPopovers::isPending(Tutorial(i)));
  tutorials.placeOpened(Tutorial::Bookmark, anchor.get());
  ASSERT_TRUE(tutorials.isShown(Tutorial::Bookmark));
  EXPECT_EQ(tutorials.popover(Tutorial::Bookmark)->arrowDirection(), PopoverArrow::Left);
}

}  // namespace
}  // namespace kesto::test
