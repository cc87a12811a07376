#include "StoreTestModel.h"

#include "Harness/LocaleGuard.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/UndoManager.h"
#include "Platform/Store/TestAccess_p.h"
#include "Platform/Store/ValueTransformer.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <set>
#include <sys/wait.h>
#include <cerrno>
#include <unistd.h>

using namespace kesto;
using namespace kesto::store;
using namespace kesto::store::test;

namespace {

std::vector<std::string> column(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  std::vector<std::string> out;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) return out;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) == SQLITE_OK)
    while (sqlite3_step(st) == SQLITE_ROW)
      out.emplace_back(sqlite3_column_text(st, 0) ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) : "<null>");
  sqlite3_finalize(st);
  sqlite3_close(db);
  return out;
}

ManagedObjectRef addBookmark(Context& c, const std::string& id, const std::string& url, const std::string& title) {
  auto b = c.insertNewObject("Bookmark");
  b->setValueForKey("uniqueID", id);
  b->setValueForKey("url", url);
  b->setValueForKey("title", title);
  return b;
}

std::size_t countBookmarks(Context& c) { return c.fetch(FetchRequest("Bookmark"))->size(); }

// A store of today's library model at `path` holding one saved bookmark `id`, closed again;
// answers whether the save went through.
bool storeWithOneBookmark(const std::string& path, const std::string& id) {
  auto main = makeMainContext(openStore(makeLibraryModel(), path));
  addBookmark(*main, id, "u", "t");
  return main->save();
}

}  // namespace

TEST(Persistence, TablesAndColumnsFollowTheStoredLayout) {
  auto model = makeLibraryModel();
  std::string path = storePath();
  auto coordinator = openStore(model, path);
  auto main = makeMainContext(coordinator);
  auto f = main->insertNewObject("Folder");
  auto b = addBookmark(*main, "B1", "u", "t");
  b->setToOne("folder", f);
  b->setValueForKey("addedDate", fnd::Date(12.25));
  b->setValueForKey("isFavorite", true);
  ASSERT_TRUE(main->save());
  auto cols = column(path, "SELECT name FROM pragma_table_info('ZBOOKMARK')");
  std::set<std::string> have(cols.begin(), cols.end());
  for (const char* c : {"Z_PK", "Z_ENT", "Z_OPT", "ZUNIQUEID", "ZURL", "ZTITLE", "ZTRASHED", "ZBLOCKED", "ZADDEDDATE", "ZFOLDER"})
    EXPECT_TRUE(have.count(c)) << c;
  EXPECT_EQ(column(path, "SELECT typeof(ZTRASHED) || ':' || ZTRASHED FROM ZBOOKMARK"), (std::vector<std::string>{"integer:0"}));
  EXPECT_EQ(column(path, "SELECT typeof(ZISFAVORITE) || ':' || ZISFAVORITE FROM ZBOOKMARK"), (std::vector<std::string>{"integer:1"}));
  EXPECT_EQ(column(path, "SELECT typeof(ZADDEDDATE) || ':' || ZADDEDDATE FROM ZBOOKMARK"), (std::vector<std::string>{"real:12.25"}));
  EXPECT_EQ(column(path, "SELECT ZFOLDER = (SELECT Z_PK FROM ZFOLDER) FROM ZBOOKMARK"), (std::vector<std::string>{"1"}));
  EXPECT_FALSE(column(path, "SELECT name FROM sqlite_master WHERE type = 'index' AND tbl_name = 'ZBOOKMARK'").empty());
  EXPECT_EQ(column(path, "SELECT Z_VALUE FROM Z_METADATA WHERE Z_KEY = 'versionHash'"),
            (std::vector<std::string>{model->versionHash()}));
}

