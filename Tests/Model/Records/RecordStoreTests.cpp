#include "RecordTestSupport.h"

#include "Harness/StoreOnDisk.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/StandardPaths.h"

namespace kesto::test::records {
namespace {

using namespace kesto::recordkit;

std::string journalMode(const std::string& path) { return firstValueOnDisk(path, "PRAGMA journal_mode").value_or(""); }

// Writes one note into a new store at `path` made with `model`.
void makeStoreWithOneNote(const std::string& path, std::shared_ptr<const store::Model> model) {
  auto coordinator = store::Coordinator::make(std::move(model));
  ASSERT_TRUE(coordinator->addStore(store::kSQLiteStoreType, path));
  auto context = store::Context::make(store::ConcurrencyType::Confinement);
  context->setCoordinator(coordinator);
  context->insertNewObject("Note")->setValueForKey("noteID", 1);
  ASSERT_TRUE(context->save());
}

class RecordStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RK_setDefaultManagedObjectModel(makeNotesModel());
    RecordKit::setErrorHandlerTarget(std::make_shared<int>(0), [this](const std::shared_ptr<void>&, const fnd::Error& e) {
      reported.push_back(e.code());
    });
  }
  void TearDown() override { resetRecordKit(); }
  std::vector<long> reported;
};

TEST_F(RecordStoreTest, StoreNamesAreLookedUpInDocumentsThenInStorage) {
  std::string storage = RK_applicationStorageDirectory();
  EXPECT_EQ(storage, fnd::StandardPaths::applicationSupportDirectory() + "/" + fnd::StandardPaths::applicationName());
  EXPECT_EQ(RK_urlForStoreName("Both.sqlite"), storage + "/Both.sqlite");
  fnd::FileManager::createDirectory(storage, true);
  writeFile(storage + "/Both.sqlite", "");
  EXPECT_EQ(RK_urlForStoreName("Both.sqlite"), storage + "/Both.sqlite");
  writeFile(RK_applicationDocumentsDirectory() + "/Both.sqlite", "");
  EXPECT_EQ(RK_urlForStoreName("Both.sqlite"), RK_applicationDocumentsDirectory() + "/Both.sqlite");
  EXPECT_EQ(RK_defaultLocalStoreUrl(), storage + "/CoreDataStore.sqlite");
  EXPECT_EQ(RK_cloudURLForUbiqutiousContainer("iCloud.any"), "");
}

TEST_F(RecordStoreTest, DefaultStoreNameFollowsTheApplicationName) {
  EXPECT_EQ(RecordKit::storeNameForBundleName("Books"), "Books.sqlite");
  EXPECT_EQ(RecordKit::storeNameForBundleName("Books.sqlite"), "Books.sqlite");
  EXPECT_EQ(RecordKit::storeNameForBundleName("mysqlite"), "mysqlite");
  EXPECT_EQ(RecordKit::storeNameForBundleName(""), "CoreDataStore.sqlite");
  EXPECT_EQ(RecordKit::defaultStoreName(), fnd::StandardPaths::applicationName() + ".sqlite");
}

TEST_F(RecordStoreTest, NamedSetUpCreatesTheStoreFolderAndFile) {
  RecordKit::setupCoreDataStackWithStoreNamed("Named.sqlite");
  std::string path = RK_applicationStorageDirectory() + "/Named.sqlite";
  EXPECT_TRUE(fnd::FileManager::fileExists(path));
  ASSERT_TRUE(RK_defaultPersistentStore());
  EXPECT_EQ(RK_defaultPersistentStore()->path, path);
  EXPECT_EQ(journalMode(path), "delete");
  EXPECT_TRUE(reported.empty());
}

TEST_F(RecordStoreTest, AutoMigratingStoresUseTheWriteAheadLog) {
  fnd::Dictionary options = RK_autoMigrationOptions();
  EXPECT_TRUE(options[store::kMigratePersistentStoresAutomaticallyOption].boolValue());
  EXPECT_TRUE(options[store::kInferMappingModelAutomaticallyOption].boolValue());
  EXPECT_EQ(options[store::kSQLitePragmasOption]["journal_mode"], fnd::Value("WAL"));

  RecordKit::setupAutoMigratingCoreDataStack();
  std::string path = RK_applicationStorageDirectory() + "/" + RecordKit::defaultStoreName();
  ASSERT_TRUE(RK_defaultStoreCoordinator()->hasStore());
  EXPECT_EQ(journalMode(path), "wal");
}

