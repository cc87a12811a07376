#include "SyncLibraryFixture.h"

#include "Synchronize/Backup.h"

#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/Store/Predicate.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace kesto::test {
namespace {

class BackupTest : public SyncLibraryTest {
 protected:
  void SetUp() override {
    SyncLibraryTest::SetUp();
    fnd::TimeZone::setLocal("UTC");
    auto f = folder("F", "Folder");
    bookmark("https://kept.example/", "Kept", f);
    save();
    Backup::setTerminateHandler([this] { ++terminated; });
  }
  void TearDown() override {
    Backup::setTerminateHandler(nullptr);
    fnd::TimeZone::setLocal("");
    SyncLibraryTest::TearDown();
  }
  static std::string appFolder() { return Backup().applicationSupportDirectory(); }
  static std::string storeFile() { return WrenDataManager::sharedInstance().persistentStorePath(); }
  static bool has(const std::string& url) {
    return Bookmark::checkIfEntityExistsWhereProperty("url", fnd::Value(url));
  }
  // Restores the backup at `path` as a confirmed restore does, without asking or restarting;
  // answers whether it went through.
  static bool restoredFrom(const std::string& path) {
    Backup backup;
    backup.setFromPath(path);
    return backup.doStartRestore();
  }
  // Asks for the restore of `path` and answers Yes, as the user does; answers the question.
  std::string confirmedRestore(const std::string& path) {
    alerts->shown.clear();
    alerts->answer = 0;
    Backup backup;
    backup.restoreFromFile(path);
    return alerts->shown.size() == 1 ? alerts->shown[0].message : std::string("<not asked once>");
  }
  int terminated = 0;
};

std::size_t timesIn(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

TEST_F(BackupTest, ManualBackupIsAConsistentCopyAndReplacesAnExistingFile) {
  const std::string path = makeTempDir("backups") + "/mine.kestobck";
  writeFile(path, "an older file the user chose to replace");
  Backup backup;
  ASSERT_TRUE(backup.backupToFile(path));
  EXPECT_TRUE(Backup::isValidBackupFile(path));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Kesto Backup");
  EXPECT_EQ(alerts->shown[0].message, "Backup successfully completed");
  EXPECT_TRUE(alerts->shown[0].information) << "success is not a warning";
  // No temporary file is left beside it.
  auto names = fnd::FileManager::contentsOfDirectory(fnd::FileManager::deletingLastPathComponent(path));
  ASSERT_TRUE(names);
  EXPECT_EQ(names->size(), 1u);
  // It holds the stored passwords: the user's alone, whatever stood there before.
  EXPECT_EQ(fnd::FileManager::attributesOfItem(path)->permissions, 0600u);
}

// A library of some megabytes is copied in several steps; saves in between make the copy start
// over, and it must still end, as a sound copy.
TEST_F(BackupTest, ALibraryWrittenWhileItIsCopiedGivesASoundBackup) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(storeFile().c_str(), &db), SQLITE_OK);
  sqlite3_busy_timeout(db, 10000);
  ASSERT_EQ(sqlite3_exec(db, "INSERT OR REPLACE INTO Z_METADATA VALUES ('padding', zeroblob(4000000))", nullptr, nullptr,
                         nullptr),
            SQLITE_OK);
  std::atomic<bool> done{false};
  std::atomic<int> writes{0};
  std::thread writer([&] {
    for (int n = 0; !done; ++n) {
      const std::string put = "INSERT OR REPLACE INTO Z_METADATA VALUES ('tick', '" + std::to_string(n) + "')";
      if (sqlite3_exec(db, put.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) ++writes;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  while (writes == 0) std::this_thread::yield();
  const std::string path = makeTempDir("backups") + "/busy.kestobck";
  const bool made = Backup().backupToFile(path);
  done = true;
  writer.join();
  sqlite3_close(db);
  ASSERT_TRUE(made);
  EXPECT_TRUE(Backup::isValidBackupFile(path));
}

TEST_F(BackupTest, AFailedBackupIsShownForManualAndOnlyLoggedForAutomatic) {
  Backup backup;
  EXPECT_FALSE(backup.backupToFile(tempHome() + "/no/such/folder/b.kestobck"));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_NE(alerts->shown[0].message, "Backup successfully completed");
  EXPECT_FALSE(alerts->shown[0].information);
  EXPECT_FALSE(backup.backupToFile(storeFile()));  // never over the library itself
  EXPECT_TRUE(Backup::isValidBackupFile(storeFile()));
  alerts->shown.clear();
  ASSERT_TRUE(backup.autoBackup());
  EXPECT_TRUE(alerts->shown.empty());
  EXPECT_FALSE(backup.isAutoBackup());
}

TEST_F(BackupTest, NamesSortByTimeAndThinningKeepsTheNewest) {
  EXPECT_EQ(Backup::backupNameForDate(fnd::Date::withTimeIntervalSince1970(1772719629)),  // 2026-03-05 14:07:09
            "2026-03-05-14-07-09.kestobck");
  const std::string folder = appFolder();
  // Only the backups named here: an earlier test in this process may have left one of this second.
  for (const auto& path : Backup::automaticBackups(folder)) fnd::FileManager::removeItem(path);
  // Older names: month without a leading zero and a 12-hour clock.
  for (const char* name : {"2015-9-01-10-00-00.kestobck", "2015-10-01-10-00-00.kestobck",
                           "2016-01-02-13-00-00.kestobck", "2014-12-31-11-59-59.kestobck", "notes.txt"})
    writeFile(folder + "/" + name, "x");
  Backup backup;
  ASSERT_TRUE(backup.autoBackup());
  auto names = fnd::FileManager::contentsOfDirectory(folder, true).value_or(std::vector<std::string>{});
  std::vector<std::string> backups;
  for (const auto& n : names)
    if (fnd::FileManager::pathExtension(n) == "kestobck") backups.push_back(n);
  ASSERT_EQ(backups.size(), 3u);
  EXPECT_NE(std::find(backups.begin(), backups.end(), "2016-01-02-13-00-00.kestobck"), backups.end());
  EXPECT_NE(std::find(backups.begin(), backups.end(), "2015-10-01-10-00-00.kestobck"), backups.end());
  EXPECT_EQ(std::find(backups.begin(), backups.end(), "2015-9-01-10-00-00.kestobck"), backups.end());
  EXPECT_TRUE(fnd::FileManager::fileExists(folder + "/notes.txt"));
  EXPECT_TRUE(fnd::FileManager::fileExists(storeFile()));
  ASSERT_TRUE(Backup::dateFromBackupName("2015-9-01-10-00-00.kestobck"));
  EXPECT_FALSE(Backup::dateFromBackupName("holiday.kestobck"));
}

TEST_F(BackupTest, RestoringSomethingThatIsNotABackupIsRefusedAndChangesNothing) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString("kesto-OLD", "KestoID");
  const std::string dir = makeTempDir("restore");
  writeFile(dir + "/text.kestobck", "SQLite format 3 but not really");
  // A real SQLite file, but not a library.
  const std::string other = dir + "/other.kestobck";
  {
    std::string empty;
    writeFile(other, empty);
  }
  for (const std::string& path : {dir + "/text.kestobck", dir + "/missing.kestobck", other, dir}) {
    alerts->shown.clear();
    EXPECT_FALSE(restoredFrom(path)) << path;
    EXPECT_TRUE(alerts->sawTitle("Kesto Restore")) << path;
  }
  EXPECT_TRUE(has("https://kept.example/"));
  EXPECT_FALSE(fnd::FileManager::fileExists(storeFile() + ".before-restore"));
  EXPECT_EQ(defaults.stringForKey("KestoID").value_or(""), "kesto-OLD");
  EXPECT_EQ(terminated, 0);
}

// A copy of a real backup changed by `sql`.
std::string tamperedBackup(const std::string& dir, const std::string& name, const std::string& sql) {
  const std::string path = dir + "/" + name + ".kestobck";
  EXPECT_TRUE(Backup().backupToFile(path));
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* message = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << (message ? message : "");
  sqlite3_free(message);
  sqlite3_close(db);
  return path;
}

// Files that look like a backup by their table names but that the store could not open, or
// would open as an empty library, are refused before anything is swapped.
TEST_F(BackupTest, BackupsTheStoreCannotOpenAreRefusedBeforeTheSwap) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString("kesto-OLD", "KestoID");
  const std::string dir = makeTempDir("restore");
  const std::string otherColumns =
      tamperedBackup(dir, "columns", "DROP TABLE ZBOOKMARK; CREATE TABLE ZBOOKMARK (Z_PK INTEGER PRIMARY KEY, ZSOMETHING VARCHAR)");
  const std::string noMetadata = tamperedBackup(dir, "nometa", "DELETE FROM Z_METADATA");
  const std::string unknownModel = tamperedBackup(dir, "unknown", "UPDATE Z_METADATA SET Z_VALUE = 'another' WHERE Z_KEY = 'versionHash';"
                                                  "DELETE FROM Z_METADATA WHERE Z_KEY LIKE 'layout.%'");
  const std::string removedAttribute = tamperedBackup(
      dir, "removed",
      "UPDATE Z_METADATA SET Z_VALUE = 'older' WHERE Z_KEY = 'versionHash';"
      "UPDATE Z_METADATA SET Z_VALUE = Z_VALUE || char(10) || ' a:gone:String' WHERE Z_KEY = 'layout.Bookmark'");
  for (const std::string& path : {otherColumns, noMetadata, unknownModel, removedAttribute}) {
    fnd::Error error;
    EXPECT_FALSE(Backup::isValidBackupFile(path, &error)) << path;
    EXPECT_FALSE(error.localizedDescription().empty());
    alerts->shown.clear();
    EXPECT_FALSE(restoredFrom(path)) << path;
    ASSERT_TRUE(alerts->sawTitle("Kesto Restore")) << path;
    EXPECT_NE(alerts->shown.back().message.find("Nothing was changed"), std::string::npos);
  }
  EXPECT_TRUE(has("https://kept.example/"));
  EXPECT_FALSE(fnd::FileManager::fileExists(storeFile() + ".before-restore"));
  EXPECT_EQ(defaults.stringForKey("KestoID").value_or(""), "kesto-OLD");
  EXPECT_EQ(terminated, 0);
}

// SQL a foreign file carries would run inside the library once restored: a trigger that empties
// it on the next add, a view, a constraint. Only the schema Kesto writes is accepted.
TEST_F(BackupTest, BackupsWithAnotherSchemaAreRefusedWithTheReason) {
  const std::string dir = makeTempDir("schema");
  const std::pair<std::string, std::string> cases[] = {
      {"trigger", "CREATE TRIGGER ZWIPE AFTER INSERT ON ZBOOKMARK BEGIN DELETE FROM ZBOOKMARK; END"},
      {"view", "CREATE VIEW ZLOOK AS SELECT * FROM ZBOOKMARK"},
      {"index", "CREATE INDEX ZEXTRA ON ZBOOKMARK (ZTITLE)"},
      {"table", "CREATE TABLE ZOTHER (A INTEGER)"},
      {"check", "DROP TABLE Z_PRIMARYKEY; CREATE TABLE Z_PRIMARYKEY (Z_ENT INTEGER PRIMARY KEY, Z_NAME VARCHAR, "
                "Z_SUPER INTEGER, Z_MAX INTEGER CHECK (Z_MAX < 0))"},
      {"dropped-index", "DROP INDEX ZBOOKMARK_ZURL_INDEX"},
  };
  for (const auto& [name, sql] : cases) {
    const std::string path = tamperedBackup(dir, name, sql);
    fnd::Error error;
    EXPECT_FALSE(Backup::isValidBackupFile(path, &error)) << name;
    EXPECT_NE(error.localizedDescription().find("schema"), std::string::npos) << error.localizedDescription();
  }
  fnd::Error error;
  EXPECT_FALSE(Backup::isValidBackupFile(tamperedBackup(dir, "older-trigger",
                                                        "UPDATE Z_METADATA SET Z_VALUE = 'older' WHERE Z_KEY = 'versionHash';"
                                                        "CREATE TRIGGER ZWIPE AFTER INSERT ON ZBOOKMARK BEGIN SELECT 1; END"),
                                         &error));
  EXPECT_NE(error.localizedDescription().find("trigger named ZWIPE"), std::string::npos) << error.localizedDescription();
  // The untouched copy passes.
  const std::string plain = dir + "/plain.kestobck";
  ASSERT_TRUE(Backup().backupToFile(plain));
  EXPECT_TRUE(Backup::isValidBackupFile(plain, &error)) << error.localizedDescription();
}

// A pipe named like a backup would block the reader waiting for a writer: it is turned away
// before it is opened.
TEST_F(BackupTest, OnlyRegularFilesAreLookedAt) {
  const std::string pipe = makeTempDir("pipe") + "/waiting.kestobck";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  fnd::Error error;
  EXPECT_FALSE(Backup::isValidBackupFile(pipe, &error));
  EXPECT_NE(error.localizedDescription().find("not a regular file"), std::string::npos);
  EXPECT_FALSE(Backup::isValidBackupFile("/dev/null", &error));
}

// A backup from an older version whose model the store can migrate is still restored.
TEST_F(BackupTest, ABackupOfAMigratableModelIsRestored) {
  const std::string path =
      tamperedBackup(makeTempDir("restore"), "older", "UPDATE Z_METADATA SET Z_VALUE = 'older' WHERE Z_KEY = 'versionHash'");
  fnd::Error error;
  ASSERT_TRUE(Backup::isValidBackupFile(path, &error)) << error.localizedDescription();
  ASSERT_TRUE(restoredFrom(path));
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  EXPECT_TRUE(has("https://kept.example/"));
}

TEST_F(BackupTest, RestoreSwapsTheStoreKeepsThePreviousOneAndRenewsTheIdentity) {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString("kesto-OLD", "KestoID");
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  bookmark("https://later.example/", "Later", Folder::existingFolderWithFolderID("F"));
  save();

  confirmedRestore(path);
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"Yes", "No"}));
  ASSERT_TRUE(runUntil([&] { return terminated > 0; }, 5));
  EXPECT_TRUE(alerts->shown.back().message.find("restarted") != std::string::npos);
  // It names the places a Linux user starts programs from, not another platform's.
  EXPECT_NE(alerts->shown.back().message.find("applications menu"), std::string::npos);
  for (const char* elsewhere : {"Applications folder", "Dock", "Finder"})
    EXPECT_EQ(alerts->shown.back().message.find(elsewhere), std::string::npos) << elsewhere;

  // The store reopens on the restored file.
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  EXPECT_TRUE(has("https://kept.example/"));
  EXPECT_FALSE(has("https://later.example/"));
  const std::string kept = storeFile() + ".before-restore";
  ASSERT_TRUE(Backup::isValidBackupFile(kept));
  auto id = defaults.stringForKey("KestoID").value_or("");
  EXPECT_NE(id, "kesto-OLD");
  EXPECT_EQ(id.rfind("kesto-", 0), 0u);

  // Restoring the kept copy brings the later bookmark back: the restore can be undone.
  ASSERT_TRUE(restoredFrom(kept));
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  EXPECT_TRUE(has("https://later.example/"));
}