// Column names are the attributes' in ASCII capitals whatever the C library's locale: a library
// made in one locale is opened, searched and written in Turkish, where the C library does not
// pair "i" with "I".
TEST(Persistence, ALibraryMadeInOneLocaleIsReadAndWrittenInTurkish) {
  auto model = makeLibraryModel();
  const std::string path = storePath();
  {
    kesto::test::LocaleGuard plain("C");
    ASSERT_TRUE(storeWithOneBookmark(path, "B1"));
  }
  kesto::test::LocaleGuard turkish("tr_TR.UTF-8");
  KESTO_SKIP_WITHOUT_LOCALE(turkish);
  fnd::Error error;
  EXPECT_TRUE(Coordinator::checkStoreFile(path, *model, &error)) << error.localizedDescription();
  {
    auto main = makeMainContext(openStore(model, path));
    auto b = addBookmark(*main, "B2", "https://i.example/", "Iris");
    b->setValueForKey("isFavorite", true);
    ASSERT_TRUE(main->save());
  }
  auto main = makeMainContext(openStore(model, path));
  FetchRequest request("Bookmark");
  request.predicate = Predicate::parse("title contains[c] %@ or uniqueID in %@", {"IRIS", fnd::Value(fnd::Array{"B1"})});
  ASSERT_TRUE(request.predicate);
  EXPECT_EQ(main->fetch(request)->size(), 2u);
  request.predicate = Predicate::parse("isFavorite == 1");
  EXPECT_EQ(main->fetch(request)->size(), 1u);
  auto cols = column(path, "SELECT name FROM pragma_table_info('ZBOOKMARK')");
  std::set<std::string> have(cols.begin(), cols.end());
  for (const char* c : {"ZUNIQUEID", "ZTITLE", "ZISFAVORITE"}) EXPECT_TRUE(have.count(c)) << c;
  EXPECT_EQ(column(path, "SELECT ZTITLE FROM ZBOOKMARK WHERE ZUNIQUEID = 'B2'"), (std::vector<std::string>{"Iris"}));
}

// The program once wrote column and index names in the case the C library's locale gave them
// ("ZiSFAVORiTE" in Turkish). SQL names ignore ASCII case, so such a library is ours: it passes
// the check a restore makes, opens, and is searched and written.
TEST(Persistence, NamesThatDifferOnlyInCaseAreOurs) {
  auto model = makeLibraryModel();
  const std::string path = storePath();
  ASSERT_TRUE(storeWithOneBookmark(path, "B1"));
  {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    std::string sql;
    auto lowerI = [](std::string name) {
      for (std::size_t i = 1; i < name.size(); ++i)
        if (name[i] == 'I') name[i] = 'i';
      return name;
    };
    for (const auto& table : column(path, "SELECT name FROM sqlite_master WHERE type = 'table'"))
      for (const auto& c : column(path, "SELECT name FROM pragma_table_info('" + table + "')"))
        if (lowerI(c) != c) sql += "ALTER TABLE " + table + " RENAME COLUMN " + c + " TO " + lowerI(c) + ";";
    for (const auto& index : column(path, "SELECT name || '|' || tbl_name || '|' || sql FROM sqlite_master WHERE type = 'index' AND sql IS NOT NULL")) {
      const auto bar = index.find('|'), bar2 = index.find('|', bar + 1);
      const std::string name = index.substr(0, bar), definition = index.substr(bar2 + 1);
      sql += "DROP INDEX " + name + ";" + lowerI(definition) + ";";
    }
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_close(db);
  }
  ASSERT_EQ(column(path, "SELECT count(*) FROM pragma_table_info('ZBOOKMARK') WHERE name = 'ZUNiQUEiD'"),
            (std::vector<std::string>{"1"}));
  fnd::Error error;
  EXPECT_TRUE(Coordinator::checkStoreFile(path, *model, &error)) << error.localizedDescription();
  auto main = makeMainContext(openStore(model, path));
  addBookmark(*main, "B2", "https://i.example/", "Iris");
  ASSERT_TRUE(main->save());
  FetchRequest request("Bookmark");
  request.predicate = Predicate::parse("uniqueID IN %@", {fnd::Value(fnd::Array{"B1", "B2"})});
  EXPECT_EQ(main->fetch(request)->size(), 2u);
  EXPECT_TRUE(Coordinator::checkStoreFile(path, *model, &error)) << error.localizedDescription();
}

