#include "SyncTestSupport.h"

#include "Synchronize/SyncMerge.h"

#include "Model/Config.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kesto::test {
namespace {

// Builds incoming documents record by record.
struct Doc {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kesto-sync-file>\n<kesto-id>kesto-REMOTE</kesto-id>\n";
  std::string bookmarks, folders, deletions;
  std::string password;
  std::string tag = "t1";

  Doc& bookmark(const std::string& id, const std::string& folder, std::int64_t version, const std::string& title,
                const std::string& updated = "2015-03-07 18:04:59 +0000", const std::string& extra = "") {
    bookmarks += "<bookmark><folders>" + (folder.empty() ? "" : "<folder-id>" + folder + "</folder-id>") +
                 "</folders><services></services><id><![CDATA[" + id + "]]></id><version>" + std::to_string(version) +
                 "</version><title><![CDATA[" + title + "]]></title><url><![CDATA[http://" + id +
                 ".example/]]></url><notes></notes><rating>0</rating><trashed>0</trashed><tags><tag><name>" + tag +
                 "</name></tag></tags><added-date>2015-03-07 18:04:59 +0000</added-date><updated-date>" +
                 updated + "</updated-date><times-visited>0</times-visited><last-visited></last-visited>" + extra +
                 "</bookmark>\n";
    return *this;
  }
  Doc& folder(const std::string& id, const std::string& parent, std::int64_t version, const std::string& name = "") {
    folders += "<folder><folderID>" + id + "</folderID><parentFolderID>" + parent + "</parentFolderID><name>" +
               (name.empty() ? id : name) + "</name><orderIndex>0</orderIndex><isExpanded>0</isExpanded><blocked>0"
               "</blocked><color>grey</color><version>" + std::to_string(version) + "</version></folder>\n";
    return *this;
  }
  Doc& tombstone(const std::string& id, std::int64_t version, const std::string& type) {
    deletions += "<deleted-object><object-id>" + id + "</object-id><object-type>" + type +
                 "</object-type><object-version>" + std::to_string(version) + "</object-version></deleted-object>\n";
    return *this;
  }
  SyncDocument parse(bool isSync = true) const {
    auto xml = text + "<kesto-password>" + password + "</kesto-password>\n<bookmarks>\n" + bookmarks +
               "</bookmarks>\n<folders>\n" + folders + "</folders>\n<deletions>\n" + deletions +
               "</deletions>\n</kesto-sync-file>\n";
    auto doc = SyncFile::read(xml, isSync);
    EXPECT_TRUE(doc) << xml;
    return doc.value_or(SyncDocument{});
  }
};

class SyncMergeTest : public SyncRecordsTest {
 protected:
  SyncMerge::Result merge(const SyncDocument& doc, std::vector<SyncTombstone> local = {}, bool isSync = true) {
    SyncMerge::Result result;
    SyncMerge::Options options;
    options.isSync = isSync;
    options.localTombstones = std::move(local);
    if (!isSync) options.cycleParent = Folder::kImportedID;
    onChild([&](const ContextRef& child) { result = SyncMerge::processImport(doc, child, options); });
    return result;
  }
  std::string titleOf(const std::string& id) {
    auto b = find(id);
    return b ? b->title().value_or("") : "<gone>";
  }
};

TEST_F(SyncMergeTest, HigherVersionsWinAndLowerOnesChangeNothing) {
  auto f = folder("F1", "One");
  bookmark("B1", "http://B1.example/", "local", f, 5);
  bookmark("B2", "http://B2.example/", "local", f, 5);
  auto same = bookmark("B3", "http://B3.example/", "local", f, 5);
  auto tag = Tag::initEntity();
  tag->setName("t1");
  same->addTag(tag);
  save();
  Doc d;
  d.bookmark("B1", "F1", 6, "remote").bookmark("B2", "F1", 4, "remote").bookmark("B3", "F1", 5, "local");
  auto r = merge(d.parse());
  EXPECT_EQ(titleOf("B1"), "remote");
  EXPECT_EQ(find("B1")->version(), 6);
  EXPECT_EQ(find("B1")->tagsAsString(), "t1");
  EXPECT_EQ(titleOf("B2"), "local");
  EXPECT_EQ(r.bookmarksUpdated, 1);
  EXPECT_EQ(r.bookmarksCreated, 0);
}

TEST_F(SyncMergeTest, EqualVersionsWithDifferentContentConverge) {
  auto f = folder("F1", "One");
  auto b = bookmark("B1", "http://B1.example/", "mine", f, 6);
  b->setUpdatedDate(at(1425751600));
  auto c = bookmark("B2", "http://B2.example/", "mine", f, 6);
  c->setUpdatedDate(at(1425751499));
  save();
  Doc d;
  // B1: ours is later, keep it. B2: same updated date; the larger content wins.
  d.bookmark("B1", "F1", 6, "theirs", "2015-03-07 18:04:59 +0000");
  d.bookmark("B2", "F1", 6, "theirs", "2015-03-07 18:04:59 +0000");
  merge(d.parse());
  EXPECT_EQ(titleOf("B1"), "mine");
  EXPECT_EQ(titleOf("B2"), "theirs");
  // The peer runs the same rule with the roles swapped and keeps "theirs": both converge.
  Doc mine;
  mine.bookmark("B2", "F1", 6, "mine", "2015-03-07 18:04:59 +0000");
  merge(mine.parse());
  EXPECT_EQ(titleOf("B2"), "theirs");
}

// Two libraries tag one bookmark within one second: the file carries whole seconds, so a local
// date with a fraction must not look later to its own library, and the winner must not depend
// on which library relays the record.
TEST_F(SyncMergeTest, TiesWithinOneSecondAreDecidedAlikeEverywhere) {
  auto f = folder("F1", "One");
  auto tagged = [&](const std::string& id, const std::string& url, const char* tagName, double updated) {
    auto b = bookmark(id, url, "same", f, 2);
    auto tag = Tag::fetchEntityWhereProperty("name", std::string(tagName));
    if (!tag) {
      tag = Tag::initEntity();
      tag->setName(tagName);
    }
    b->addTag(tag);
    b->setUpdatedDate(at(updated));
  };
  // This library tagged "red" late in the second and receives "blue"; the other library tagged
  // "blue" late in the second and receives "red". Both keep "red".
  tagged("HERE", "http://HERE.example/", "red", 1425751499.9);
  tagged("THERE", "http://THERE.example/", "blue", 1425751499.9);
  // The same record as the file carries it (the address read back trimmed): nothing to take.
  tagged("SAME", "http://SAME.example/ ", "red", 1425751499.9);
  save();
  Doc d;
  d.tag = "blue";
  d.bookmark("HERE", "F1", 2, "same");
  d.tag = "red";
  d.bookmark("THERE", "F1", 2, "same").bookmark("SAME", "F1", 2, "same");
  auto r = merge(d.parse());
  EXPECT_EQ(find("HERE")->tagsAsString(), "red");
  EXPECT_EQ(find("THERE")->tagsAsString(), "red");
  EXPECT_EQ(r.bookmarksUpdated, 1);
  EXPECT_EQ(find("SAME")->url(), "http://SAME.example/ ");
}

// A folder deletion changes a bookmark (to the trashed Inbox) without a new version or date, so
// libraries can hold one content under two dates. Each takes the later date of its own content,
// or a third record dated between them would win on one library and lose on the other for ever.
TEST_F(SyncMergeTest, OneContentUnderTwoDatesSettlesOnTheLaterDate) {
  folder("F1", "One");
  save();
  // Held here as the file carries it, dated 18:04:50.
  Doc first;
  first.bookmark("X", "F1", 5, "same", "2015-03-07 18:04:50 +0000");
  EXPECT_EQ(merge(first.parse()).bookmarksCreated, 1);
  // The same content dated later: taken, date and all.
  Doc later;
  later.bookmark("X", "F1", 5, "same", "2015-03-07 18:04:59 +0000");
  EXPECT_EQ(merge(later.parse()).bookmarksUpdated, 1);
  ASSERT_TRUE(find("X")->updatedDate());
  EXPECT_EQ(find("X")->updatedDate()->timeIntervalSince1970(), 1425751499);
  // Another content at that date loses to the larger content here, as it does where the later
  // date came from.
  Doc other;
  other.tag = "blue";
  other.bookmark("X", "F1", 5, "same", "2015-03-07 18:04:59 +0000");
  EXPECT_EQ(merge(other.parse()).bookmarksUpdated, 0);
  EXPECT_EQ(find("X")->tagsAsString(), "t1");
  // The same content dated earlier changes nothing.
  Doc earlier;
  earlier.bookmark("X", "F1", 5, "same", "2015-03-07 18:04:50 +0000");
  EXPECT_EQ(merge(earlier.parse()).bookmarksUpdated, 0);
  EXPECT_EQ(find("X")->updatedDate()->timeIntervalSince1970(), 1425751499);
}

TEST_F(SyncMergeTest, FoldersRenamedOnBothSidesConverge) {
  folder("F1", "Mine", Folder::kRootID, 3);
  folder("F2", "Same", Folder::kRootID, 3);
  folder("F3", "Older", Folder::kRootID, 3);
  save();
  Doc d;
  d.folder("F1", "root", 3, "Theirs").folder("F2", "root", 3, "Same").folder("F3", "root", 2, "Stale");
  merge(d.parse());
  EXPECT_EQ(Folder::existingFolderWithFolderID("F1")->name(), "Theirs");  // the larger content
  EXPECT_EQ(Folder::existingFolderWithFolderID("F2")->name(), "Same");
  EXPECT_EQ(Folder::existingFolderWithFolderID("F3")->name(), "Older");
  // Seen from the other library, its own name stays: both end with "Theirs".
  Doc mine;
  mine.folder("F1", "root", 3, "Mine");
  merge(mine.parse());
  EXPECT_EQ(Folder::existingFolderWithFolderID("F1")->name(), "Theirs");
}

TEST_F(SyncMergeTest, UnknownRecordsAreCreatedWithTheirIdentifierEvenAtVersionZero) {
  save();
  Doc d;
  d.bookmark("NEW-0", "F-NEW", 0, "zero").bookmark("NEW-1", "", 3, "inbox");
  auto r = merge(d.parse());
  EXPECT_EQ(r.bookmarksCreated, 2);
  ASSERT_TRUE(find("NEW-0"));
  EXPECT_EQ(titleOf("NEW-0"), "zero");
  ASSERT_TRUE(find("NEW-0")->folder());
  EXPECT_EQ(find("NEW-0")->folder()->folderID(), "F-NEW");
  EXPECT_EQ(find("NEW-0")->folder()->name(), "F-NEW");
  EXPECT_EQ(find("NEW-1")->folder()->folderID(), "_inbox");
  // A second merge of the same document matches by identifier: no duplicates.
  merge(d.parse());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 2);
}

