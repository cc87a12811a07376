// Three machines of one user syncing through one synced folder. A works on for a generation of
// syncs, weeks long, while B and C are offline with edits of their own; then they come back.
#include "SyncConvergence.h"

#include "Harness/Found.h"
#include "Harness/TestSupport.h"
#include "TestAlertResponder.h"

#include "Synchronize/ICloudDataSource.h"
#include "Platform/System/SyncedFolder.h"

#include <gtest/gtest.h>

#include <optional>

namespace kesto::test {
namespace {

constexpr double kDay = 24 * 3600;

class ThreeMachinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alerts = TestAlertResponder::install();
    fnd::setClock([this] { return fnd::Date::withTimeIntervalSince1970(now.load()); });
    auto& defaults = fnd::UserDefaults::standard();
    defaults.setString(makeTempDir("synced"), sys::SyncedFolder::kDefaultsKey);
    defaults.setString(ICloudDataSource::kMethod, Synchronizer::kCurrentSyncMethodKey);
    engine = std::make_unique<Synchronizer>();
    engine->setTimeouts(30, 30);
    fnd::NotificationCenter::defaultCenter().addObserver(
        this, [this](const fnd::Notification& n) {
          ended = true;
          succeeded = n.userInfo.at("success").boolValue();
        },
        Synchronizer::kSyncEndedNotification);
  }
  void TearDown() override {
    fnd::NotificationCenter::defaultCenter().removeObserver(this);
    engine.reset();
    libraries.close();
    fnd::setClock({});
    TestAlertResponder::uninstall();
  }

  // Makes `name` the machine at work; a moment passes.
  void on(const std::string& name) {
    libraries.use(name);
    now.store(now.load() + 60);
  }
  bool sync(const std::string& name) {
    on(name);
    ended = false;
    engine->syncFromButton();
    return runUntil([this] { return ended; }, 30) && succeeded;
  }
  static void save() { ASSERT_TRUE(WrenEntity::saveContext()); }

  static Folder::Ref folder(const std::string& id, const std::string& parent) {
    auto f = Folder::newFolderWithFolderID(id);
    f->setName("folder " + id);
    f->setParentFolderID(parent);
    f->setVersion(1);
    return f;
  }
  static Bookmark::Ref bookmark(const std::string& id, const Folder::Ref& in) {
    auto b = Bookmark::newBookmark();
    b->setUniqueID(id);
    b->setUrl("http://" + id + ".example/");
    b->setTitle("title " + id);
    b->setFolder(in);
    b->setTrashed(0);
    b->setAddedDate(fnd::Date::now());
    userEdits::touch(*b);
    return b;
  }
  static Found<Bookmark::Ref> find(const std::string& id) {
    return {Bookmark::fetchEntityWhereProperty("uniqueID", fnd::Value(id)), "the bookmark " + id};
  }
  static Found<Folder::Ref> findFolder(const std::string& id) {
    return {Folder::fetchEntityWhereProperty("folderID", fnd::Value(id)), "the folder " + id};
  }
  static void retitle(const std::string& id, const std::string& title) {
    auto b = find(id);
    ASSERT_TRUE(b) << id;
    b->setTitle(title);
    userEdits::touch(*b);
  }

  // Every machine syncs twice in turn; answers each one's records, which must be equal (none
  // when a sync failed).
  std::optional<std::map<std::string, std::map<std::string, std::string>>> syncTwiceAndCompare() {
    for (int pass = 0; pass < 2; ++pass)
      for (const char* name : {"A", "B", "C"})
        if (!sync(name)) {
          ADD_FAILURE() << "the sync of " << name << " failed, pass " << pass;
          return std::nullopt;
        }
    std::map<std::string, std::map<std::string, std::string>> held;
    for (const char* name : {"A", "B", "C"}) {
      on(name);
      held[name] = userEdits::records();
    }
    EXPECT_EQ(held["B"], held["A"]);
    EXPECT_EQ(held["C"], held["A"]);
    return held;
  }

  std::atomic<double> now{1700000000.0};
  std::shared_ptr<TestAlertResponder> alerts;
  SyncLibraries libraries;
  std::unique_ptr<Synchronizer> engine;
  bool ended = false, succeeded = false;
};

