#pragma once

#include "Synchronize/SyncFile.h"

#include "Harness/Found.h"
#include "Harness/TestSupport.h"
#include "Model/Bookmark.h"
#include "Model/Folder.h"
#include "Model/Service.h"
#include "Model/Tag.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Context.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kesto::test {

// As a full disk would: the store takes no new bookmark from here on.
inline void refuseNewBookmarks() {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(WrenDataManager::sharedInstance().persistentStorePath().c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db,
                         "CREATE TRIGGER refuse BEFORE INSERT ON ZBOOKMARK BEGIN SELECT RAISE(ABORT, 'disk full'); END;",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
}

// A library in the test's store with helpers that make records with fixed identifiers.
class SyncRecordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    main = WrenDataManager::sharedInstance().managedObjectContext();
    ASSERT_TRUE(main);
  }
  void TearDown() override { fnd::setClock({}); }

  static fnd::Date at(double since1970) { return fnd::Date::withTimeIntervalSince1970(since1970); }
  static void fixClock(double since1970) {
    fnd::setClock([since1970] { return fnd::Date::withTimeIntervalSince1970(since1970); });
  }

  Folder::Ref folder(const std::string& id, const std::string& name, const std::string& parent = Folder::kRootID,
                     std::int64_t version = 1) {
    auto f = Folder::folderWithFolderID(id);
    f->setName(name);
    f->setParentFolderID(parent);
    f->setVersion(version);
    return f;
  }

  Bookmark::Ref bookmark(const std::string& id, const std::string& url, const std::string& title,
                         const Folder::Ref& in, std::int64_t version = 1) {
    auto b = Bookmark::newBookmark();
    b->setUniqueID(id);
    b->setUrl(url);
    b->setTitle(title);
    b->setFolder(in);
    b->setVersion(version);
    b->setAddedDate(at(1425751499));
    b->setUpdatedDate(at(1425751499));
    b->setTrashed(0);
    return b;
  }

  Found<Bookmark::Ref> find(const std::string& id) {
    return {Bookmark::fetchEntityWhereProperty("uniqueID", id), "the bookmark " + id};
  }

  void save() { ASSERT_TRUE(main->save()); }

  // Runs the merge the way a sync does, on a child context, and saves the main context.
  template <typename F>
  void onChild(F&& block) {
    auto child = WrenDataManager::sharedInstance().secondaryObjectContext();
    ASSERT_TRUE(child);
    child->performAndWait([&] { block(child); });
    ASSERT_TRUE(main->save());
  }

  // xmllint --noout over the text.
  static bool wellFormed(const std::string& xml) {
    auto path = makeTempDir("xml") + "/doc.xml";
    writeFile(path, xml);
    return runProgram({"xmllint", "--noout", "--nonet", path}).status == 0;
  }

  std::shared_ptr<store::Context> main;
};

}  // namespace kesto::test