// Values kept with a store survive reopening; the store's own keys cannot be overwritten; only
// the open that made the store says it did.
TEST(Persistence, MetadataValuesAreKeptWithTheStore) {
  auto model = makeLibraryModel();
  std::string path = storePath();
  {
    auto coordinator = openStore(model, path);
    EXPECT_TRUE(coordinator->createdStore());
    EXPECT_TRUE(coordinator->setMetadataValue("KestoID", "kesto-A"));
    EXPECT_TRUE(coordinator->setMetadataValue("KestoID", "kesto-B"));
    for (const char* own : {"versionHash", "storeIdentifier", "storeType", "layout.Bookmark", ""}) {
      fnd::Error error;
      EXPECT_FALSE(coordinator->setMetadataValue(own, "x", &error)) << own;
    }
    EXPECT_EQ(coordinator->metadata().at("KestoID").string(), "kesto-B");
  }
  auto reopened = openStore(model, path);
  EXPECT_FALSE(reopened->createdStore());
  const auto metadata = reopened->metadata();
  EXPECT_EQ(metadata.at("KestoID").string(), "kesto-B");
  EXPECT_EQ(metadata.at("versionHash").string(), model->versionHash());
  EXPECT_EQ(metadata.count("layout.Bookmark"), 0u);
}

TEST(Persistence, DuplicatesStatementRunsAgainstTheStore) {
  std::string path = storePath();
  auto coordinator = openStore(makeLibraryModel(), path);
  auto main = makeMainContext(coordinator);
  addBookmark(*main, "A1", "http://same", "b title");
  addBookmark(*main, "A2", "http://same", "b title");
  addBookmark(*main, "C1", "http://other", "a title");
  addBookmark(*main, "C2", "http://other", "a title");
  addBookmark(*main, "T1", "http://trash", "t")->setValueForKey("trashed", 1);
  addBookmark(*main, "T2", "http://trash", "t");
  addBookmark(*main, "U1", "http://Same", "case differs");
  ASSERT_TRUE(main->save());
  auto got = column(path,
                    "select zuniqueid from zbookmark as b where (b.ztrashed == 0 and b.zblocked == 0) group by b.zurl "
                    "having count()>1 order by b.ztitle asc");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0][0], 'C');
  EXPECT_EQ(got[1][0], 'A');
}

TEST(Persistence, ManyToManyUsesAJoinTable) {
  std::string path = storePath();
  auto coordinator = openStore(makeLibraryModel(), path);
  auto main = makeMainContext(coordinator);
  auto b = addBookmark(*main, "B", "u", "t");
  for (const char* n : {"x", "y"}) {
    auto t = main->insertNewObject("Tag");
    t->setValueForKey("name", n);
    b->addToMany("tags", t);
  }
  ASSERT_TRUE(main->save());
  auto tables = column(path, "SELECT name FROM sqlite_master WHERE type = 'table' AND name LIKE 'Z\\_%' ESCAPE '\\'");
  std::set<std::string> t(tables.begin(), tables.end());
  EXPECT_TRUE(t.count("Z_1TAGS"));
  EXPECT_EQ(column(path, "SELECT COUNT(*) FROM Z_1TAGS"), (std::vector<std::string>{"2"}));
  b->removeFromMany("tags", b->toMany("tags")[0]);
  ASSERT_TRUE(main->save());
  EXPECT_EQ(column(path, "SELECT COUNT(*) FROM Z_1TAGS"), (std::vector<std::string>{"1"}));
}