TEST_F(RecordStoreTest, InMemoryStoresLeaveNoFile) {
  auto listing = [] { return fnd::FileManager::subpathsOfDirectory(fnd::StandardPaths::applicationSupportDirectory()); };
  auto before = listing();
  RecordKit::setupCoreDataStackWithInMemoryStore();
  ASSERT_TRUE(RK_defaultPersistentStore());
  EXPECT_EQ(RK_defaultPersistentStore()->type, store::kInMemoryStoreType);
  RecordKit::saveWithBlockAndWait([](const ContextRef& c) { RK_createInContext("Note", c); });
  EXPECT_EQ(RK_countOfEntities("Note"), 1u);
  EXPECT_EQ(RK_defaultPersistentStore()->path, "");
  EXPECT_EQ(listing(), before);
}

TEST_F(RecordStoreTest, MismatchedStoreIsKeptAndSilentUnlessDeletionIsAllowed) {
  std::string path = makeTempDir() + "/Old.sqlite";
  makeStoreWithOneNote(path, makeNotesModel("legacy"));

  auto kept = RK_coordinatorWithSqliteStoreNamed(path);
  EXPECT_FALSE(kept->hasStore());
  EXPECT_TRUE(fnd::FileManager::fileExists(path));
  EXPECT_TRUE(reported.empty());

  RecordKit::setShouldDeleteStoreOnModelMismatch(true);
  // The old store's log must not be replayed into the new one.
  writeFile(path + "-wal", "left over from the old store");
  auto fresh = RK_coordinatorWithSqliteStoreNamed(path);
  ASSERT_TRUE(fresh->hasStore());
  EXPECT_TRUE(reported.empty());
  EXPECT_NE(readFile(path + "-wal"), "left over from the old store");
  auto context = RK_contextWithStoreCoordinator(fresh);
  EXPECT_EQ(RK_countOfEntities("Note", context), 0u);
}

TEST_F(RecordStoreTest, StoreMissingItsSourceModelIsRecreatedWhenAllowed) {
  std::string path = makeTempDir() + "/Removed.sqlite";
  makeStoreWithOneNote(path, makeNotesModel("legacy"));
  // Migration cannot infer a removed attribute.
  EXPECT_FALSE(RK_coordinatorWithAutoMigratingSqliteStoreNamed(path)->hasStore());
  RecordKit::setShouldDeleteStoreOnModelMismatch(true);
  auto coordinator = RK_coordinatorWithAutoMigratingSqliteStoreNamed(path);
  ASSERT_TRUE(coordinator->hasStore());
  EXPECT_TRUE(reported.empty());
  EXPECT_EQ(journalMode(path), "wal");
}

TEST_F(RecordStoreTest, OtherOpenFailuresAreReportedAndTheFileIsKept) {
  RecordKit::setShouldDeleteStoreOnModelMismatch(true);
  std::string path = makeTempDir() + "/Foreign.sqlite";
  writeFile(path, std::string(4096, 'x'));
  auto coordinator = RK_coordinatorWithSqliteStoreNamed(path);
  EXPECT_FALSE(coordinator->hasStore());
  EXPECT_EQ(readFile(path), std::string(4096, 'x'));
  EXPECT_EQ(reported.size(), 1u);
}

TEST_F(RecordStoreTest, AutoMigratingCoordinatorRetriesHalfASecondLater) {
  std::string folder = makeTempDir() + "/blocked";
  writeFile(folder, "a file where the store folder goes");
  auto coordinator = RK_coordinatorWithAutoMigratingSqliteStoreNamed(folder + "/Retry.sqlite");
  EXPECT_FALSE(coordinator->hasStore());
  fnd::FileManager::removeItem(folder);
  spin(0.2);
  EXPECT_FALSE(coordinator->hasStore());
  EXPECT_TRUE(runUntil([&] { return coordinator->hasStore(); }, 10));
}