TEST_F(SyncMergeTest, BookmarkTombstonesAreVersionChecked) {
  auto f = folder("F1", "One");
  bookmark("B3", "http://B3.example/", "three", f, 3);
  bookmark("B4", "http://B4.example/", "four", f, 4);
  save();
  Doc d;
  d.tombstone("B3", 3, "b").tombstone("B4", 3, "b").tombstone("NOPE", 9, "b");
  auto r = merge(d.parse());
  EXPECT_FALSE(find("B3"));
  EXPECT_TRUE(find("B4"));
  EXPECT_EQ(r.bookmarksDeleted, 1);
  EXPECT_FALSE(find("NOPE"));  // an unknown tombstone creates nothing
}

TEST_F(SyncMergeTest, LocalTombstoneDeletesWhatTheDocumentBringsBack) {
  save();
  Doc d;
  d.bookmark("B9", "F1", 2, "back again").bookmark("B10", "F1", 5, "edited elsewhere");
  merge(d.parse(), {{"B9", 2, "b"}, {"B10", 4, "b"}});
  EXPECT_FALSE(find("B9"));
  EXPECT_TRUE(find("B10"));  // edited to a higher version after the deletion: kept
}

// A folder tombstone deletes whatever the versions: a folder renamed here after the deletion
// elsewhere goes too, with its subfolders, and the bookmarks inside go to the Inbox, trashed.
TEST_F(SyncMergeTest, FolderTombstonesDeleteWhateverTheVersionAndKeepTheBookmarksInTheTrash) {
  auto top = folder("F1", "Top", Folder::kRootID, 2);
  auto sub = folder("F2", "Sub", "F1", 7);
  auto renamed = folder("F3", "Newer", Folder::kRootID, 9);
  auto kept = folder("F4", "Kept", Folder::kRootID, 1);
  bookmark("B1", "http://B1.example/", "one", top, 1);
  bookmark("B2", "http://B2.example/", "two", sub, 4);
  bookmark("B3", "http://B3.example/", "three", renamed, 1);
  bookmark("B4", "http://B4.example/", "four", kept, 1);
  save();
  Doc d;
  d.tombstone("F1", 2, "f").tombstone("F3", 8, "f");
  auto r = merge(d.parse());
  EXPECT_EQ(r.foldersDeleted, 3);
  for (const char* id : {"F1", "F2", "F3"}) EXPECT_FALSE(Folder::existingFolderWithFolderID(id)) << id;
  EXPECT_TRUE(Folder::existingFolderWithFolderID("F4"));
  for (const char* id : {"B1", "B2", "B3"}) {
    auto b = find(id);
    ASSERT_TRUE(b) << id;
    ASSERT_TRUE(b->folder());
    EXPECT_EQ(b->folder()->folderID(), "_inbox");
    EXPECT_EQ(b->trashed(), 1);
  }
  EXPECT_EQ(find("B4")->trashed(), 0);
  // Each deleted folder is reported with the version it had here, to travel on.
  std::vector<std::string> stones;
  for (const auto& t : r.folderTombstones) stones.push_back(t.objectID + "|" + std::to_string(t.version) + "|" + t.type);
  std::sort(stones.begin(), stones.end());
  EXPECT_EQ(stones, (std::vector<std::string>{"F1|2|f", "F2|7|f", "F3|9|f"}));
}

