#pragma once

#include "App/AppDelegate.h"
#include "App/BookmarksController.h"
#include "App/MainInterface.h"
#include "App/WebContentUpdater.h"
#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/WrenDataManager.h"

#include "Harness/Found.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/UserNotifications.h"
#include "Synchronize/TestAlertResponder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace kesto::test {

// The whole main interface over the test's own store, with notifications recorded.
class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
    sink = std::make_shared<sys::RecordingNotificationSink>();
    sys::UserNotificationCenter::defaultCenter().setSink(sink);
    // Cells ask for thumbnails: a closed loopback port unless a test serves them.
    fnd::UserDefaults::standard().setString("http://127.0.0.1:9", Bookmark::kThumbnailHostDefaultsKey);
    // Pages are not fetched: the addresses tests add are not theirs to ask. The page-fetch tests
    // turn it on against their own loopback server.
    WebContentUpdater::setFetchingEnabled(false);
  }
  void TearDown() override {
    ui.reset();
    // Views and windows hand their widgets to the event loop for deletion; let it run once more
    // or they outlive the test and show up as leaks.
    spin(0.05);
    sys::UserNotificationCenter::defaultCenter().setSink(nullptr);
  }

  // Builds the interface and waits for the first load to fill the list with `expected` rows.
  void build(std::size_t expected) {
    bool loaded = false;
    fnd::NotificationCenter::defaultCenter().addObserver(&loaded, [&](const fnd::Notification&) { loaded = true; },
                                                         UpdateFoldersNotification);
    ui = MainInterface::build();
    ui->window().makeKeyAndOrderFront();
    ASSERT_TRUE(runUntil([&] { return loaded; }, 10));
    fnd::NotificationCenter::defaultCenter().removeObserver(&loaded);
    ASSERT_TRUE(runUntil([&] { return dm().bookmarks().size() == expected; }, 10)) << dm().bookmarks().size();
    // The sidebar shows its stored list on the loop's first turn and acts on its row 0.1 s later.
    spin(0.4);
  }

  // Runs what the event loop holds queued and what that queues in turn, `turns` deep: a
  // hand-over saves on the loop's next turn and the list and the other views catch up on the
  // two after.
  void drainTurns(int turns = 3) {
    for (int i = 0; i < turns; ++i) {
      auto done = std::make_shared<bool>(false);  // the turn may outlive a wait that gave up
      fnd::DispatchQueue::main().async([done] { *done = true; });
      ASSERT_TRUE(runUntil([&] { return *done; }));
    }
  }

  // A saved bookmark in `folder` (the Inbox when null).
  Bookmark::Ref add(const std::string& url, const std::string& title, const Folder::Ref& folder = nullptr) {
    auto b = Bookmark::addBookmarkWithURL(url, folder);
    b->setTitle(title);
    b->saveBookmark();
    return b;
  }

  // A saved folder named `name`, below the folder `parentID` when one is given.
  static Folder::Ref addFolder(const std::string& name, const std::string& parentID = {}) {
    auto f = Folder::initEntity();
    f->setName(name);
    if (!parentID.empty()) f->setParentFolderID(parentID);
    f->saveFolder();
    return f;
  }

  DataManager& dm() { return ui->dataManager(); }
  BookmarksController& controller() { return ui->bookmarksController(); }
  AppDelegate& app() { return ui->appDelegate(); }
  fnd::UserDefaults& defaults() { return fnd::UserDefaults::standard(); }

  std::shared_ptr<sys::RecordingNotificationSink> sink;
  std::unique_ptr<MainInterface> ui;
};

// The main interface with every alert answered by the test instead of shown.
class AppTestWithAlerts : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    alerts = TestAlertResponder::install();
  }
  void TearDown() override {
    TestAlertResponder::uninstall();
    AppTest::TearDown();
  }
  std::shared_ptr<TestAlertResponder> alerts;
};

}  // namespace kesto::test
