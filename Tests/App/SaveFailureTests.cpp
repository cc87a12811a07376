// A store that will not take changes (a full disk, a read-only file): the user is told once,
// with the cause and the store's path; what was added stays in memory, is saved with the next
// change once the store takes it again, and a quit offers to export what was never saved.
#include "AppFixture.h"
#include "Views/KestoTitleTextView.h"

#include "App/EditorController.h"
#include "Model/ViewUpdater.h"
#include "Platform/UI/TextField.h"

#include "Harness/StoreConnection.h"
#include "Harness/StoreOnDisk.h"
#include "Model/WrenEntity.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Model/Tag.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLImport.h"

#include <fcntl.h>
#include <optional>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace kesto::test {
namespace {

class SaveFailureTest : public AppTestWithAlerts {
 protected:

  // Rows as another program reading the file finds them.
  int bookmarksOnDisk() { return bookmarkRowsOnDisk(storePath()); }

  static std::string storePath() { return WrenDataManager::sharedInstance().persistentStorePath(); }

  static std::string manyLongAddresses(const std::string& stem, int count) {
    std::string text;
    for (int i = 0; i < count; ++i) text += "https://" + stem + std::to_string(i) + ".example/" + std::string(3000, 'p') + "\n";
    return text;
  }

  // Added as a later launch hands them over; answers what the launch is told once they are
  // saved or could not be.
  std::optional<bool> handOver(const std::string& text) {
    std::optional<bool> saved;
    app().handleArguments({"--add-text", text}, [&](bool s) { saved = s; });
    EXPECT_TRUE(runUntil([&] { return saved.has_value(); }));
    drainTurns();
    return saved;
  }
  // Added as a drop on the window does, the save and the refreshes after it done.
  void drop(const std::string& text) {
    app().addPinUrlFromString(text);
    drainTurns();
  }
};

TEST_F(SaveFailureTest, AFullDiskIsToldOnceKeepsWhatIsInMemoryAndIsRetriedWithTheNextChange) {
  build(0);
  const int pages = onStoreConnection("PRAGMA page_count");
  ASSERT_GT(pages, 0);
  onStoreConnection("PRAGMA max_page_count = " + std::to_string(pages));

  drop(manyLongAddresses("full", 40));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Kesto cannot save your library");
  EXPECT_NE(alerts->shown[0].message.find("No space is left on the disk"), std::string::npos) << alerts->shown[0].message;
  EXPECT_NE(alerts->shown[0].message.find(storePath()), std::string::npos);
  EXPECT_TRUE(WrenEntity::lastSaveFailed());
  EXPECT_EQ(bookmarksOnDisk(), 0);
  // Nothing is dropped from memory: the list shows all of it.
  EXPECT_EQ(Bookmark::fetchEntities().value_or(Bookmark::List{}).size(), 40u);
  EXPECT_TRUE(runUntil([&] { return dm().bookmarks().size() == 40; }));

  // Told once, not at every failed save; a launch handing over hears its addresses are not saved.
  EXPECT_EQ(handOver("https://second.example/"), false);
  EXPECT_EQ(alerts->shown.size(), 1u);

  // Space again: the next change saves everything that waited.
  onStoreConnection("PRAGMA max_page_count = 1073741823");
  EXPECT_EQ(handOver("https://third.example/"), true);
  EXPECT_FALSE(WrenEntity::lastSaveFailed());
  EXPECT_EQ(bookmarksOnDisk(), 42);
  EXPECT_EQ(alerts->shown.size(), 1u);
}

// The list's own roads (adding, deleting) save through the same path: a failed
// save is told, and what it held is still there and saved with the next change.
TEST_F(SaveFailureTest, TheListsAddAndDeleteTellAFailedSave) {
  build(0);
  controller().setAddDelay(0);
  const int pages = onStoreConnection("PRAGMA page_count");
  onStoreConnection("PRAGMA max_page_count = " + std::to_string(pages));
  std::vector<std::string> many;
  for (int i = 0; i < 40; ++i) many.push_back("https://sheet" + std::to_string(i) + ".example/" + std::string(3000, 'p'));
  controller().doAddBookmarks(many);
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown[0].title, "Kesto cannot save your library");
  EXPECT_EQ(bookmarksOnDisk(), 0);
  onStoreConnection("PRAGMA max_page_count = 1073741823");
  auto list = Bookmark::fetchEntities().value_or(Bookmark::List{});
  ASSERT_FALSE(list.empty());
  dm().setSelectedBookmarks({list.front()});
  controller().deleteBookmarks();
  EXPECT_FALSE(WrenEntity::lastSaveFailed());
  EXPECT_EQ(bookmarksOnDisk(), static_cast<int>(list.size()));
}