TEST(Persistence, OlderStoreMigratesWithAddedAttributesAndEntities) {
  std::string path = storePath();
  {
    auto v1 = makeLibraryModel({.withNotes = false});
    auto c = openStore(v1, path);
    ASSERT_TRUE(c);
    auto main = makeMainContext(c);
    addBookmark(*main, "OLD", "u", "kept");
    ASSERT_TRUE(main->save());
  }
  auto v2 = makeLibraryModel({.withNotes = true, .withService = true});
  fnd::Error e;
  auto c = openStore(v2, path, &e);
  ASSERT_TRUE(c) << e.localizedDescription();
  auto main = makeMainContext(c);
  auto all = main->fetch(FetchRequest("Bookmark"));
  ASSERT_EQ(all->size(), 1u);
  EXPECT_EQ((*all)[0]->valueForKey("title").string(), "kept");
  EXPECT_TRUE((*all)[0]->valueForKey("notes").isNull());
  (*all)[0]->setValueForKey("notes", "now possible");
  main->insertNewObject("Service")->setValueForKey("name", "pinboard");
  ASSERT_TRUE(main->save(&e)) << e.localizedDescription();
}

TEST(Persistence, IncompatibleStoresFailWithTheirCodesAndStayUntouched) {
  std::string path = storePath();
  ASSERT_TRUE(storeWithOneBookmark(path, "B"));
  std::string before = kesto::test::readFile(path);
  fnd::Error e;
  EXPECT_FALSE(openStore(makeLibraryModel({.ratingAsString = true}), path, &e));
  EXPECT_EQ(e.code(), kMigrationMissingSourceModelError);
  EXPECT_EQ(e.domain(), fnd::kCocoaErrorDomain);
  auto plain = Coordinator::make(makeLibraryModel({.withService = true}));
  EXPECT_FALSE(plain->addStore(kSQLiteStoreType, path, {}, &e));
  EXPECT_EQ(e.code(), kPersistentStoreIncompatibleVersionHashError);
  EXPECT_EQ(kesto::test::readFile(path), before);
  // Still opens with its own model.
  auto again = openStore(makeLibraryModel(), path, &e);
  ASSERT_TRUE(again);
  EXPECT_EQ(countBookmarks(*makeMainContext(again)), 1u);
}

TEST(Persistence, DamagedOrForeignFilesAreReportedNotReplaced) {
  std::string path = storePath();
  kesto::test::writeFile(path, std::string(4096, 'x'));
  fnd::Error e;
  EXPECT_FALSE(openStore(makeLibraryModel(), path, &e));
  EXPECT_NE(e.code(), 0);
  EXPECT_EQ(kesto::test::readFile(path), std::string(4096, 'x'));
  std::string foreign = storePath("other.sqlite");
  sqlite3* db = nullptr;
  sqlite3_open(foreign.c_str(), &db);
  sqlite3_exec(db, "CREATE TABLE notes (a)", nullptr, nullptr, nullptr);
  sqlite3_close(db);
  EXPECT_FALSE(openStore(makeLibraryModel(), foreign, &e));
  EXPECT_EQ(e.code(), kFileReadCorruptFileError);
  std::string missingFolder = kesto::test::tempHome() + "/no/such/folder/data.sqlite";
  EXPECT_FALSE(openStore(makeLibraryModel(), missingFolder, &e));
}

TEST(Persistence, InMemoryStoreAndWalOption) {
  auto memory = Coordinator::make(makeLibraryModel());
  ASSERT_TRUE(memory->addStore(kInMemoryStoreType, ""));
  auto ctx = makeMainContext(memory);
  addBookmark(*ctx, "M", "u", "t");
  ASSERT_TRUE(ctx->save());
  EXPECT_EQ(countBookmarks(*makeMainContext(memory)), 1u);

  std::string path = storePath();
  auto wal = Coordinator::make(makeLibraryModel());
  fnd::Dictionary pragmas{{"journal_mode", "WAL"}};
  ASSERT_TRUE(wal->addStore(kSQLiteStoreType, path, {{kSQLitePragmasOption, pragmas}}));
  EXPECT_EQ(column(path, "PRAGMA journal_mode"), (std::vector<std::string>{"wal"}));
  EXPECT_FALSE(wal->addStore(kSQLiteStoreType, path));  // one store per coordinator
}

