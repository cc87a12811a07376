#pragma once

#include "Model/Bookmark.h"
#include "Model/DataManager.h"
#include "Model/Folder.h"
#include "Model/ModelNotifications.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/NotificationCenter.h"

#include "Harness/TestSupport.h"
#include "TestAlertResponder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kesto::test {

// A library in the test's own store, with the alert responder installed.
class SyncLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
    alerts = TestAlertResponder::install();
  }
  void TearDown() override { TestAlertResponder::uninstall(); }

  static std::string dataFile(const std::string& relative) { return std::string(KESTO_TEST_DATA_DIR) + "/" + relative; }

  static Folder::Ref folder(const std::string& id, const std::string& name, const std::string& parent = Folder::kRootID) {
    auto f = Folder::folderWithFolderID(id);
    f->setName(name);
    f->setParentFolderID(parent);
    return f;
  }

  static Bookmark::Ref bookmark(const std::string& url, const std::string& title, const Folder::Ref& f) {
    auto b = Bookmark::newBookmark();
    b->setUrl(url);
    b->setTitle(title);
    b->setFolder(f);
    b->setVersion(1);
    return b;
  }

  static void save() { ASSERT_TRUE(WrenEntity::saveContext()); }

  static std::vector<Folder::Ref> childrenOf(const std::string& parentID) {
    std::vector<Folder::Ref> out;
    for (const auto& f : Folder::fetchEntitiesWhereProperty("parentFolderID", fnd::Value(parentID)).value_or(Folder::List{}))
      out.push_back(f);
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) { return a->orderIndex() < b->orderIndex(); });
    return out;
  }

  static std::vector<std::string> titlesIn(const Folder::Ref& f) {
    std::vector<std::string> out;
    auto all = Bookmark::fetchEntities().value_or(Bookmark::List{});
    for (const auto& b : all)
      if (b->folder() == f) out.push_back(b->title().value_or(""));
    return out;
  }

  // Wakes `dm` as a start does and waits until it has read the library.
  static void loadAwake(DataManager& dm) {
    bool loaded = false;
    fnd::NotificationCenter::defaultCenter().addObserver(&loaded, [&](const fnd::Notification&) { loaded = true; },
                                                         UpdateFoldersNotification);
    dm.awakeFromNib();
    ASSERT_TRUE(runUntil([&] { return loaded; }, 10));
    fnd::NotificationCenter::defaultCenter().removeObserver(&loaded);
  }

  std::shared_ptr<TestAlertResponder> alerts;
};

}  // namespace kesto::test