// An inspector edit the store refuses is told, and stays on the bookmark for the next save.
TEST_F(SaveFailureTest, AnInspectorEditTheStoreRefusesIsTold) {
  auto b = Bookmark::addBookmarkWithURL("https://edited.example/", Folder::Ref());
  b->saveBookmark();
  build(1);
  auto& editor = dynamic_cast<EditorController&>(ui->inspectorController());
  // Selected in the list, as the inspector shows only what is selected there.
  dm().setSelectedBookmarks({b});
  dm().setCurrentBookmark(b);
  ViewUpdater::updateInspector();
  onStoreConnection("PRAGMA query_only = 1");
  editor.views().notes->setStringValue("kept in memory");
  editor.views().notes->sendAction();
  ASSERT_EQ(alerts->shown.size(), 1u);
  // Told as a store that no longer takes changes.
  EXPECT_NE(alerts->shown[0].title.find("your library"), std::string::npos) << alerts->shown[0].title;
  EXPECT_NE(alerts->shown[0].message.find(storePath()), std::string::npos);
  EXPECT_TRUE(WrenEntity::lastSaveFailed());
  EXPECT_EQ(b->notes().value_or(""), "kept in memory");
  onStoreConnection("PRAGMA query_only = 0");
  editor.views().title->setStringValue("Saved at last");
  editor.views().title->sendAction();
  EXPECT_FALSE(WrenEntity::lastSaveFailed());
}

TEST_F(SaveFailureTest, AReadOnlyStoreIsSaidAtStartAndAQuitOffersToExportWhatWasNotSaved) {
  build(0);
  onStoreConnection("PRAGMA query_only = 1");
  app().applicationDidFinishLaunching();
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Kesto opened your library read-only");
  EXPECT_NE(alerts->shown[0].message.find(storePath()), std::string::npos);

  drop("https://kept.example/a?b=<c>\nhttps://also.example/");
  EXPECT_EQ(alerts->shown.size(), 1u) << "the start already said it";
  EXPECT_EQ(bookmarksOnDisk(), 0);

  // Cancel keeps the application running with everything in memory.
  alerts->answer = 2;
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Later);
  ASSERT_EQ(alerts->shown.size(), 2u);
  EXPECT_EQ(alerts->shown[1].title, "Some changes could not be saved");
  EXPECT_NE(alerts->shown[1].message.find("The library file is read-only"), std::string::npos);
  EXPECT_NE(alerts->shown[1].message.find("2 new or changed bookmarks"), std::string::npos);

  // Exporting writes them into a file beside the library, only the user may read.
  alerts->answer = 0;
  const std::string folder = fnd::FileManager::deletingLastPathComponent(storePath());
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Later);
  std::string exported;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
    if (name.rfind("Unsaved bookmarks ", 0) == 0) exported = folder + "/" + name;
  ASSERT_FALSE(exported.empty());
  auto html = fnd::FileManager::readFile(exported).value_or("");
  EXPECT_NE(html.find("HREF=\"https://kept.example/a?b=&lt;c&gt;\""), std::string::npos) << html;
  EXPECT_NE(html.find("https://also.example/"), std::string::npos);
  EXPECT_EQ(fnd::FileManager::attributesOfItem(exported)->permissions, 0600u);
}

TEST_F(SaveFailureTest, AWritableStoreSaysNothingAndQuitsAtOnce) {
  build(0);
  app().applicationDidFinishLaunching();
  drop("https://fine.example/");
  EXPECT_EQ(bookmarksOnDisk(), 1);
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Now);
  EXPECT_TRUE(alerts->shown.empty());
}

// The library's file is moved away (or deleted) under the running program: saving fails, and the
// user is told what happened, not that the file is read-only.
TEST_F(SaveFailureTest, ALibraryMovedAwayWhileRunningIsNotCalledReadOnly) {
  build(0);
  app().applicationDidFinishLaunching();
  // The start's backup reads the library a moment later: moved away under it, that copy would
  // fail and say so too, however late a loaded machine runs it.
  ASSERT_TRUE(runUntil([&] { return !app().automaticBackupRunning(); }));
  drop("https://before.example/");
  ASSERT_TRUE(alerts->shown.empty());
  const std::string moved = tempHome() + "/elsewhere.sqlite";
  ASSERT_EQ(::rename(storePath().c_str(), moved.c_str()), 0);
  drop("https://after.example/");
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Kesto cannot save your library");
  EXPECT_NE(alerts->shown[0].message.find("moved or deleted while Kesto was running"), std::string::npos)
      << alerts->shown[0].message;
  EXPECT_EQ(alerts->shown[0].message.find("read-only"), std::string::npos) << alerts->shown[0].message;
  alerts->answer = 2;
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Later);
  ASSERT_EQ(alerts->shown.size(), 2u);
  EXPECT_NE(alerts->shown[1].message.find("moved or deleted"), std::string::npos) << alerts->shown[1].message;
}