TEST(Persistence, KilledDuringSavesLeavesOldOrNewState) {
  auto model = makeLibraryModel();
  std::string path = storePath();
  {
    auto c = openStore(model, path);
    ASSERT_TRUE(c);
  }
  const int kBatch = 200;
  // The child tells each save it made through the pipe.
  int saves[2];
  ASSERT_EQ(pipe(saves), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(saves[0]);
    auto c = openStore(model, path);
    auto ctx = Context::make(ConcurrencyType::Confinement);
    ctx->setCoordinator(c);
    for (int round = 0;; ++round) {
      for (int i = 0; i < kBatch; ++i)
        addBookmark(*ctx, std::to_string(round) + "-" + std::to_string(i), "http://x/" + std::to_string(i),
                    std::string(200, 'p'));
      if (!ctx->save()) _exit(2);
      if (::write(saves[1], "s", 1) != 1) _exit(3);
    }
  }
  ::close(saves[1]);
  // Killed once two saves are in, however slow the machine, while it goes on saving.
  char told[2];
  std::size_t got = 0;
  while (got < sizeof told) {
    const ssize_t n = ::read(saves[0], told + got, sizeof told - got);
    if (n > 0) got += static_cast<std::size_t>(n);
    else if (n == 0 || errno != EINTR) break;
  }
  ::close(saves[0]);
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_EQ(got, sizeof told) << "the child ended before two saves, status " << status;
  fnd::Error e;
  auto c = openStore(model, path, &e);
  ASSERT_TRUE(c) << e.localizedDescription();
  auto n = countBookmarks(*makeMainContext(c));
  EXPECT_GT(n, 0u);
  EXPECT_EQ(n % kBatch, 0u) << "a save was half written";
  EXPECT_EQ(column(path, "PRAGMA integrity_check"), (std::vector<std::string>{"ok"}));
}

TEST(Undo, InsertsChangesAndDeletesUndoAndRedoAcrossSaves) {
  auto coordinator = openStore(makeLibraryModel(), storePath());
  auto main = makeMainContext(coordinator, true);
  auto* undo = main->undoManager();
  undo->setGroupsByEvent(false);
  undo->beginUndoGrouping();
  auto b = addBookmark(*main, "B", "u", "first");
  undo->endUndoGrouping();
  ASSERT_TRUE(main->save());

  undo->beginUndoGrouping();
  b->setValueForKey("title", "second");
  auto f = main->insertNewObject("Folder");
  b->setToOne("folder", f);
  undo->setActionName("Edit");
  undo->endUndoGrouping();
  ASSERT_TRUE(main->save());
  EXPECT_EQ(undo->undoActionName(), "Edit");

  undo->undo();
  EXPECT_EQ(b->valueForKey("title").string(), "first");
  EXPECT_EQ(b->toOne("folder"), nullptr);
  EXPECT_TRUE(main->hasChanges());  // undo leaves changes unsaved
  undo->redo();
  EXPECT_EQ(b->valueForKey("title").string(), "second");
  ASSERT_TRUE(b->toOne("folder"));

  undo->beginUndoGrouping();
  main->deleteObject(b);
  undo->setActionName("Delete");
  undo->endUndoGrouping();
  EXPECT_TRUE(main->fetch(FetchRequest("Bookmark"))->empty());
  undo->undo();
  auto back = main->fetch(FetchRequest("Bookmark"));
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ((*back)[0], b);
  EXPECT_EQ(b->toOne("folder"), f);
  ASSERT_TRUE(main->save());
  auto fresh = makeMainContext(coordinator);
  auto stored = fresh->fetch(FetchRequest("Bookmark"));
  ASSERT_EQ(stored->size(), 1u);
  EXPECT_EQ((*stored)[0]->valueForKey("title").string(), "second");
}