// A backup holds what an older Kesto stored: the restored library passes the same check as
// every door (texts cleaned, only addresses a library holds), the user is told how many rows
// were cleaned and how many left out, and the backup file itself stays as it was.
TEST_F(BackupTest, ARestoredLibraryIsBroughtToTheStoredFormsAndTheChangesAreCounted) {
  auto f = Folder::existingFolderWithFolderID("F");
  bookmark("javascript:alert(1)", "Script", f);
  bookmark("https://titled.example/", "Titled", f);
  bookmark("https://clean.example/", "Clean", f);
  bookmark("https://gone.example/", "Gone", f);
  bookmark("https://empty.example/", "Empty", f);
  save();
  const std::string path = tamperedBackup(
      makeTempDir("clean"), "b",
      "UPDATE ZBOOKMARK SET ZURL = 'no-scheme.example/x' WHERE ZTITLE = 'Gone';"
      "UPDATE ZBOOKMARK SET ZURL = NULL WHERE ZTITLE = 'Empty';"
      "UPDATE ZBOOKMARK SET ZTITLE = 'Ti' || char(8238) || 'tle' || char(7) WHERE ZTITLE = 'Titled';"
      "UPDATE ZFOLDER SET ZNAME = 'Fol' || char(27) || 'der' WHERE ZFOLDERID = 'F';");
  const std::string before = readFile(path);
  alerts->shown.clear();
  ASSERT_TRUE(restoredFrom(path));
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message.rfind("2 entries of the backup did not have the form the library keeps "
                                               "(control characters, overlong texts) and were cleaned. 2 entries were "
                                               "left out: 2 without an address Kesto can keep. The backup file",
                                               0),
            0u)
      << alerts->shown.back().message;
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  // Whatever the add sheet stores, a restore keeps.
  EXPECT_TRUE(has("javascript:alert(1)"));
  EXPECT_FALSE(has("no-scheme.example/x"));
  EXPECT_EQ(Bookmark::countWithPredicate(store::Predicate::parse("title == 'Empty'")), 0);
  EXPECT_TRUE(has("https://kept.example/"));
  EXPECT_TRUE(has("https://clean.example/"));
  auto titled = Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://titled.example/")));
  ASSERT_TRUE(titled);
  EXPECT_EQ(titled->title(), "Title");
  EXPECT_EQ(Folder::existingFolderWithFolderID("F")->name(), "Folder");
  EXPECT_EQ(readFile(path), before);

  // A clean backup is restored without a word about it.
  const std::string clean = makeTempDir("clean-again") + "/c.kestobck";
  ASSERT_TRUE(Backup().backupToFile(clean));
  ASSERT_TRUE(restoredFrom(clean));
  EXPECT_EQ(alerts->shown.back().message.find("entries"), std::string::npos);
}