// A library file emptied under the running program (another program truncated it) is said to be
// damaged, in words, not as the SQL that failed; the way back it offers keeps what was only in
// memory before the backup takes the library's place, as a quit does, and says where.
TEST_F(SaveFailureTest, ALibraryEmptiedWhileRunningIsDamagedAndItsRestoreKeepsWhatWasInMemory) {
  build(0);
  app().applicationDidFinishLaunching();
  ASSERT_TRUE(runUntil([&] { return !app().automaticBackupRunning(); }));
  const std::string folder = fnd::FileManager::deletingLastPathComponent(storePath());
  ASSERT_FALSE(Backup::automaticBackups(folder).empty());
  ASSERT_EQ(::truncate(storePath().c_str(), 0), 0);
  alerts->answer = 0;  // Restore Backup, then OK
  drop("https://handed.example/");
  ASSERT_TRUE(runUntil([&] { return alerts->sawTitle("Kesto Restore"); }));
  for (const auto& shown : alerts->shown) {
    EXPECT_EQ(shown.message.find("no such table"), std::string::npos) << shown.title << ": " << shown.message;
    EXPECT_EQ(shown.message.find("Z_PRIMARYKEY"), std::string::npos) << shown.title << ": " << shown.message;
  }
  ASSERT_EQ(alerts->shown[0].title, "Kesto cannot save your library");
  EXPECT_NE(alerts->shown[0].message.find("The library file is damaged"), std::string::npos) << alerts->shown[0].message;
  ASSERT_TRUE(alerts->sawTitle("The library cannot be opened"));
  std::string exported;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{}))
    if (name.rfind("Unsaved bookmarks ", 0) == 0) exported = folder + "/" + name;
  ASSERT_FALSE(exported.empty());
  EXPECT_NE(fnd::FileManager::readFile(exported).value_or("").find("https://handed.example/"), std::string::npos);
  const auto& restored = alerts->shown.back();
  EXPECT_EQ(restored.title, "Kesto Restore");
  EXPECT_NE(restored.message.find("“" + exported + "”"), std::string::npos) << restored.message;
  EXPECT_NE(restored.message.find("File > Import Bookmarks"), std::string::npos) << restored.message;
}

// Notes typed into a bookmark the emptied library held fit in no file Kesto can write (the library
// cannot be copied, a bookmark file holds no notes): the way back says so and, answered "Keep
// Kesto Running", leaves the library and what is in memory as they are.
TEST_F(SaveFailureTest, ChangesNoFileCanHoldAreToldBeforeADamagedLibraryIsReplaced) {
  auto b = Bookmark::addBookmarkWithURL("https://held.example/", Folder::Ref());
  ASSERT_TRUE(b->saveBookmark());
  build(1);
  app().applicationDidFinishLaunching();
  ASSERT_TRUE(runUntil([&] { return !app().automaticBackupRunning(); }));
  ASSERT_EQ(::truncate(storePath().c_str(), 0), 0);
  alerts->answer = 0;  // Restore Backup, then Keep Kesto Running
  b->setNotes("typed after the library was emptied");
  EXPECT_FALSE(b->saveBookmark());
  ASSERT_TRUE(runUntil([&] { return alerts->sawTitle("Some changes are in no file"); }));
  drainTurns();
  const auto& told = alerts->shown.back();
  EXPECT_EQ(told.title, "Some changes are in no file");
  EXPECT_NE(told.message.find("in no file"), std::string::npos) << told.message;
  EXPECT_NE(told.message.find("the library file is damaged"), std::string::npos) << told.message;
  EXPECT_FALSE(alerts->sawTitle("Kesto Restore"));
  EXPECT_EQ(b->notes().value_or(""), "typed after the library was emptied");
}