// The peer's deletion was counted in its own versions: moving the bookmarks of a deleted folder
// to the trash here keeps their versions and dates, so an edit made elsewhere at the same version
// is not outranked by a bump dated at the moment of the merge.
TEST_F(SyncMergeTest, FolderTombstonesKeepTheVersionsOfTheBookmarksInside) {
  fixClock(1700000000);
  auto f = folder("F1", "Doomed");
  auto b = bookmark("B1", "http://B1.example/", "old title", f, 3);
  b->setUpdatedDate(at(1425751499));
  save();
  Doc d;
  d.tombstone("F1", 1, "f");
  merge(d.parse());
  ASSERT_TRUE(find("B1"));
  EXPECT_EQ(find("B1")->version(), 3);
  EXPECT_EQ(find("B1")->updatedDate(), at(1425751499));
  EXPECT_EQ(find("B1")->trashed(), 1);
  // Another library retitled it at version 4 before it learnt of the deletion: the edit is taken,
  // and the folder it names stays deleted, so the bookmark stays in the trash of the Inbox.
  Doc edit;
  edit.bookmark("B1", "F1", 4, "edited elsewhere", "2015-03-07 18:05:30 +0000");
  merge(edit.parse(), {{"F1", 1, "f"}});
  EXPECT_EQ(titleOf("B1"), "edited elsewhere");
  EXPECT_FALSE(Folder::existingFolderWithFolderID("F1"));
  EXPECT_EQ(find("B1")->folder()->folderID(), "_inbox");
  EXPECT_EQ(find("B1")->trashed(), 1);
}