// What the add sheet takes (any address naming its scheme) goes into a backup and comes back.
TEST_F(BackupTest, EveryAddressTheAddSheetStoresSurvivesABackupAndItsRestore) {
  auto f = Folder::existingFolderWithFolderID("F");
  const std::vector<std::string> typed{"ftp://files.example/pub", "mailto:me@a.example", "ssh://host.example",
                                       "FTP://Upper.example/"};
  for (const auto& url : typed) Bookmark::addBookmarkWithURL(url, f);
  const std::string path = makeTempDir("schemes") + "/s.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  alerts->shown.clear();
  ASSERT_TRUE(restoredFrom(path));
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  for (const char* url : {"ftp://files.example/pub", "mailto:me@a.example", "ssh://host.example", "ftp://Upper.example/"})
    EXPECT_TRUE(has(url)) << url;
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message.find("left out"), std::string::npos) << alerts->shown.back().message;
}

// A bookmark added and one changed after the backup exist only in the library a restore keeps
// beside the restored one: the question before the restore says so, and the notice after it.
TEST_F(BackupTest, TheRestoreTellsBeforeAndAfterWhatOnlyTheKeptLibraryHolds) {
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  const std::string kept = "“" + fnd::FileManager::lastPathComponent(storeFile()) + ".before-restore”";
  // Nothing since the backup: nothing is lost.
  EXPECT_EQ(Backup::restoreQuestionMessage(path),
            "Attention. This operation replaces the current Kesto library with the content of the file being restored; "
            "the current library is set aside, not erased. The backup holds every bookmark of the current library as it is now. Continue?");
  bookmark("https://after.example/", "After", Folder::existingFolderWithFolderID("F"));
  Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://kept.example/")))->saveBookmark();
  save();

  EXPECT_EQ(confirmedRestore(path),
            "Attention. This operation replaces the current Kesto library with the content of the file being restored; "
            "the current library is set aside, not erased. 1 bookmark added after the backup and 1 bookmark changed after it exist only in the "
            "current library, which is kept as " + kept + " in the folder “" + appFolder() + "”. Continue?");
  ASSERT_TRUE(runUntil([&] { return terminated > 0; }, 5));
  ASSERT_EQ(alerts->shown.size(), 2u);
  const std::string notice = alerts->shown.back().message;
  EXPECT_EQ(notice.rfind("The library before the restore was kept as " + kept + " in the folder “" + appFolder() +
                             "”. 1 bookmark added after the backup and 1 bookmark changed after it exist only in that "
                             "file. Kesto needs to be restarted",
                         0),
            0u)
      << notice;
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  EXPECT_FALSE(has("https://after.example/"));
}

