#pragma once

#include "Model/Bookmark.h"
#include "Model/DateAdditions.h"
#include "Model/DataManager.h"
#include "Model/DataModel.h"
#include "Model/Folder.h"
#include "Model/Preferences.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"

#include "Harness/Found.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Store/Context.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// A library in the test's own store, and a DataManager over it with preferences the test sets.
class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
    prefs = std::make_shared<PreferenceValues>();
    registerPreferences(prefs);
  }
  void TearDown() override {
    registerPreferences(nullptr);
    fnd::setClock({});
    fnd::TimeZone::setLocal("");
  }

  // Puts the test in Paris with the clock standing at `date` ("2021-06-16 12:00:00 +0200") until
  // the test moves `now`.
  void stopClockInParisAt(const char* date) {
    fnd::TimeZone::setLocal("Europe/Paris");
    now = *brightwren::dateFromString(date);
    fnd::setClock([this] { return now; });
  }

  Folder::Ref folder(const std::string& id, const std::string& name, const std::string& parent = Folder::kRootID) {
    auto f = Folder::folderWithFolderID(id);
    f->setName(name);
    f->setParentFolderID(parent);
    return f;
  }

  // A saved bookmark with the given URL and title in `f` (the Inbox when null).
  Bookmark::Ref bookmark(const std::string& url, const std::string& title, const Folder::Ref& f = nullptr) {
    auto b = Bookmark::addBookmarkWithURL(url, f);
    b->setTitle(title);
    return b;
  }

  void save() { ASSERT_TRUE(WrenEntity::saveContext()); }

  // Gives `dm` the test's preferences, wakes it as the window does and waits for the whole
  // library to load.
  void loadAwake(DataManager& dm) {
    dm.setPreferences(prefs);
    load(dm, true);
  }

  // Loads the whole library and waits for the load to finish.
  void load(DataManager& dm, bool awake = false) {
    bool done = false;
    fnd::NotificationCenter::defaultCenter().addObserver(&done, [&](const fnd::Notification&) { done = true; },
                                                         UpdateFoldersNotification);
    if (awake)
      dm.awakeFromNib();
    else
      dm.fetchAllBookmarksFromCoreData();
    bool finished = runUntil([&] { return done; }, 10);
    fnd::NotificationCenter::defaultCenter().removeObserver(&done);
    ASSERT_TRUE(finished);
  }

  static std::vector<std::string> titles(const DataManager::BookmarkList& list) {
    std::vector<std::string> out;
    for (const auto& b : list) out.push_back(b->title().value_or("?"));
    return out;
  }
  static std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
  }

  std::shared_ptr<PreferenceValues> prefs;
  fnd::Date now;
};

}  // namespace kesto::test