// The same on a real disk: a small file system of its own that fills up, then is made
// read-only. Needs the right to mount (it runs in a mount namespace of its own, so nothing
// outlives the test); skipped elsewhere.
class RealDiskTest : public SaveFailureTest {
 protected:
  void SetUp() override {
    disk = tempHome() + "/disk";
    ASSERT_TRUE(fnd::FileManager::createDirectory(disk, true));
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=4m") != 0)
      GTEST_SKIP() << "no right to mount a file system here";
    // The store lives on the small disk from its first open.
    WrenDataManager::sharedInstance().reset();
    setenv("XDG_DATA_HOME", disk.c_str(), 1);
    SaveFailureTest::SetUp();
  }
  // Fills what is left of the disk.
  void fill() {
    int fd = ::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::string block(4096, 'f');
    while (::write(fd, block.data(), block.size()) > 0) {
    }
    ::close(fd);
  }
  std::string disk;
};

TEST_F(RealDiskTest, AFullDiskThenARemountedReadOnlyStore) {
  build(0);
  drop("https://before.example/");
  ASSERT_EQ(bookmarksOnDisk(), 1);
  fill();
  drop(manyLongAddresses("full", 60));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_NE(alerts->shown[0].message.find("No space is left on the disk"), std::string::npos) << alerts->shown[0].message;
  EXPECT_EQ(bookmarksOnDisk(), 1);
  ::unlink((disk + "/filler").c_str());
  drop("https://after.example/");
  EXPECT_EQ(bookmarksOnDisk(), 62);

  // Read-only from the next start on.
  ui.reset();
  WrenDataManager::sharedInstance().reset();
  ASSERT_EQ(::mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  alerts->shown.clear();
  build(62);
  app().applicationDidFinishLaunching();
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown[0].title, "Kesto opened your library read-only");
  // The start's backup, a moment later, has no place to go on this disk and says so: told before
  // the next change, however late a loaded machine runs it.
  ASSERT_TRUE(runUntil([&] { return !app().automaticBackupRunning(); }));
  const std::size_t told = alerts->shown.size();
  drop("https://unsaved.example/");
  EXPECT_EQ(alerts->shown.size(), told) << "the start already said the library is read-only";
  EXPECT_EQ(bookmarksOnDisk(), 62);
  // The list takes the unsaved bookmark on the hand-over's next turn of the event loop.
  EXPECT_TRUE(runUntil([&] { return dm().bookmarks().size() == 63u; }));
  // The library's folder takes no file either: the export goes to the documents folder.
  alerts->answer = 0;
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Later);
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_NE(alerts->shown.back().message.find(fnd::StandardPaths::documentsDirectory() + "/Unsaved bookmarks "),
            std::string::npos)
      << alerts->shown.back().message;
  bool exported = false;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(fnd::StandardPaths::documentsDirectory())
                              .value_or(std::vector<std::string>{}))
    exported = exported || name.rfind("Unsaved bookmarks ", 0) == 0;
  EXPECT_TRUE(exported);
}

// The disk fills up while Kesto runs: the export at the quit cannot go beside the library either,
// so it goes to the documents folder, and the user is told where.
TEST_F(RealDiskTest, AFullDiskAtTheQuitExportsToTheDocumentsFolderAndSaysWhere) {
  build(0);
  fill();
  drop(manyLongAddresses("full", 20));
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(bookmarksOnDisk(), 0);
  alerts->answer = 0;
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Later);
  ASSERT_EQ(alerts->shown.size(), 3u);
  EXPECT_EQ(alerts->shown[1].title, "Some changes could not be saved");
  EXPECT_EQ(alerts->shown[2].title, "Unsaved changes kept");
  const std::string documents = fnd::StandardPaths::documentsDirectory();
  EXPECT_NE(alerts->shown[2].message.find("“" + documents + "/Unsaved bookmarks "), std::string::npos)
      << alerts->shown[2].message;
  std::string exported;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(documents).value_or(std::vector<std::string>{}))
    if (name.rfind("Unsaved bookmarks ", 0) == 0) exported = documents + "/" + name;
  ASSERT_FALSE(exported.empty());
  EXPECT_NE(fnd::FileManager::readFile(exported).value_or("").find("https://full19.example/"), std::string::npos);
  const std::string library = fnd::FileManager::deletingLastPathComponent(storePath());
  for (const auto& name : fnd::FileManager::contentsOfDirectory(library).value_or(std::vector<std::string>{}))
    EXPECT_EQ(name.find("Unsaved "), std::string::npos) << "a partial file left beside the library: " << name;
}