// A second restore keeps the library the first one kept (the one file with the bookmark added and
// the one changed after the backup): it moves, whole, to a name dated when it was kept, and the
// question and the notice name both files and what each holds, each file once and the folder
// that holds them once.
TEST_F(BackupTest, ASecondRestoreKeepsTheLibraryTheFirstKept) {
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  bookmark("https://after.example/", "After", Folder::existingFolderWithFolderID("F"));
  Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://kept.example/")))->saveBookmark();
  save();
  confirmedRestore(path);
  ASSERT_TRUE(runUntil([&] { return terminated == 1; }, 5));
  const std::string before = storeFile() + ".before-restore", dated = "data.sqlite.before-restore-2026-03-05-14-07-09";
  ASSERT_TRUE(fnd::FileManager::setModificationDate(before, fnd::Date::withTimeIntervalSince1970(1772719629)));
  const std::string first = readFile(before);

  EXPECT_EQ(confirmedRestore(path),
            "Attention. This operation replaces the current Kesto library with the content of the file being restored; "
            "the current library is set aside, not erased. The backup holds every bookmark of the current library as it is now. The library an "
            "earlier restore kept as “data.sqlite.before-restore” in the folder “" + appFolder() + "” moves to “" +
                dated + "”; it holds 1 bookmark that the current library lacks and 1 bookmark in a later version than "
                "the current library has. Continue?");
  ASSERT_TRUE(runUntil([&] { return terminated == 2; }, 5));
  ASSERT_FALSE(alerts->shown.empty());
  const std::string notice = alerts->shown.back().message;
  EXPECT_EQ(notice.rfind("The library before the restore was kept as “data.sqlite.before-restore” in the folder “" +
                             appFolder() + "”. That file holds no bookmark that the restored library lacks. The "
                             "library an earlier restore kept under that name was moved to “" + dated + "” in the same "
                             "folder; it holds 1 bookmark that the library before this restore lacks and 1 bookmark in "
                             "a later version than the library before this restore has. Kesto needs",
                         0),
            0u)
      << notice;
  EXPECT_EQ(timesIn(notice, "“data.sqlite.before-restore”"), 1u) << notice;
  EXPECT_EQ(timesIn(notice, appFolder()), 1u) << notice;
  EXPECT_EQ(readFile(appFolder() + "/" + dated), first);
  EXPECT_TRUE(Backup::isValidBackupFile(before));
}