TEST_F(ThreeMachinesTest, TwoMachinesOfflineForAGenerationComeBackEqualWithNoDeletionResurrected) {
  // Day 0: A's library reaches B and C.
  on("A");
  auto fa = folder("FA", Folder::kRootID);
  auto fb = folder("FB", Folder::kRootID);
  auto fb1 = folder("FB1", "FB");
  bookmark("A1", fa);
  bookmark("A2", fa);
  bookmark("A3", fb);
  bookmark("A4", fb);
  bookmark("A5", fb1);
  bookmark("A6", Folder::inboxFolder());
  save();
  for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(sync(name)) << name;
  on("C");
  const auto seeded = userEdits::records();
  on("B");
  ASSERT_EQ(userEdits::records(), seeded);

  // B and C go offline, each with edits of its own.
  on("B");
  retitle("A4", "B's A4");
  bookmark("B1", findFolder("FB"));
  retitle("A1", "B's A1");                       // A edits it too, a day later
  userEdits::deleteBookmark(*find("A6"));        // nobody else touches it
  save();
  on("C");
  bookmark("C1", findFolder("FB1"));             // into a folder A deletes meanwhile
  userEdits::deleteBookmark(*find("A3"));        // A edits it after: the edit keeps it
  save();

  // A generation on A: four syncs over four weeks, each rewriting the folder's file.
  now.store(now.load() + kDay);
  on("A");
  retitle("A1", "A's A1");
  userEdits::deleteBookmark(*find("A2"));
  const auto goneFolders = userEdits::deleteFolder(findFolder("FB1"));
  save();
  ASSERT_TRUE(sync("A"));
  now.store(now.load() + 7 * kDay);
  on("A");
  retitle("A3", "A's A3");
  bookmark("A7", findFolder("FA"));
  save();
  ASSERT_TRUE(sync("A"));
  now.store(now.load() + 7 * kDay);
  on("A");
  userEdits::deleteBookmark(*find("A7"));  // made and deleted while the others were away
  save();
  ASSERT_TRUE(sync("A"));
  now.store(now.load() + 14 * kDay);
  on("A");
  auto renamed = findFolder("FA");
  renamed->setName("A's folder");
  renamed->setVersion(renamed->version() + 1);
  save();
  ASSERT_TRUE(sync("A"));
  // Still within their lifetime, A's tombstones go out with every file.
  EXPECT_EQ(SyncTombstones::tombstones().size(), 2u + goneFolders.size());

  // B and C come back, then every machine syncs twice in turn.
  now.store(now.load() + kDay);
  for (const char* name : {"B", "C"}) ASSERT_TRUE(sync(name)) << name;
  auto synced = syncTwiceAndCompare();
  ASSERT_TRUE(synced);
  auto& held = *synced;
  const auto& a = held["A"];
  // Deleted for good, on every side and whoever was away: nothing comes back.
  for (const char* gone : {"bookmark A2", "bookmark A6", "bookmark A7"}) EXPECT_FALSE(a.count(gone)) << gone;
  for (const auto& id : goneFolders) EXPECT_FALSE(a.count("folder " + id)) << id;
  // What was added or edited after a deletion stays: C's bookmark (trashed into the Inbox with
  // its folder) and A's edit of the bookmark C deleted at a lower version.
  ASSERT_TRUE(a.count("bookmark C1"));
  EXPECT_NE(a.at("bookmark C1").find("folder=_inbox trashed=1"), std::string::npos) << a.at("bookmark C1");
  ASSERT_TRUE(a.count("bookmark A3"));
  EXPECT_NE(a.at("bookmark A3").find("title=A's A3"), std::string::npos);
  ASSERT_TRUE(a.count("bookmark B1"));
  EXPECT_NE(a.at("bookmark A4").find("title=B's A4"), std::string::npos);
  EXPECT_NE(a.at("folder FA").find("name=A's folder"), std::string::npos);
  // Both edited A1 at the same version: every machine took the later edit, A's.
  EXPECT_NE(a.at("bookmark A1").find("title=A's A1"), std::string::npos) << a.at("bookmark A1");
  EXPECT_TRUE(alerts->shown.empty());
}

// A moves folder X into P and deletes P, so X's tombstone carries the moved version; B, not yet
// told, moves or renames X at that same version. Whichever syncs first, X stays deleted everywhere
// and its bookmarks are kept, trashed.
class DeletedFolderTest : public ThreeMachinesTest, public ::testing::WithParamInterface<std::tuple<bool, bool>> {};

TEST_P(DeletedFolderTest, AFolderMovedIntoADeletedOneStaysDeletedWhatAPeerDidMeanwhile) {
  const auto [bFirst, bRenames] = GetParam();
  on("A");
  folder("P", Folder::kRootID);
  folder("Q", Folder::kRootID);
  auto x = folder("X", "Q");
  folder("X1", "X");
  bookmark("in-x", x);
  save();
  for (const char* name : {"A", "B", "C"}) ASSERT_TRUE(sync(name)) << name;

  on("A");
  x = findFolder("X");
  x->setParentFolderID("P");
  x->setVersion(2);
  save();
  const auto gone = userEdits::deleteFolder(findFolder("P"));
  save();
  on("B");
  x = findFolder("X");
  if (bRenames) x->setName("B's X");
  else x->setParentFolderID(Folder::kRootID);
  x->setVersion(2);
  save();

  for (const char* name : bFirst ? std::vector<const char*>{"B", "A", "C"} : std::vector<const char*>{"A", "B", "C"})
    ASSERT_TRUE(sync(name)) << name;
  auto synced = syncTwiceAndCompare();
  ASSERT_TRUE(synced);
  auto& held = *synced;
  for (const auto& [name, records] : held) {
    for (const char* id : {"P", "X", "X1"}) EXPECT_FALSE(records.count(std::string("folder ") + id)) << name << " " << id;
    EXPECT_TRUE(records.count("folder Q")) << name;
    ASSERT_TRUE(records.count("bookmark in-x")) << name;
    EXPECT_NE(records.at("bookmark in-x").find("trashed=1"), std::string::npos) << records.at("bookmark in-x");
  }
  EXPECT_EQ(gone.size(), 3u);
  EXPECT_TRUE(alerts->shown.empty());
}

INSTANTIATE_TEST_SUITE_P(Orders, DeletedFolderTest, ::testing::Combine(::testing::Bool(), ::testing::Bool()));

}  // namespace
}  // namespace kesto::test