TEST(Undo, EachEventLoopPassIsOneUndoStep) {
  auto coordinator = openStore(makeLibraryModel(), storePath());
  auto main = makeMainContext(coordinator, true);
  auto* undo = main->undoManager();
  auto b = addBookmark(*main, "B", "u", "one");
  b->setValueForKey("notes", "typed with the title");
  kesto::test::spin(0.05);
  b->setValueForKey("title", "two");
  b->setValueForKey("title", "three");
  kesto::test::spin(0.05);
  undo->undo();
  EXPECT_EQ(b->valueForKey("title").string(), "one");
  EXPECT_EQ(b->valueForKey("notes").string(), "typed with the title");
  undo->undo();
  EXPECT_TRUE(main->fetch(FetchRequest("Bookmark"))->empty());
  EXPECT_FALSE(main->hasChanges());
  undo->redo();
  undo->redo();
  auto back = main->fetch(FetchRequest("Bookmark"));
  ASSERT_EQ(back->size(), 1u);
  EXPECT_EQ((*back)[0]->valueForKey("title").string(), "three");
}

TEST(Persistence, MigratedRowsTakeTheDefaultsOfAddedFlags) {
  std::string path = storePath();
  ASSERT_TRUE(storeWithOneBookmark(path, "OLD"));
  auto c = openStore(makeLibraryModel({.withFlag = true}), path);
  ASSERT_TRUE(c);
  auto main = makeMainContext(c);
  FetchRequest r("Bookmark");
  r.predicate = Predicate::parse("isInLibrary < 1");
  EXPECT_EQ(main->count(r).value_or(-1), 1);  // not hidden by a missing value
  EXPECT_EQ(main->fetch(r)->size(), 1u);
}

namespace {
// Stores text as its bytes reversed, so a test can tell stored data from the value.
struct TestTextTransformer : ValueTransformer {
  fnd::Value transformedValue(const fnd::Value& v) const override {
    if (!v.isString()) return {};
    fnd::Data d(v.string().rbegin(), v.string().rend());
    return fnd::Value(std::move(d));
  }
  fnd::Value reverseTransformedValue(const fnd::Value& d) const override {
    if (!d.isData()) return {};
    return fnd::Value(std::string(d.data().rbegin(), d.data().rend()));
  }
};
}  // namespace

TEST(Persistence, TransformableValuesGoThroughTheirNamedTransformer) {
  ValueTransformer::registerTransformer("TestTextTransformer", std::make_shared<TestTextTransformer>());
  std::string path = storePath();
  auto c = openStore(makeLibraryModel({.withIcon = true}), path);
  ASSERT_TRUE(c);
  auto main = makeMainContext(c);
  addBookmark(*main, "B", "u", "t")->setValueForKey("icon", "abc");
  ASSERT_TRUE(main->save());
  EXPECT_EQ(column(path, "SELECT CAST(ZICON AS TEXT) FROM ZBOOKMARK"), (std::vector<std::string>{"cba"}));
  auto fresh = makeMainContext(c);
  EXPECT_EQ((*fresh->fetch(FetchRequest("Bookmark")))[0]->valueForKey("icon").string(), "abc");
}

TEST(Persistence, DictionaryResultsAndExpressions) {
  auto c = openStore(makeLibraryModel(), storePath());
  auto main = makeMainContext(c);
  for (int i = 1; i <= 4; ++i) addBookmark(*main, "B" + std::to_string(i), "u", "t")->setValueForKey("timesOpened", i);
  ASSERT_TRUE(main->save());
  FetchRequest r("Bookmark");
  r.propertiesToFetch = {"uniqueID", "timesOpened"};
  r.sortDescriptors = {SortDescriptor("timesOpened", false)};
  r.fetchLimit = 2;
  auto rows = main->fetchDictionaries(r);
  ASSERT_TRUE(rows);
  ASSERT_EQ(rows->size(), 2u);
  EXPECT_EQ((*rows)[0].at("uniqueID").string(), "B4");
  EXPECT_EQ((*rows)[0].size(), 2u);
  FetchRequest agg("Bookmark");
  agg.expressions = {{"most", AggregateFunction::Max, "timesOpened"}, {"total", AggregateFunction::Sum, "timesOpened"}};
  auto one = main->fetchDictionaries(agg);
  ASSERT_TRUE(one);
  ASSERT_EQ(one->size(), 1u);
  EXPECT_EQ((*one)[0].at("most").intValue(), 4);
  EXPECT_EQ((*one)[0].at("total").intValue(), 10);
}