// The library an earlier restore kept is weighed against the library this restore replaces, which
// the user may have changed since: a bookmark changed again in between is no later in the kept one.
TEST_F(BackupTest, TheEarlierKeptLibraryIsComparedWithTheLibraryThisRestoreReplaces) {
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  const fnd::Value keptURL(std::string("https://kept.example/"));
  bookmark("https://after.example/", "After", Folder::existingFolderWithFolderID("F"));
  Bookmark::fetchEntityWhereProperty("url", keptURL)->saveBookmark();
  save();
  confirmedRestore(path);
  ASSERT_TRUE(runUntil([&] { return terminated == 1; }, 5));
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  auto changed = Bookmark::fetchEntityWhereProperty("url", keptURL);
  ASSERT_TRUE(changed);
  changed->saveBookmark();
  save();

  confirmedRestore(path);
  ASSERT_TRUE(runUntil([&] { return terminated == 2; }, 5));
  ASSERT_FALSE(alerts->shown.empty());
  const std::string notice = alerts->shown.back().message;
  EXPECT_NE(notice.find("in the same folder; it holds 1 bookmark that the library before this restore lacks. Kesto"),
            std::string::npos)
      << notice;
}

// Bookmarks only changed since the backup are said to be changed after the backup, one or more.
TEST_F(BackupTest, ChangesAloneAreToldAsChangedAfterTheBackup) {
  auto other = bookmark("https://other.example/", "Other", Folder::existingFolderWithFolderID("F"));
  save();
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  other->saveBookmark();
  EXPECT_EQ(Backup::restoreQuestionMessage(path),
            "Attention. This operation replaces the current Kesto library with the content of the file being restored; "
            "the current library is set aside, not erased. 1 bookmark changed after the backup exists only in the current library, which is "
            "kept as “data.sqlite.before-restore” in the folder “" + appFolder() + "”. Continue?");
  Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://kept.example/")))->saveBookmark();
  EXPECT_EQ(Backup::keptLibraryMessage(storeFile(), path),
            "2 bookmarks changed after the backup exist only in the kept file “data.sqlite”. ");
}