// A peer moved a folder below one that was deleted before it learnt of the deletion. Here the
// deleted folder is long gone; its tombstone still takes the folder that arrives below it.
TEST_F(SyncMergeTest, AFolderTombstoneTakesWhatArrivesBelowTheDeletedFolder) {
  save();
  Doc d;
  d.folder("MOVED", "GONE", 5, "Moved in").folder("DEEPER", "MOVED", 1, "Deeper");
  d.bookmark("B1", "DEEPER", 1, "inside");
  d.tombstone("GONE", 3, "f").tombstone("root", 9, "f").tombstone("home", 9, "f").tombstone("", 9, "f");
  d.folder("TOP", "root", 1, "Top level");
  auto r = merge(d.parse());
  EXPECT_FALSE(Folder::existingFolderWithFolderID("MOVED"));
  EXPECT_FALSE(Folder::existingFolderWithFolderID("DEEPER"));
  EXPECT_TRUE(Folder::existingFolderWithFolderID("TOP"));  // a tombstone naming the top level is ignored
  EXPECT_EQ(r.foldersDeleted, 2);
  EXPECT_EQ(r.folderTombstones.size(), 2u);
  ASSERT_TRUE(find("B1") && find("B1")->folder());
  EXPECT_EQ(find("B1")->folder()->folderID(), "_inbox");
  EXPECT_EQ(find("B1")->trashed(), 1);
}

