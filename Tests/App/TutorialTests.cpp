// The first-use tutorials: shown while their key is absent, toggled by opening the place again,
// kept away for good by their close button until the tutorials are turned back on.
#include "Sidebar/TutorialPopovers.h"

#include "Harness/FocusedKeys.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Event.h"
#include "Platform/UI/Window.h"
#include "Views/PopoverController.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

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

// A view of the window that takes the keys, as the bookmark list does.
struct KeyView : ui::View {
  using ui::View::View;
  bool acceptsFirstResponder() override { return true; }
  void keyDown(const ui::Event&) override { ++keys; }
  int keys = 0;
};

// A tip explains and leaves the keyboard where it was: Delete in the list and Ctrl+Z go on
// reaching the window while a tip shows, and its close button still takes it away.
TEST_F(TutorialTest, TipsLeaveTheKeysWithTheWindowTheyStandOver) {
  auto list = std::make_shared<KeyView>(fnd::Rect(0, 0, 300, 300));
  window.contentView()->addSubview(list);
  window.makeFirstResponder(list.get());
  auto row = std::make_shared<ui::View>(fnd::Rect(20, 250, 260, 30));
  list->addSubview(row);
  int keys = 0;
  for (auto [t, at] : {std::pair{Tutorial::Library, anchor.get()}, std::pair{Tutorial::Bookmark, row.get()}}) {
    tutorials.placeOpened(t, at);
    spin(0.1);
    ASSERT_TRUE(tutorials.isShown(t)) << static_cast<int>(t);
    EXPECT_FALSE(tutorials.popover(t)->popoverWindow().canBecomeKeyWindow());
    EXPECT_EQ(ui::Application::shared().keyWindow(), &window);
    // The keys follow the focus once the loop has turned.
    spin(0.1);
    press(Qt::Key_Delete);
    EXPECT_EQ(list->keys, ++keys) << "Delete did not reach the list";
  }

  // The row moves under its tip (a row above deleted): the bookmark tip goes, unseen.
  row->setFrameOrigin(fnd::Point{20, 150});
  EXPECT_TRUE(runUntil([&] { return !tutorials.isShown(Tutorial::Bookmark); }, 5));
  EXPECT_TRUE(TutorialPopovers::isPending(Tutorial::Bookmark));
  // The Library tip, beside the sidebar, stays until its button is clicked.
  tutorials.placeOpened(Tutorial::Library, anchor.get());
  ASSERT_TRUE(tutorials.isShown(Tutorial::Library));
  row->setFrameOrigin(fnd::Point{20, 250});
  spin(0.1);
  EXPECT_TRUE(tutorials.isShown(Tutorial::Library));
  tutorials.closeTutorial(Tutorial::Library);
  EXPECT_TRUE(runUntil([&] { return !tutorials.isShown(Tutorial::Library); }, 5));
  EXPECT_EQ(ui::Application::shared().keyWindow(), &window);
}

// One tip at a time: a place opened while another's tip shows (the Inbox chosen, then Up to the
// Library row) closes that tip, which stays due; the row left and chosen again shows it anew.
TEST_F(TutorialTest, ATipOpeningClosesTheOneShownWhichStaysDue) {
  auto row = std::make_shared<ui::View>(fnd::Rect(20, 250, 260, 30));
  window.contentView()->addSubview(row);
  auto shown = [&] {
    std::vector<Tutorial> out;
    for (int i = 0; i < int(TutorialPopovers::kCount); ++i)
      if (tutorials.isShown(Tutorial(i))) out.push_back(Tutorial(i));
    return out;
  };
  using List = std::vector<Tutorial>;
  tutorials.placeOpened(Tutorial::Inbox, anchor.get());
  EXPECT_EQ(shown(), List{Tutorial::Inbox});
  tutorials.placeOpened(Tutorial::Library, anchor.get());
  EXPECT_EQ(shown(), List{Tutorial::Library});
  EXPECT_FALSE(tutorials.popover(Tutorial::Inbox)->popoverWindow().isVisible());
  EXPECT_TRUE(TutorialPopovers::isPending(Tutorial::Inbox));
  // The bookmark tip, and the tags tip, take the place of the one before as well.
  tutorials.placeOpened(Tutorial::Bookmark, row.get());
  EXPECT_EQ(shown(), List{Tutorial::Bookmark});
  tutorials.placeOpened(Tutorial::Tags, anchor.get());
  EXPECT_EQ(shown(), List{Tutorial::Tags});
  // A tip that was closed for another opens again at its place's next choosing.
  tutorials.placeOpened(Tutorial::Inbox, anchor.get());
  EXPECT_EQ(shown(), List{Tutorial::Inbox});
  // A seen tip opens nothing and leaves the one shown.
  tutorials.closeTutorial(Tutorial::Import);
  tutorials.placeOpened(Tutorial::Import, anchor.get());
  EXPECT_EQ(shown(), List{Tutorial::Inbox});
  for (auto t : {Tutorial::Library, Tutorial::Bookmark, Tutorial::Tags, Tutorial::Inbox})
    EXPECT_TRUE(TutorialPopovers::isPending(t)) << static_cast<int>(t);
}

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