TEST_F(RecordStoreTest, CloudSetUpFallsBackToTheLocalStoreAndAnnouncesIt) {
  RecordKit::setICloudEnabled(true);
  bool announced = false, completed = false;
  fnd::NotificationCenter::defaultCenter().addObserver(
      &announced, [&](const fnd::Notification&) { announced = completed; },
      kRecordKitPSCDidCompleteiCloudSetupNotification);
  RecordKit::setupCoreDataStackWithiCloudContainer("iCloud.org.kesto", "content", "Cloud.sqlite", "data",
                                                   [&] { completed = true; });
  ASSERT_TRUE(RK_defaultContext());
  ASSERT_TRUE(runUntil([&] { return announced; }));
  fnd::NotificationCenter::defaultCenter().removeObserver(&announced);
  EXPECT_FALSE(RecordKit::isICloudEnabled());
  ASSERT_TRUE(RK_defaultPersistentStore());
  std::string path = RK_applicationStorageDirectory() + "/Cloud.sqlite";
  EXPECT_EQ(RK_defaultPersistentStore()->path, path);
  EXPECT_EQ(journalMode(path), "wal");
  // The stack works on the local store.
  RecordKit::saveWithBlockAndWait([](const ContextRef& c) { RK_createInContext("Note", c); });
  EXPECT_EQ(RK_countOfEntities("Note"), 1u);
}

TEST_F(RecordStoreTest, AutoCreatedCoordinatorAppearsOnlyWhenAskedFor) {
  RecordKit::setShouldAutoCreateDefaultPersistentStoreCoordinator(true);
  std::string path = RK_applicationStorageDirectory() + "/" + RecordKit::defaultStoreName();
  for (const char* suffix : {"", "-wal", "-shm"})
    if (fnd::FileManager::fileExists(path + suffix)) fnd::FileManager::removeItem(path + suffix);
  // Tearing down a stack that never had a coordinator makes no store file.
  RecordKit::cleanUp();
  EXPECT_FALSE(fnd::FileManager::fileExists(path));
  // Reading the coordinator makes one, so a set-up then adds no contexts.
  ASSERT_TRUE(RK_defaultStoreCoordinator());
  EXPECT_TRUE(fnd::FileManager::fileExists(path));
  RecordKit::setupCoreDataStack();
  EXPECT_EQ(RK_defaultContext(), nullptr);
}

TEST_F(RecordStoreTest, DefaultStoreIsFilledOnlyOnce) {
  auto first = RK_coordinatorWithInMemoryStore();
  RK_setDefaultStoreCoordinator(first);
  auto store = RK_defaultPersistentStore();
  ASSERT_TRUE(store);
  EXPECT_EQ(store->identifier, first->storeIdentifier());
  RK_setDefaultStoreCoordinator(RK_coordinatorWithInMemoryStore());
  EXPECT_EQ(RK_defaultPersistentStore(), store);

  // A coordinator on a store's file opens the same file.
  std::string path = makeTempDir() + "/Same.sqlite";
  makeStoreWithOneNote(path, makeNotesModel());
  auto original = RK_coordinatorWithSqliteStoreNamed(path);
  auto reopened = RK_coordinatorWithPersistentStore(RK_persistentStoreOf(original));
  ASSERT_TRUE(reopened->hasStore());
  EXPECT_EQ(reopened->storePath(), path);
}

TEST_F(RecordStoreTest, ModelsAreFoundByNameAndMerged) {
  store::Model::registerNamedModel("RecordNotes", makeNotesModel());
  EXPECT_TRUE(RK_managedObjectModelNamed("RecordNotes.momd"));
  EXPECT_TRUE(RK_newManagedObjectModelNamed("RecordNotes"));
  EXPECT_FALSE(RK_newModelNamed("RecordNotes.momd", "Elsewhere"));
  EXPECT_FALSE(RK_managedObjectModelNamed("Missing"));
  auto merged = RK_mergedObjectModelFromMainBundle();
  ASSERT_TRUE(merged);
  EXPECT_TRUE(merged->entity("Note"));
  RecordKit::setDefaultModelFromClass("Notebook");
  ASSERT_TRUE(RK_defaultManagedObjectModel());
  EXPECT_TRUE(RK_defaultManagedObjectModel()->entity("Label"));
}

TEST(RecordDictionaryTest, MergingLetsTheArgumentWin) {
  fnd::Dictionary merged = RK_dictionaryByMergingDictionary({{"a", 1}, {"b", 2}}, {{"b", 3}, {"c", 4}});
  EXPECT_EQ(fnd::Value(merged), fnd::Value(fnd::Dictionary{{"a", 1}, {"b", 3}, {"c", 4}}));
}

}  // namespace
}  // namespace kesto::test::records