TEST_F(SyncMergeTest, ParentCyclesFromPeersAreBroken) {
  folder("FA", "A", Folder::kRootID, 1);
  folder("FB", "B", "FA", 1);
  save();
  Doc d;
  d.folder("FA", "FB", 2).folder("FB", "FA", 2).folder("FS", "FS", 1, "Self");
  auto r = merge(d.parse());
  EXPECT_GE(r.cyclesBroken, 1);
  auto a = Folder::existingFolderWithFolderID("FA");
  auto b = Folder::existingFolderWithFolderID("FB");
  auto s = Folder::existingFolderWithFolderID("FS");
  ASSERT_TRUE(a && b && s);
  EXPECT_TRUE(a->parentFolderID() == "root" || b->parentFolderID() == "root");
  EXPECT_EQ(s->parentFolderID(), "root");
  EXPECT_LE(a->subFolders().size(), 1u);  // a walk ends
}

// Every folder's parent, by identifier.
std::unordered_map<std::string, std::string> parentsByID() {
  std::unordered_map<std::string, std::string> parent;
  for (auto& f : Folder::fetchEntities().value_or(Folder::List{})) parent[f->folderID()] = f->parentFolderID();
  return parent;
}

// Every folder's walk up reaches the top level (walks share what earlier walks proved).
bool everyFolderReachesTheTop() {
  auto parent = parentsByID();
  std::unordered_set<std::string> reaches;
  for (const auto& entry : parent) {
    std::vector<std::string> walked;
    std::unordered_set<std::string> onWalk;
    std::string at = entry.first;
    while (parent.count(at) && !reaches.count(at)) {
      if (!onWalk.insert(at).second) return false;
      walked.push_back(at);
      at = parent[at];
    }
    reaches.insert(walked.begin(), walked.end());
  }
  return true;
}

// A peer's file can hold tens of thousands of folders; merging them must not take minutes (how
// long it takes is BM_SyncMergeFolders' to tell).
TEST_F(SyncMergeTest, LargeFolderTreesMergeQuicklyAndEveryCycleIsCutOnce) {
  save();
  constexpr int kCount = 10000;
  Doc d;
  for (int i = 0; i < kCount; ++i) d.folder("flat" + std::to_string(i), "root", 1);
  // A chain whose last folder names the first as parent, a folder hanging off it, and a 2-cycle.
  for (int i = 0; i < kCount; ++i) d.folder("c" + std::to_string(i), "c" + std::to_string((i + 1) % kCount), 1);
  d.folder("tail", "c500", 1).folder("x", "y", 1).folder("y", "x", 1);
  d.bookmark("B1", "c9999", 1, "deep").bookmark("B2", "flat42", 1, "flat");
  const auto doc = d.parse();
  auto r = merge(doc);
  EXPECT_TRUE(r.saved);
  EXPECT_EQ(r.cyclesBroken, 2);
  auto parent = parentsByID();
  EXPECT_EQ(parent.size(), 2u * kCount + 3);
  EXPECT_EQ(parent["tail"], "c500");
  int cut = 0;
  for (int i = 0; i < kCount; ++i) cut += parent["c" + std::to_string(i)] == "root";
  EXPECT_EQ(cut, 1);
  EXPECT_EQ(find("B1")->folder()->folderID(), "c9999");
  EXPECT_TRUE(everyFolderReachesTheTop());
}