TEST_F(BackupTest, AnsweringNoLeavesTheStoreAlone) {
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  bookmark("https://later.example/", "Later", Folder::existingFolderWithFolderID("F"));
  save();
  alerts->answer = 1;
  Backup backup;
  backup.restoreFromFile(path);
  spin(0.8);
  EXPECT_TRUE(has("https://later.example/"));
  EXPECT_EQ(terminated, 0);
}

}  // namespace
}  // namespace kesto::test

namespace kesto::test {
namespace {

// Zeroes the first page of the bookmark table of the closed store file at `path`.
void destroyBookmarkTable(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, "SELECT rootpage, (SELECT page_size FROM pragma_page_size) FROM sqlite_master WHERE name = 'ZBOOKMARK'",
                     -1, &st, nullptr);
  ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
  const auto root = static_cast<std::size_t>(sqlite3_column_int(st, 0)), page = static_cast<std::size_t>(sqlite3_column_int(st, 1));
  sqlite3_finalize(st);
  sqlite3_close(db);
  std::string bytes = readFile(path);
  bytes.replace((root - 1) * page, page, std::string(page, '\0'));
  writeFile(path, bytes);
}

// A library damaged under the running program cannot be copied whole: File > Restore keeps it
// as it is under a dated name and goes on, and tells what only the kept file holds.
TEST_F(BackupTest, ARestoreOverADamagedLibraryKeepsItAsideAndGoesOn) {
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  bookmark("https://later-one.example/", "Later", Folder::existingFolderWithFolderID("F"));
  bookmark("https://later-two.example/", "Later", Folder::existingFolderWithFolderID("F"));
  save();
  auto& stack = WrenDataManager::sharedInstance();
  stack.reset();
  destroyBookmarkTable(storeFile());
  const std::string damaged = readFile(storeFile());
  alerts->shown.clear();
  ASSERT_TRUE(restoredFrom(path));
  ASSERT_TRUE(stack.managedObjectContext());
  EXPECT_TRUE(has("https://kept.example/"));
  EXPECT_FALSE(has("https://later-one.example/"));
  std::vector<std::string> kept;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(appFolder()).value_or(std::vector<std::string>{}))
    if (name.rfind("data.sqlite.damaged-", 0) == 0) kept.push_back(name);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(readFile(appFolder() + "/" + kept[0]), damaged);
  ASSERT_TRUE(alerts->sawTitle("Kesto Restore"));
  const std::string told = alerts->shown.back().message;
  // Its rows are lost with the table's page, their identifiers are still in their index.
  EXPECT_NE(told.find("The damaged library was kept as “" + kept[0] + "” in the folder “" + appFolder() +
                      "”. 2 bookmarks added after the backup exist only in that file."),
            std::string::npos)
      << told;
  EXPECT_EQ(terminated, 1);  // after the user's OK
}

