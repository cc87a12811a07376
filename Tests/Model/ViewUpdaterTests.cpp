#include "Model/ViewUpdater.h"

#include "Platform/Foundation/NotificationCenter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kesto {
namespace {

// Records every notification posted while it lives.
struct Recorder {
  Recorder() {
    fnd::NotificationCenter::defaultCenter().addObserver(this, [this](const fnd::Notification& n) { seen.push_back(n); }, {});
  }
  ~Recorder() { fnd::NotificationCenter::defaultCenter().removeObserver(this); }
  std::vector<fnd::Notification> seen;
};

TEST(ViewUpdaterTest, EachOperationPostsItsNameWithTheClassAsSender) {
  struct Case {
    void (*op)();
    const char* name;
    bool classSender;
  };
  const Case cases[] = {
      {ViewUpdater::updateBookmarks, "BRWUpdateBookmarksViewNotification", true},
      {ViewUpdater::updateBookmarksAndResetView, "BRWUpdateBookmarksAndResetViewNotification", true},
      {ViewUpdater::updateMenuBookmarks, "BRWUpdateMenuBookmarksViewNotification", true},
      {ViewUpdater::fetchMissingImages, "BRWFetchMissingImagesNotification", true},
      {ViewUpdater::fetchMissingImagesInFolder, "FetchMissingImagesInFolderNotification", true},
      {ViewUpdater::openSelectedBookmarksMenu, "BRWOpenSelectedBookmarksMenuNotification", true},
      {ViewUpdater::showTags, "BRWShowTagsViewNotification", true},
      {ViewUpdater::resetTags, "BRWResetTagsViewNotification", true},
      {ViewUpdater::updateTags, "BRWUpdateTagsViewNotification", true},
      {ViewUpdater::updateHistory, "BRWUpdateHistoryViewNotification", true},
      {ViewUpdater::updateSourceLists, "BRWUpdateFoldersViewNotification", true},
      {ViewUpdater::updateFoldersCompletely, "BRWUpdateFoldersCompletelyViewNotification", true},
      {ViewUpdater::updateFolderBadges, "UpdateFolderBadgesNotification", true},
      {ViewUpdater::updatePopulars, "UpdatePopularsViewNotification", true},
      {ViewUpdater::updateSidebar, "selectCurrentSidebarView", true},
      {ViewUpdater::updateTrash, "UpdateTrashViewNotification", true},
      {ViewUpdater::updateMaintenance, "UpdateMaintenanceViewNotification", true},
      {ViewUpdater::updateInspector, "BRWUpdateInspectorViewNotification", true},
      {ViewUpdater::clearInspector, "BRWClearInspectorViewNotification", true},
      {ViewUpdater::startActivity, "BRWActivityStartedNotification", true},
      {ViewUpdater::stopActivity, "BRWActivityEndedNotification", true},
      {ViewUpdater::selectBookmarksRow, "BRWSelectLibraryFolderNotification", true},
      {ViewUpdater::selectInboxRow, "BRWSelectInboxFolderNotification", true},
      {ViewUpdater::showMoreBookmarksMessage, "ShowMoreBookmarksButtonNotification", true},
      {ViewUpdater::hideMoreBookmarksButton, "HideMoreBookmarksButtonNotification", true},
      {ViewUpdater::updateCurrentBookmarkTitleFromEdit, "BRWUpdateCurrentBookmarkTitleNotification", true},
      {ViewUpdater::updateCurrentBookmarkURLFromEdit, "BRWUpdateCurrentBookmarkURLNotification", true},
      {ViewUpdater::clearBookmarks, "ClearBookmarks", true},
      {ViewUpdater::clearSearchField, "ClearSearchField", true},
      {ViewUpdater::clearPathBar, "BRWClearPathBar", true},
      {ViewUpdater::setSyncTimer, "BRWSetSyncTimer", true},
      {ViewUpdater::unsetSyncTimer, "BRWUnsetSyncTimer", true},
      {ViewUpdater::showPinboardPanel, "ShowPinboardPanel", true},
      {ViewUpdater::hidePinboardPanel, "HidePinboardPanel", false},
      {ViewUpdater::showDeliciousPanel, "ShowDeliciousPanel", true},
      {ViewUpdater::hideMessage, "HideOverlayMessageNotification", true},
      {ViewUpdater::selectBookmarksView, "SelectBookmarksView", false},
      {ViewUpdater::showInitialPopup, "ShowInitialPopup", false},
  };
  for (const auto& c : cases) {
    Recorder r;
    c.op();
    ASSERT_EQ(r.seen.size(), 1u) << c.name;
    EXPECT_EQ(r.seen[0].name.text(), c.name);
    EXPECT_EQ(r.seen[0].object, c.classSender ? ViewUpdater::classObject() : nullptr) << c.name;
    EXPECT_TRUE(r.seen[0].userInfo.empty()) << c.name;
  }
}

// The rows that left and came travel with the refresh; a refresh held while several changes are
// made goes out plain, since the views then may not show the list the rows were counted in.
TEST(ViewUpdaterTest, ARowChangeTravelsWithTheRefreshUnlessHeld) {
  Recorder r;
  ViewUpdater::updateBookmarks({1, 4}, {0, 2, 9});
  ASSERT_EQ(r.seen.size(), 1u);
  auto change = ViewUpdater::rowChange(r.seen[0]);
  ASSERT_TRUE(change);
  EXPECT_EQ(change->removed, (std::vector<std::int64_t>{1, 4}));
  EXPECT_EQ(change->inserted, (std::vector<std::int64_t>{0, 2, 9}));
  ViewUpdater::updateBookmarks();
  ASSERT_GE(r.seen.size(), 2u);
  EXPECT_FALSE(ViewUpdater::rowChange(r.seen.at(1)));
  r.seen.clear();
  {
    ViewUpdater::Coalescing once;
    ViewUpdater::updateBookmarks({0}, {});
    ViewUpdater::updateBookmarks({}, {3});
    EXPECT_TRUE(r.seen.empty());
  }
  ASSERT_EQ(r.seen.size(), 1u);
  EXPECT_EQ(r.seen[0].name.text(), "BRWUpdateBookmarksViewNotification");
  EXPECT_FALSE(ViewUpdater::rowChange(r.seen[0]));
}

TEST(ViewUpdaterTest, OverlayMessageCarriesSizeAndSecondsAsDoubles) {
  Recorder r;
  ViewUpdater::showMessage("Imported 3 bookmarks");
  ViewUpdater::showMessage("wide", 500.0, 90.5);
  ViewUpdater::showMessage("long", 1.0, 2.0, 3);
  ASSERT_EQ(r.seen.size(), 3u);
  for (const auto& n : r.seen) {
    EXPECT_EQ(n.name.text(), "ShowOverlayWithMessage");
    EXPECT_EQ(n.object, ViewUpdater::classObject());
  }
  const auto& first = r.seen[0].userInfo;
  EXPECT_EQ(first.at("message").string(), "Imported 3 bookmarks");
  EXPECT_TRUE(first.at("width").isReal());
  EXPECT_DOUBLE_EQ(first.at("width").doubleValue(), 400.0);
  EXPECT_DOUBLE_EQ(first.at("height").doubleValue(), 130.0);
  EXPECT_TRUE(first.at("seconds").isReal());
  EXPECT_DOUBLE_EQ(first.at("seconds").doubleValue(), 2.0);
  EXPECT_DOUBLE_EQ(r.seen[1].userInfo.at("height").doubleValue(), 90.5);
  EXPECT_DOUBLE_EQ(r.seen[1].userInfo.at("seconds").doubleValue(), 2.0);
  EXPECT_TRUE(r.seen[2].userInfo.at("seconds").isReal());
  EXPECT_DOUBLE_EQ(r.seen[2].userInfo.at("seconds").doubleValue(), 3.0);
}

TEST(ViewUpdaterTest, OneSourceListPostReachesEveryObserverSynchronously) {
  int reached = 0;
  int tokens[5];
  auto& center = fnd::NotificationCenter::defaultCenter();
  for (int& t : tokens) center.addObserver(&t, [&](const fnd::Notification&) { ++reached; }, BRWUpdateFoldersViewNotification);
  ViewUpdater::updateSourceLists();
  EXPECT_EQ(reached, 5);
  for (int& t : tokens) center.removeObserver(&t);
  // Nobody listening: nothing happens, nothing fails.
  ViewUpdater::updateSourceLists();
  EXPECT_EQ(reached, 5);
}

}  // namespace
}  // namespace kesto