// A file that deletes thousands of folders, alongside thousands it adds, must not look each
// one up among every change made so far (BM_SyncMergeFolders times it).
TEST_F(SyncMergeTest, ManyFolderTombstonesMergeQuickly) {
  constexpr int kCount = 5000;
  for (int i = 0; i < kCount; ++i) {
    auto f = Folder::newFolderWithFolderID("old" + std::to_string(i));
    f->setParentFolderID(i % 10 == 0 ? std::string("root") : "old" + std::to_string(i - i % 10));
    f->setVersion(1);
  }
  bookmark("B1", "http://deep.example/", "in a deleted tree", Folder::existingFolderWithFolderID("old4327"));
  folder("kept", "Kept", Folder::kRootID, 9);
  save();
  Doc d;
  for (int i = 0; i < kCount; ++i) d.folder("new" + std::to_string(i), "root", 1);
  for (int i = 0; i < kCount; i += 10) d.tombstone("old" + std::to_string(i), 2, "f");  // each top takes its nine
  d.tombstone("kept", 2, "f");  // newer here, and deleted all the same
  const auto doc = d.parse();
  auto r = merge(doc);
  EXPECT_EQ(r.foldersDeleted, kCount + 1);
  auto parent = parentsByID();
  EXPECT_EQ(parent.count("old4327"), 0u);
  EXPECT_EQ(parent.count("kept"), 0u);
  EXPECT_EQ(parent.count("new4999"), 1u);
  ASSERT_TRUE(find("B1") && find("B1")->folder());
  EXPECT_EQ(find("B1")->folder()->folderID(), "_inbox");
  EXPECT_EQ(find("B1")->trashed(), 1);
}

// In an archive cycles are cut to the Imported folder; one through that folder itself must
// still end. The Imported folder keeps its place at the top whatever the file says, which ends
// that cycle before any cutting; the self-parented folder is the one cycle left to cut.
TEST_F(SyncMergeTest, ACycleThroughTheImportedFolderIsBroken) {
  save();
  Doc d;
  d.folder("_imported", "A", 1).folder("A", "_imported", 1).folder("B", "B", 1);
  auto r = merge(d.parse(false), {}, false);
  EXPECT_EQ(r.cyclesBroken, 1);
  EXPECT_EQ(Folder::existingFolderWithFolderID("_imported")->parentFolderID(), Folder::kRootID);
  EXPECT_TRUE(everyFolderReachesTheTop());
  EXPECT_EQ(Folder::existingFolderWithFolderID("B")->parentFolderID(), "_imported");
}

TEST_F(SyncMergeTest, SpecialAndEmptyFolderIdentifiersAreHarmless) {
  save();
  Doc d;
  d.folder("root", "root", 9, "Evil root").folder("", "root", 1, "Nameless").folder("home", "root", 1, "Home");
  d.bookmark("B1", "root", 1, "to root").bookmark("B2", "library", 1, "to library");
  d.tombstone("_inbox", 99, "f").tombstone("_imported", 99, "f").tombstone("", 1, "b");
  merge(d.parse());
  EXPECT_FALSE(Folder::existingFolderWithFolderID("root"));
  EXPECT_FALSE(Folder::existingFolderWithFolderID("home"));
  for (const char* id : {"B1", "B2"}) {
    ASSERT_TRUE(find(id)) << id;
    ASSERT_TRUE(find(id)->folder());
    EXPECT_EQ(find(id)->folder()->folderID(), "_inbox");  // and the Inbox survived its tombstone
  }
}