// A restore over a damaged library leaves the file an earlier restore kept where it was: only the
// damaged library moves, to a dated name of its own, and the notice tells of it alone.
TEST_F(BackupTest, ARestoreOverADamagedLibraryLeavesTheEarlierKeptFileInPlace) {
  const std::string path = makeTempDir("restore") + "/b.kestobck";
  ASSERT_TRUE(Backup().backupToFile(path));
  bookmark("https://later.example/", "Later", Folder::existingFolderWithFolderID("F"));
  save();
  ASSERT_TRUE(restoredFrom(path));
  const std::string before = storeFile() + ".before-restore";
  ASSERT_TRUE(Backup::isValidBackupFile(before));
  const std::string first = readFile(before);
  auto& stack = WrenDataManager::sharedInstance();
  ASSERT_TRUE(stack.managedObjectContext());
  stack.reset();
  destroyBookmarkTable(storeFile());

  alerts->shown.clear();
  ASSERT_TRUE(restoredFrom(path));
  EXPECT_EQ(readFile(before), first);
  std::vector<std::string> moved, damaged;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(appFolder()).value_or(std::vector<std::string>{})) {
    if (name.rfind("data.sqlite.before-restore-", 0) == 0) moved.push_back(name);
    if (name.rfind("data.sqlite.damaged-", 0) == 0) damaged.push_back(name);
  }
  EXPECT_TRUE(moved.empty()) << (moved.empty() ? std::string() : moved[0]);
  EXPECT_EQ(damaged.size(), 1u);
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message.find("earlier restore"), std::string::npos) << alerts->shown.back().message;
}