TEST(Persistence, KeysOfDeletedRowsAreNeverReused) {
  Stack s;
  auto main = s.main;
  auto a = addBookmark(*main, "A", "u", "t");
  auto b = addBookmark(*main, "B", "u", "t");
  ASSERT_TRUE(main->save());
  auto oldKey = b->objectID()->primaryKey();
  auto oldID = b->objectID();
  main->deleteObject(b);
  ASSERT_TRUE(main->save());
  auto n = addBookmark(*main, "N", "u", "t");
  ASSERT_TRUE(main->save());
  EXPECT_GT(n->objectID()->primaryKey(), oldKey);
  // A stale ID of the deleted row must not find the new one.
  auto other = makeMainContext(s.coordinator);
  EXPECT_EQ(other->existingObjectWithID(oldID), nullptr);
  (void)a;
}

// A save writes its rows and the keys it takes for them in one transaction: the disk is waited
// for once per save, and a save that fails takes no keys.
TEST(Persistence, ASaveIsOneTransactionAndAFailedOneTakesNoKeys) {
  int commits = 0;  // outlives the store, whose connection counts into it
  Stack s;
  s.main->setMergePolicy(MergePolicy::Error);
  {
    auto connection = TestAccess::connection(*s.coordinator);
    sqlite3_commit_hook(
        connection.db,
        [](void* count) {
          ++*static_cast<int*>(count);
          return 0;
        },
        &commits);
  }
  auto stored = addBookmark(*s.main, "S", "u", "t");
  auto tag = s.main->insertNewObject("Tag");
  tag->setValueForKey("name", "t");
  stored->addToMany("tags", tag);
  ASSERT_TRUE(s.main->save());
  EXPECT_EQ(commits, 1);
  auto keyMax = [&] { return column(s.path, "SELECT Z_MAX FROM Z_PRIMARYKEY WHERE Z_NAME = 'Bookmark'"); };
  const auto before = keyMax();

  // Another context changes the stored row first: this save's conflict is found after its keys
  // were taken, and it writes nothing, keys included.
  auto other = makeMainContext(s.coordinator);
  other->existingObjectWithID(stored->objectID())->setValueForKey("title", "theirs");
  ASSERT_TRUE(other->save());
  commits = 0;
  stored->setValueForKey("title", "mine");
  auto fresh = addBookmark(*s.main, "N", "u", "t");
  EXPECT_FALSE(s.main->save());
  EXPECT_EQ(commits, 0);
  EXPECT_EQ(keyMax(), before);
  EXPECT_TRUE(fresh->objectID()->isTemporaryID());
  // Once the conflict is settled the new row gets the next key.
  s.main->refreshObject(stored, false);
  ASSERT_TRUE(s.main->save());
  EXPECT_EQ(commits, 1);
  EXPECT_EQ(fresh->objectID()->primaryKey(), std::stoll(before.at(0)) + 1);
}

namespace {

// Zeroes the page of `path` that holds the root of the table or index `name`.
void destroyRootPage(const std::string& path, const std::string& name) {
  const auto root = column(path, "SELECT rootpage FROM sqlite_master WHERE name = '" + name + "'");
  const auto size = column(path, "PRAGMA page_size");
  ASSERT_EQ(root.size(), 1u);
  ASSERT_EQ(size.size(), 1u);
  std::string bytes = kesto::test::readFile(path);
  const std::size_t page = std::stoul(size[0]), at = (std::stoul(root[0]) - 1) * page;
  ASSERT_LE(at + page, bytes.size());
  bytes.replace(at, page, std::string(page, '\0'));
  kesto::test::writeFile(path, bytes);
}

}  // namespace