// An import the full disk refuses says why.
TEST_F(RealDiskTest, AnImportTheFullDiskRefusesSaysSo) {
  build(0);
  fill();
  const std::string file = tempHome() + "/bookmarks.html";
  std::string html = "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n<DL><p>\n";
  for (int i = 0; i < 200; ++i)
    html += "<DT><A HREF=\"https://import" + std::to_string(i) + ".example/" + std::string(2000, 'i') + "\">i</A>\n";
  ASSERT_TRUE(fnd::FileManager::writeFile(file, html + "</DL><p>\n"));
  HTMLImport import;
  std::optional<bool> imported;
  import.setCompletionHandler([&](bool ok) { imported = ok; });
  ASSERT_TRUE(import.importFromFile(file));
  ASSERT_TRUE(runUntil([&] { return imported.has_value(); }));
  EXPECT_FALSE(*imported);
  ASSERT_TRUE(alerts->sawTitle("Import failed"));
  EXPECT_NE(alerts->shown.back().message.find("No space is left on the disk"), std::string::npos)
      << alerts->shown.back().message;
  EXPECT_EQ(bookmarksOnDisk(), 0);
}

// What could not be saved goes whole into a file Kesto brings back: every field typed into a
// bookmark the library holds, a new bookmark and a deletion, in a backup that File > Restore
// Library takes; the message names it and says how. Nothing of it is left on the full disk.
TEST_F(RealDiskTest, EveryUnsavedChangeIsInABackupThatRestoresIt) {
  auto kept = Bookmark::addBookmarkWithURL("https://kept.example/", Folder::Ref());
  auto gone = Bookmark::addBookmarkWithURL("https://gone.example/", Folder::Ref());
  ASSERT_TRUE(kept->saveBookmark());
  build(2);
  fill();
  kept->setNotes("typed while the disk was full");
  kept->setRating(4.0);
  kept->setColor("red");
  kept->setIsFavorite(1);
  kept->setLogin("me");
  kept->setPassword("c2VjcmV0");
  auto tag = Tag::initEntity();
  tag->setName("unsaved-tag");
  kept->addTag(tag);
  EXPECT_FALSE(kept->saveBookmark());
  gone->deleteBookmark();
  drop("https://new.example/" + std::string(3000, 'n'));
  EXPECT_EQ(bookmarksOnDisk(), 2);

  alerts->answer = 0;
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Later);
  ASSERT_GE(alerts->shown.size(), 2u);
  EXPECT_NE(alerts->shown[alerts->shown.size() - 2].message.find("and other changes"), std::string::npos)
      << alerts->shown[alerts->shown.size() - 2].message;
  const auto& told = alerts->shown.back();
  EXPECT_EQ(told.title, "Unsaved changes kept") << told.message;
  const std::string documents = fnd::StandardPaths::documentsDirectory();
  std::string backup;
  for (const auto& name : fnd::FileManager::contentsOfDirectory(documents).value_or(std::vector<std::string>{}))
    if (name.rfind("Unsaved changes ", 0) == 0) backup = documents + "/" + name;
  ASSERT_FALSE(backup.empty()) << told.message;
  EXPECT_NE(told.message.find("“" + backup + "”"), std::string::npos) << told.message;
  EXPECT_NE(told.message.find("File > Restore Library"), std::string::npos) << told.message;
  EXPECT_EQ(fnd::FileManager::attributesOfItem(backup)->permissions, 0600u);
  for (const auto& name : fnd::FileManager::contentsOfDirectory(disk + "/kesto").value_or(std::vector<std::string>{}))
    EXPECT_TRUE(name.rfind("data.sqlite", 0) == 0 || name.find(".kestobck") != std::string::npos) << name;

  // Room again, then the backup restored as the File menu does: every change is in the library.
  ui.reset();
  WrenDataManager::sharedInstance().reset();
  ::unlink((disk + "/filler").c_str());
  Backup restore;
  restore.setFromPath(backup);
  ASSERT_TRUE(restore.doStartRestore());
  WrenDataManager::sharedInstance().reset();
  EXPECT_EQ(bookmarksOnDisk(), 2);
  auto back = Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://kept.example/"));
  ASSERT_TRUE(back);
  EXPECT_EQ(back->notes().value_or(""), "typed while the disk was full");
  EXPECT_EQ(back->rating().value_or(0), 4.0);
  EXPECT_EQ(back->color().value_or(""), "red");
  EXPECT_EQ(back->isFavorite(), 1);
  EXPECT_EQ(back->login().value_or(""), "me");
  EXPECT_EQ(back->password().value_or(""), "c2VjcmV0");
  ASSERT_EQ(back->tags().size(), 1u);
  EXPECT_EQ(back->tags()[0]->name(), "unsaved-tag");
  EXPECT_FALSE(Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://gone.example/")));
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("url", fnd::Value("https://new.example/" + std::string(3000, 'n'))));
}

}  // namespace
}  // namespace kesto::test
