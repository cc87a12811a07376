// The first-use popovers of the folder list's fixed rows and of the tags tab: opened when the
// user opens the place, not for the row restored at start, and never again once closed.
#include "SidebarFixture.h"

#include "Platform/UI/Button.h"
#include "Sidebar/SidebarController.h"
#include "Sidebar/TutorialPopovers.h"
#include "Views/PopoverController.h"

namespace kesto::test {
namespace {

using Tutorial = TutorialPopovers::Tutorial;

class TutorialPlacesTest : public FolderListTest {
 protected:
  void SetUp() override {
    FolderListTest::SetUp();
    TutorialPopovers::turnOnTutorialPopups();
  }
  void TearDown() override {
    tutorials.reset();
    FolderListTest::TearDown();
    TutorialPopovers::turnOnTutorialPopups();
  }
  void open(const std::string& id) {
    ASSERT_NO_FATAL_FAILURE(select(id));
    // The list acts on a chosen row a moment later.
    ASSERT_TRUE(waitPast(kSelectionDelay));
  }
  std::unique_ptr<TutorialPopovers> tutorials = std::make_unique<TutorialPopovers>();
};

TEST_F(TutorialPlacesTest, FixedRowsExplainThemselvesWhenTheUserOpensThem) {
  folder("Work");
  ASSERT_NO_FATAL_FAILURE(start());
  controller->setTutorials(tutorials.get());
  // The row handled first is the one restored at start: no tutorial for it.
  open("home");
  EXPECT_FALSE(tutorials->isShown(Tutorial::Library));

  open(Folder::kInboxID);
  ASSERT_TRUE(tutorials->isShown(Tutorial::Inbox));
  // Beside the row, over the list: the rows below stay within reach.
  auto* popover = tutorials->popover(Tutorial::Inbox);
  EXPECT_EQ(popover->arrowDirection(), PopoverArrow::Right);
  EXPECT_EQ(popover->positionView(), &list());
  EXPECT_EQ(popover->popoverWindow().title(), "Inbox tutorial");

  tutorials->closeTutorial(Tutorial::Inbox);
  EXPECT_TRUE(runUntil([&] { return !tutorials->isShown(Tutorial::Inbox); }));
  EXPECT_TRUE(defaults().boolForKey("BRWTutorialInboxSeen"));

  open(Folder::kImportedID);
  EXPECT_TRUE(tutorials->isShown(Tutorial::Import));
  open("home");
  EXPECT_TRUE(tutorials->isShown(Tutorial::Library));
  // A plain folder has no tutorial; the Inbox, once closed, none any more.
  tutorials->closeTutorial(Tutorial::Library);
  tutorials->closeTutorial(Tutorial::Import);
  EXPECT_TRUE(runUntil(
      [&] { return !tutorials->isShown(Tutorial::Library) && !tutorials->isShown(Tutorial::Import); }));
  open(Folder::kInboxID);
  EXPECT_FALSE(tutorials->isShown(Tutorial::Inbox));
  auto work = Folder::fetchEntityWhereProperty("name", fnd::Value(std::string("Work")));
  ASSERT_TRUE(work);
  open(work->folderID());
  for (auto t : {Tutorial::Inbox, Tutorial::Import, Tutorial::Library, Tutorial::Delicious, Tutorial::Pinboard})
    EXPECT_FALSE(tutorials->isShown(t));
}

TEST_F(TutorialPlacesTest, TheTagsTabTogglesItsTutorialUntilItIsClosed) {
  save();
  dm = std::make_unique<DataManager>();
  {
    SidebarController sidebar;
    sidebar.setDataManager(dm.get());
    sidebar.setTutorials(tutorials.get());
    sidebar.awakeFromNib();
    auto tagsButton = sidebar.buttons()[1];
    ASSERT_TRUE(tagsButton);
    sidebar.toggleSelection(*tagsButton);
    ASSERT_TRUE(tutorials->isShown(Tutorial::Tags));
    EXPECT_EQ(tutorials->popover(Tutorial::Tags)->arrowDirection(), PopoverArrow::Right);
    sidebar.toggleSelection(*tagsButton);
    EXPECT_TRUE(runUntil([&] { return !tutorials->isShown(Tutorial::Tags); }));
    sidebar.toggleSelection(*tagsButton);
    ASSERT_TRUE(tutorials->isShown(Tutorial::Tags));
    tutorials->closeTutorial(Tutorial::Tags);
    EXPECT_TRUE(runUntil([&] { return !tutorials->isShown(Tutorial::Tags); }));
    sidebar.toggleSelection(*sidebar.buttons()[0]);
    sidebar.toggleSelection(*tagsButton);
    EXPECT_FALSE(tutorials->isShown(Tutorial::Tags));
    // Another tab never shows it.
    TutorialPopovers::turnOnTutorialPopups();
    sidebar.toggleSelection(*sidebar.buttons()[2]);
    EXPECT_FALSE(tutorials->isShown(Tutorial::Tags));
    tutorials.reset();
  }
  // The sidebar's widgets go through the event loop.
  spin(0.05);
}

}  // namespace
}  // namespace kesto::test