// Folder records from a peer cannot leave folders no list shows: a new folder is filled
// whatever its version, a record without a parent goes under Imported with a name, and the
// special folders keep their place whatever a file says.
TEST_F(SyncMergeTest, FolderRecordsNeverLeaveHiddenOrEmptyFolders) {
  auto inbox = Folder::inboxFolder();
  inbox->setName("Inbox");
  inbox->setParentFolderID(Folder::kRootID);
  save();
  Doc d;
  d.folder("F0", Folder::kRootID, 0, "Zero").folder("FM", "F-MISSING", 2, "Lost parent");
  d.folders += "<folder><folderID>FP</folderID><version>3</version></folder>\n";
  d.folders += "<folder><folderID>FN</folderID><parentFolderID></parentFolderID><name> </name><version>-4</version></folder>\n";
  // A peer moves the Inbox under a folder, renames the Imported folder, then deletes the folder.
  d.folder("F9", Folder::kRootID, 1, "Doomed").folder(Folder::kInboxID, "F9", 50, "Hijacked");
  d.folder(Folder::kImportedID, "F0", 50, "Mine now").tombstone("F9", 1, "f");
  d.bookmark("BI", Folder::kInboxID, 1, "in the inbox");
  merge(d.parse());

  auto zero = Folder::existingFolderWithFolderID("F0");
  ASSERT_TRUE(zero);
  EXPECT_EQ(zero->name(), "Zero");
  EXPECT_EQ(zero->parentFolderID(), Folder::kRootID);
  for (const char* id : {"FP", "FN", "FM"}) {
    auto f = Folder::existingFolderWithFolderID(id);
    ASSERT_TRUE(f) << id;
    EXPECT_EQ(f->parentFolderID(), Folder::kImportedID) << id;
    EXPECT_NE(f->name(), id);
    EXPECT_FALSE(f->name().empty());
  }
  EXPECT_EQ(Folder::existingFolderWithFolderID("FN")->name(), "Untitled");
  EXPECT_EQ(Folder::existingFolderWithFolderID("FM")->name(), "Lost parent");
  EXPECT_FALSE(Folder::existingFolderWithFolderID("F9"));
  for (auto [id, name] : {std::pair{Folder::kInboxID, "Inbox"}, std::pair{Folder::kImportedID, "Imported"}}) {
    auto f = Folder::existingFolderWithFolderID(id);
    ASSERT_TRUE(f) << id;
    EXPECT_EQ(f->parentFolderID(), Folder::kRootID) << id;
    EXPECT_EQ(f->name(), name);
  }
  ASSERT_TRUE(find("BI") && find("BI")->folder());
  EXPECT_EQ(find("BI")->folder()->folderID(), Folder::kInboxID);
}

TEST_F(SyncMergeTest, PasswordAndServices) {
  auto config = Config::initEntity();
  config->setKestoKey(Config::kPasswordKey);
  config->setKestoValue("b2xk");
  save();
  Doc empty;
  merge(empty.parse());
  EXPECT_EQ(Config::fetchEntityWhereProperty("kestoKey", std::string("password"))->kestoValue(), "b2xk");
  Doc d;
  d.password = "bmV3";
  merge(d.parse());
  EXPECT_EQ(Config::fetchEntityWhereProperty("kestoKey", std::string("password"))->kestoValue(), "bmV3");
}

TEST_F(SyncMergeTest, ArchiveImportsAddCopies) {
  save();
  Doc d;
  d.folder("S1", "_imported", 1, "Shared");
  d.bookmark("X1", "S1", 3, "shared", "2015-03-07 18:04:59 +0000",
             "<trashed>1</trashed><broken>0</broken><login>u</login><password>cA==</password><favorite>1</favorite>"
             "<color>red</color><blocked>1</blocked>");
  merge(d.parse(false), {}, false);
  merge(d.parse(false), {}, false);
  auto all = Bookmark::fetchEntities().value_or(Bookmark::List{});
  ASSERT_EQ(all.size(), 2u);
  EXPECT_NE(all[0]->uniqueIDValue(), all[1]->uniqueIDValue());
  for (const auto& b : all) {
    EXPECT_NE(b->uniqueIDValue(), "X1");
    EXPECT_EQ(b->title(), "shared");
    EXPECT_EQ(b->login(), "u");
    EXPECT_EQ(b->isFavorite(), 0);
    EXPECT_EQ(b->blocked(), 0);
  }
}

}  // namespace
}  // namespace kesto::test