// A file whose first pages are whole opens, though a table's pages are lost: the damage check
// finds it, whichever tree it is in, and tells it from a store that is merely refused.
TEST(Persistence, TheDamageCheckFindsALostTableOrIndexPage) {
  for (const char* tree : {"ZBOOKMARK", "ZFOLDER", "ZBOOKMARK_ZURL_INDEX"}) {
    const std::string path = storePath(std::string(tree) + ".sqlite");
    ASSERT_TRUE(storeWithOneBookmark(path, "B"));
    {
      auto whole = openStore(makeLibraryModel(), path);
      ASSERT_TRUE(whole);
      fnd::Error e;
      EXPECT_TRUE(whole->checkForDamage(5, &e)) << e.localizedDescription();
    }
    destroyRootPage(path, tree);
    fnd::Error e;
    auto c = openStore(makeLibraryModel(), path, &e);
    ASSERT_TRUE(c) << tree << ": " << e.localizedDescription();  // the damage is past what opening reads
    EXPECT_FALSE(c->checkForDamage(5, &e)) << tree;
    EXPECT_EQ(e.code(), kFileReadCorruptFileError);
    EXPECT_TRUE(Coordinator::isDamageError(e));
    // Without the quick check, the first pages alone find it.
    EXPECT_FALSE(c->checkForDamage(0, &e)) << tree;
  }
  // A read that meets damage says so; a refusal for another reason does not.
  const std::string path = storePath("read.sqlite");
  ASSERT_TRUE(storeWithOneBookmark(path, "B"));
  destroyRootPage(path, "ZBOOKMARK");
  fnd::Error e;
  auto c = openStore(makeLibraryModel(), path, &e);
  ASSERT_TRUE(c);
  EXPECT_FALSE(makeMainContext(c)->fetch(FetchRequest("Bookmark"), &e).has_value());
  EXPECT_TRUE(Coordinator::isDamageError(e)) << e.localizedDescription();
  EXPECT_FALSE(Coordinator::isDamageError(fnd::Error::withDescription(fnd::kCocoaErrorDomain, kPersistentStoreIncompatibleVersionHashError, "x")));
}

// Only an older model's store is brought up unasked. The same tables under a hash this model
// does not know (or a store that records no layouts) stay as they are, unless the caller says so.
TEST(Persistence, AStoreOfAnUnknownModelIsLeftAsItIsUnlessAdopted) {
  const fnd::Dictionary migrate{{kMigratePersistentStoresAutomaticallyOption, true},
                                {kInferMappingModelAutomaticallyOption, true}};
  for (const char* sql : {"UPDATE Z_METADATA SET Z_VALUE = 'unknown' WHERE Z_KEY = 'versionHash'",
                          "UPDATE Z_METADATA SET Z_VALUE = 'unknown' WHERE Z_KEY = 'versionHash';"
                          "DELETE FROM Z_METADATA WHERE Z_KEY LIKE 'layout.%'"}) {
    const std::string path = storePath();
    ASSERT_TRUE(storeWithOneBookmark(path, "B"));
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    const std::string before = kesto::test::readFile(path);
    fnd::Error e;
    EXPECT_FALSE(Coordinator::make(makeLibraryModel())->addStore(kSQLiteStoreType, path, migrate, &e)) << sql;
    EXPECT_EQ(e.code(), kPersistentStoreIncompatibleVersionHashError);
    EXPECT_FALSE(Coordinator::isDamageError(e));
    EXPECT_EQ(kesto::test::readFile(path), before);
    fnd::Dictionary adopt = migrate;
    adopt[kMigrateUnknownModelOption] = true;
    auto c = Coordinator::make(makeLibraryModel());
    ASSERT_TRUE(c->addStore(kSQLiteStoreType, path, adopt, &e)) << e.localizedDescription();
    EXPECT_EQ(countBookmarks(*makeMainContext(c)), 1u);
    EXPECT_EQ(column(path, "SELECT Z_VALUE FROM Z_METADATA WHERE Z_KEY = 'versionHash'"),
              (std::vector<std::string>{makeLibraryModel()->versionHash()}));
  }
}