// What the kept file holds beyond the restored library is counted from its rows where they read
// (added and changed since), and said without numbers when nothing reads.
TEST_F(BackupTest, WhatOnlyTheKeptLibraryHoldsIsCounted) {
  const std::string dir = makeTempDir("kept");
  const std::string restored = dir + "/restored.sqlite", kept = dir + "/kept.sqlite";
  // Two rows under one identifier (older libraries have them) count once, by the newer.
  auto twin = bookmark("https://twin.example/", "Twin", Folder::existingFolderWithFolderID("F"));
  twin->setUniqueID(Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://kept.example/")))->uniqueIDValue());
  save();
  ASSERT_TRUE(Backup().backupToFile(restored));
  Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://kept.example/")))->saveBookmark();
  bookmark("https://new.example/", "New", Folder::existingFolderWithFolderID("F"));
  save();
  ASSERT_TRUE(Backup().backupToFile(kept));
  EXPECT_EQ(Backup::keptLibraryMessage(kept, restored),
            "1 bookmark added after the backup and 1 bookmark changed after it exist only in the kept file “kept.sqlite”. ");
  EXPECT_EQ(Backup::keptLibraryMessage(kept, kept), "The kept file “kept.sqlite” holds no bookmark that the restored library lacks. ");
  const auto all = std::to_string(Bookmark::countWithPredicate(nullptr));
  EXPECT_EQ(Backup::keptLibraryMessage(kept, ""), all + " bookmarks added after the backup exist only in the kept file “kept.sqlite”. ");
  writeFile(kept, std::string(8192, 'x'));
  EXPECT_NE(Backup::keptLibraryMessage(kept, restored).find("too damaged to count them"), std::string::npos);
}

}  // namespace
}  // namespace kesto::test
