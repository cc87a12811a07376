// The main window around the bookmark list: the sidebar's service rows and badges as the list
// and the inspector see them.
#include "AppFixture.h"

#include "Model/ViewUpdater.h"
#include "Sidebar/FoldersController.h"
#include "Sidebar/SidebarKeys.h"
#include "Views/SourceList.h"
#include "Views/SourceListItem.h"

#include <memory>
#include <string>

namespace kesto::test {
namespace {

// A service whose login panel the user closes without connecting.
struct CancelledLogin : FolderServiceClient {
  bool connect(const std::string&, const std::string&) override { return false; }
  void import() override {}
  bool isAlreadyPresent(const std::string&) override { return false; }
};

class MainWindowPiecesTest : public AppTest {
 protected:
  void TearDown() override {
    registerFolderServiceClientFactory(nullptr);
    AppTest::TearDown();
  }
  FoldersController& folders() { return *ui->foldersController(); }
  SourceListItem* row(const std::string& id) {
    auto* home = folders().homeItem();
    for (size_t i = 0; i < home->childCount(); ++i)
      if (home->childAt(i)->identifier() == id) return home->childAt(i);
    return nullptr;
  }
  void choose(SourceListItem* item) {
    ASSERT_TRUE(item);
    brightwren::setSelectedItems(*folders().sourceList(), {item});
    spin(0.2);
  }
  void showTab(const char* selectedView) {
    defaults().setString(selectedView, SelectedView);
    ViewUpdater::updateSidebar();
    spin(0.2);
  }
};

TEST_F(MainWindowPiecesTest, GoToFolderLeavesAServiceRowWhoseLoginWasCancelled) {
  registerFolderServiceClientFactory([](const std::string&) { return std::make_unique<CancelledLogin>(); });
  auto work = addFolder("Work");
  auto a = add("http://work.example/", "W", work);
  build(0);
  choose(row(FoldersController::kPinboardItemID));
  ASSERT_EQ(folders().selectedIdentifier(), FoldersController::kPinboardItemID);
  showTab(SelectedTagsView);
  dm().setSelectedBookmarks({a});
  dm().setCurrentBookmark(a);
  ViewUpdater::updateInspector();
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWGoToCurrentFolder);
  spin(0.4);
  EXPECT_EQ(folders().selectedIdentifier(), work->folderID());
  ASSERT_TRUE(dm().currentFolder());
  EXPECT_EQ(dm().currentFolder()->folderID(), work->folderID());
  ASSERT_EQ(dm().bookmarks().size(), 1u);
  EXPECT_EQ(dm().bookmarks()[0], a);
}

TEST_F(MainWindowPiecesTest, AHandOverCountsInTheInboxBadgeAsInTheLibraryBadge) {
  auto work = addFolder("Work");
  add("http://work.example/", "W", work);
  add("http://inbox.example/", "I");
  build(0);
  choose(row(work->folderID()) ? row(work->folderID()) : folders().itemForFolderID(work->folderID()));
  app().getUrl("kesto:http://handed.example/one");
  ASSERT_TRUE(runUntil([&] { return folders().homeItem()->badgeValue() == 3; }));
  EXPECT_EQ(folders().inboxItem()->badgeValue(), 2);
  app().getUrl("kesto:http://handed.example/two");
  ASSERT_TRUE(runUntil([&] { return folders().homeItem()->badgeValue() == 4; }));
  EXPECT_EQ(folders().inboxItem()->badgeValue(), 3);
}

}  // namespace
}  // namespace kesto::test
