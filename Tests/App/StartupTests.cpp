// Start-up and shutdown: first-run settings, the library identifier, the one-time migrations,
// the default library, a store that cannot be opened and saving on quit.
#include "AppFixture.h"

#include "App/AppStartup.h"
#include "App/PaneControllers.h"
#include "MenuBar/MenuBarWindow.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/UI/SplitView.h"
#include "Views/FlexSplitView.h"
#include "Model/Tag.h"
#include "Model/ViewUpdater.h"
#include "Platform/UI/Window.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/StandardPaths.h"
#include "Support/LogCenter.h"
#include "Support/RollingFileLogger.h"
#include "Synchronize/Synchronizer.h"
#include "Views/OverlayController.h"
#include "Views/SpinningIndicator.h"
#include "Views/DialogAlertPresenter.h"
#include "Harness/StoreConnection.h"
#include "Harness/StoreOnDisk.h"
#include "Harness/TestDialogResponder.h"
#include "Model/WrenEntity.h"
#include "Synchronize/Backup.h"
#include "Platform/UI/Alert.h"
#include "Platform/Store/Coordinator.h"

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace kesto::test {
namespace {

class StartupTest : public AppTest {};

TEST_F(StartupTest, FirstStartWritesTogglesIdentifierAndFlags) {
  // The window shown by the build may make the application active on its own, and a loaded
  // machine can then run the half-second migration before the checks below: it counts as
  // too early only when no activation came first.
  int activations = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&activations, [&](const fnd::Notification&) { ++activations; },
                                                       kApplicationDidBecomeActiveNotification);
  build(0);
  app().applicationDidFinishLaunching();
  auto& d = defaults();
  for (const char* suffix : {"", "Menu"}) {
    std::string s = suffix;
    EXPECT_TRUE(d.boolForKey("SearchTitle" + s));
    EXPECT_TRUE(d.boolForKey("SearchURL" + s));
    EXPECT_TRUE(d.boolForKey("SearchNotes" + s));
    EXPECT_TRUE(d.boolForKey("SearchFolders" + s));
    EXPECT_TRUE(d.hasValueForKey("SearchContent" + s));
    EXPECT_FALSE(d.boolForKey("SearchContent" + s));
    EXPECT_TRUE(d.boolForKey("SearchTags" + s));
  }
  // The search field's menu has written its options by now and marked them so.
  EXPECT_EQ(d.stringForKey("SearchSet").value_or(""), "Yes");
  auto id = d.stringForKey("KestoID").value_or("");
  EXPECT_EQ(id.rfind("kesto-", 0), 0u) << id;
  EXPECT_EQ(id.size(), 6u + 36u);
  EXPECT_EQ(d.stringForKey("CurrentSyncMethod").value_or("?"), "");
  EXPECT_TRUE(d.boolForKey("Version4MigratedV2"));
  EXPECT_TRUE(d.boolForKey("KestoMigratedToVersion2"));
  if (activations == 0) {
    EXPECT_FALSE(d.hasValueForKey("Version2Migrated"));
  }
  fnd::NotificationCenter::defaultCenter().removeObserver(&activations);
  app().applicationDidBecomeActive();
  EXPECT_TRUE(runUntil([&] { return d.hasValueForKey("Version2Migrated"); }, 10));
  EXPECT_TRUE(d.hasValueForKey("IsRetina"));
}

TEST_F(StartupTest, EachActivationIsAnnouncedUnderTheNameTheLinkFlowWaitsFor) {
  build(0);
  int announced = 0;
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.addObserver(&announced, [&](const fnd::Notification&) { ++announced; },
                     kApplicationDidBecomeActiveNotification);
  // The delegate the application object calls on activation, once per activation.
  ui::Application::shared().delegate()->applicationDidBecomeActive();
  EXPECT_EQ(announced, 1);
  app().applicationDidBecomeActive();
  EXPECT_EQ(announced, 2);
  center.removeObserver(&announced);
}

// The identifier belongs to the library's store: a new store gets its own even when copied
// settings name another library, the setting follows the store, and only a forced reset renews it.
TEST_F(StartupTest, IdentifierBelongsToTheStoreAndIsKeptUnlessForced) {
  defaults().setString("kesto-COPIED", "KestoID");
  build(0);
  app().resetAppId(false);  // as every start does
  const auto own = defaults().stringForKey("KestoID").value_or("");
  EXPECT_NE(own, "kesto-COPIED");
  EXPECT_EQ(own.rfind("kesto-", 0), 0u);
  defaults().setString("kesto-COPIED", "KestoID");
  app().resetAppId(false);
  EXPECT_EQ(defaults().stringForKey("KestoID").value_or(""), own);
  app().resetAppId(true);
  const auto renewed = defaults().stringForKey("KestoID").value_or("");
  EXPECT_NE(renewed, own);
  app().resetAppId(false);
  EXPECT_EQ(defaults().stringForKey("KestoID").value_or(""), renewed);
}

TEST_F(StartupTest, SyncMethodComesFromTheOldSettings) {
  defaults().setString("me@example.org", "SyncEmail");
  defaults().setBool(true, "syncUsingSkyfolder");
  build(0);
  app().migrateToKesto20();
  EXPECT_EQ(defaults().stringForKey("CurrentSyncMethod").value_or(""), "kestoapp");
}

TEST_F(StartupTest, ReleaseTwoMigrationKeepsHandSetThumbnails) {
  auto byHand = add("http://hand.example/", "Hand");
  auto fetched = add("http://fetched.example/", "Fetched");
  const fnd::Data picture{1, 2, 3};
  for (const auto& b : {byHand, fetched}) {
    b->setThumbnail(picture);
    b->setFavicon(picture);
    b->setContent(std::string("page text"));
  }
  byHand->setThumbnailManuallySet(1);
  ASSERT_TRUE(WrenEntity::saveContext());
  build(2);
  app().migrateToKesto20();
  EXPECT_EQ(byHand->thumbnail(), picture);
  EXPECT_EQ(byHand->favicon(), picture);
  EXPECT_FALSE(fetched->thumbnail());
  EXPECT_FALSE(fetched->favicon());
  EXPECT_EQ(byHand->content().value_or("?"), "");
  EXPECT_EQ(fetched->content().value_or("?"), "");
  // A second run finds its flag and changes nothing.
  fetched->setContent(std::string("again"));
  app().migrateToKesto20();
  EXPECT_EQ(fetched->content().value_or(""), "again");
}

// The one-time migrations belong to the library: a library that had them (under its own mark or
// under the settings flag of an older Kesto) keeps its locked bookmarks and page texts when it is
// opened with fresh settings, as on another account.
TEST_F(StartupTest, OneTimeMigrationsRunOncePerLibraryNotOncePerSettingsFile) {
  auto& stack = WrenDataManager::sharedInstance();
  auto& d = defaults();
  const char* const keys[] = {"Version4MigratedV2", "KestoMigratedToVersion2", "Version2Migrated"};
  auto freshSettings = [&] {
    for (const char* key : keys) d.removeObject(key);
  };
  auto runAll = [] {
    AppStartup::migrateToModelVersion4();
    AppStartup::migrateToKesto20();
    AppStartup::migrateToModelVersion2();
  };
  auto marked = [&](const char* key) {
    auto coordinator = stack.persistentStoreCoordinator();
    return coordinator && coordinator->metadata().count(key) == 1;
  };
  auto lockWithContent = [&](const char* url) {
    auto b = Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string(url)));
    b->setBlocked(1);
    b->setContent(std::string("page text"));  // the release-2.0 migration empties it
    EXPECT_TRUE(WrenEntity::saveContext());
  };
  auto lockedWithContent = [&](const char* url) {
    auto b = Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string(url)));
    return b && b->blocked() == 1 && b->content().value_or("") == "page text";
  };

  // An old library with old settings: migrated once, and marked in its store.
  add("http://locked.example/", "Locked");
  runAll();
  for (const char* key : keys) {
    EXPECT_TRUE(marked(key)) << key;
    EXPECT_TRUE(d.boolForKey(key)) << key;
  }
  lockWithContent("http://locked.example/");

  // The library opened again (the mark is in the file) with fresh settings.
  stack.reset();
  ASSERT_TRUE(stack.managedObjectContext());
  freshSettings();
  runAll();
  EXPECT_TRUE(lockedWithContent("http://locked.example/"));
  for (const char* key : keys) EXPECT_TRUE(d.boolForKey(key)) << key;  // the settings' own part still runs
  EXPECT_EQ(d.stringForKey("CurrentSyncMethod").value_or("?"), "");

  // A library migrated under the settings flag alone (an older Kesto) is marked, not migrated.
  add("http://older.example/", "Older");
  lockWithContent("http://older.example/");
  // What an older Kesto's library looks like: no marks of its own.
  onStoreConnection("DELETE FROM Z_METADATA WHERE Z_KEY IN ('Version4MigratedV2', 'KestoMigratedToVersion2', "
                    "'Version2Migrated')");
  stack.reset();
  ASSERT_TRUE(stack.managedObjectContext());
  for (const char* key : keys) ASSERT_FALSE(marked(key)) << key;
  runAll();  // the settings say done
  EXPECT_TRUE(lockedWithContent("http://older.example/"));
  for (const char* key : keys) EXPECT_TRUE(marked(key)) << key;
  freshSettings();
  runAll();
  EXPECT_TRUE(lockedWithContent("http://older.example/"));
  EXPECT_TRUE(lockedWithContent("http://locked.example/"));
}

TEST_F(StartupTest, VersionTwoMigrationMarksUnreachablePagesBroken) {
  auto lost = add("http://gone.example/", "No Title (cannot find server)");
  auto fine = add("http://fine.example/", "Fine");
  // Read before the start: the application runs the migration itself half a second after it
  // becomes active, which a loaded machine can reach while the window is still being built.
  const auto version = lost->version();
  build(2);
  app().migrateToModelVersion2();
  EXPECT_EQ(lost->broken(), 1);
  EXPECT_EQ(lost->version(), version + 1);
  EXPECT_EQ(fine->broken(), 0);
}

TEST(Retina, LargestScaleDecides) {
  EXPECT_FALSE(AppDelegate::detectRetina({}));
  EXPECT_FALSE(AppDelegate::detectRetina({1.0}));
  EXPECT_TRUE(AppDelegate::detectRetina({1.0, 2.0}));
  EXPECT_TRUE(AppDelegate::detectRetina({2.0, 1.0}));
}

TEST_F(StartupTest, EmptyLibraryGetsTheDefaultLibraryOnceWhenAsked) {
  build(0);
  app().applicationDidFinishLaunching();
  // An empty library only offers it.
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowInitialPopup);
  spin(0.1);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 0);
  fnd::NotificationCenter::defaultCenter().postNotificationName(CreateDefaultBookmarks);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 8);
  auto folders = Folder::fetchFoldersOrderedByIndex();
  std::vector<std::string> names;
  for (const auto& f : folders)
    if (f->parentFolderID() == Folder::kRootID) names.push_back(f->name());
  EXPECT_NE(std::find(names.begin(), names.end(), "Apple"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "Kesto"), names.end());
  auto apple = Folder::fetchEntityWhereProperty("name", fnd::Value("Apple"));
  ASSERT_TRUE(apple);
  EXPECT_EQ(defaults().stringForKey("currentlySelectedFolder").value_or(""), apple->folderID());
  EXPECT_EQ(Bookmark::countWithPredicate(store::Predicate::parse("isUpdating == YES")), 8);
  // Not again while bookmarks are live.
  controller().initializeEmptyLibrary();
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 8);
}

TEST_F(StartupTest, TrashedOnlyLibraryCountsAsEmpty) {
  auto b = add("http://trashed.example/", "T");
  b->setTrashed(1);
  ASSERT_TRUE(WrenEntity::saveContext());
  build(0);
  fnd::NotificationCenter::defaultCenter().postNotificationName(CreateDefaultBookmarks);
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 9);
}

TEST_F(StartupTest, StuckUpdatesAreClearedExceptHandSetThumbnails) {
  auto plain = add("http://plain.example/", "P");
  auto byHand = add("http://hand.example/", "H");
  for (const auto& b : {plain, byHand}) b->setValueForKey("isUpdating", fnd::Value(true));
  byHand->setThumbnailManuallySet(1);
  ASSERT_TRUE(WrenEntity::saveContext());
  build(2);  // the controller's awake repairs them
  EXPECT_EQ(plain->valueForKey("isUpdating").intValue(), 0);
  EXPECT_EQ(byHand->valueForKey("isUpdating").intValue(), 1);
}

// Looking for the marks reads the whole table: the interface is built and shown without waiting
// for it, and the marks found are cleared and saved a moment later.
TEST_F(StartupTest, StuckUpdatesAreFoundAfterTheInterfaceIsUpAndSaved) {
  auto stuck = add("http://stuck.example/", "S");
  auto idle = add("http://idle.example/", "I");
  stuck->setValueForKey("isUpdating", fnd::Value(true));
  ASSERT_TRUE(WrenEntity::saveContext());
  ui = MainInterface::build();
  EXPECT_EQ(stuck->valueForKey("isUpdating").intValue(), 1);
  ASSERT_TRUE(runUntil([&] { return stuck->valueForKey("isUpdating").intValue() == 0; }, 10));
  EXPECT_FALSE(idle->hasChanges());
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  auto stored = Bookmark::fetchEntityWhereProperty("url", fnd::Value("http://stuck.example/"), other);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->valueForKey("isUpdating").intValue(), 0);
}

// An interface closed before the look-up ends leaves the marks for the next start.
TEST_F(StartupTest, StuckUpdatesFoundAfterTheInterfaceWentAreLeft) {
  auto stuck = add("http://stuck.example/", "S");
  stuck->setValueForKey("isUpdating", fnd::Value(true));
  ASSERT_TRUE(WrenEntity::saveContext());
  ui = MainInterface::build();
  ui.reset();
  spin(0.3);
  EXPECT_EQ(stuck->valueForKey("isUpdating").intValue(), 1);
}

TEST_F(StartupTest, QuitIsGrantedAndSavesTheLibrary) {
  auto b = add("http://quit.example/", "Before");
  build(1);
  b->setTitle(std::string("After"));
  EXPECT_EQ(app().applicationShouldTerminate(), ui::TerminateReply::Now);
  app().applicationWillTerminate();
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  auto stored = Bookmark::fetchEntityWhereProperty("url", fnd::Value("http://quit.example/"), other);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->title().value_or(""), "After");
}

// A transport that never answers, so the run stays open until the test ends it.
class SilentSource : public SyncDataSource {
 public:
  void load() override {}
  void send(const std::string&) override {}
};

TEST_F(StartupTest, QuitWaitsForARunningSyncAndSavesWhenItEnds) {
  auto b = add("http://sync-quit.example/", "Before");
  build(1);
  auto& sync = Synchronizer::shared();
  sync.registerSource("silent", "Silent", [] { return std::make_unique<SilentSource>(); });
  defaults().setString("silent", Synchronizer::kCurrentSyncMethodKey);
  sync.sync();
  ASSERT_TRUE(sync.isRunning());
  b->setTitle(std::string("After"));

  // The quit is held while the run goes on; the run's end lets it through, saving on the way.
  // The fallback outlives the test when the quit goes through: it holds nothing of the test's
  // stack, and does nothing once the test is over.
  auto fellBack = std::make_shared<bool>(false);
  auto over = std::make_shared<bool>(false);
  fnd::DispatchQueue::main().after(0.2, [&] {
    EXPECT_TRUE(sync.isRunning());
    sync.abortSyncWithError("stopped by the test");
  });
  fnd::DispatchQueue::main().after(10, [fellBack, over] {
    if (*over) return;
    *fellBack = true;
    ui::Application::shared().replyToApplicationShouldTerminate(true);
  });
  fnd::DispatchQueue::main().async([] { ui::Application::shared().terminate(); });
  ui::Application::shared().run();
  *over = true;
  EXPECT_FALSE(*fellBack);
  EXPECT_FALSE(sync.isRunning());
  auto other = WrenDataManager::sharedInstance().newManagedObjectContext();
  auto stored = Bookmark::fetchEntityWhereProperty("url", fnd::Value("http://sync-quit.example/"), other);
  ASSERT_TRUE(stored);
  EXPECT_EQ(stored->title().value_or(""), "After");
}

TEST(StoreFailure, IsShownAndTheApplicationDoesNotStart) {
  // A file where the store's folder belongs: the store cannot be made.
  const char* data = std::getenv("XDG_DATA_HOME");
  ASSERT_TRUE(data);
  std::ofstream(std::string(data) + "/kesto") << "not a folder";
  auto presenter = std::make_shared<DialogAlertPresenter>();
  AlertPresenter::setShared(presenter);
  EXPECT_TRUE(MainInterface::presentStoreFailureIfAny());
  auto alerts = presenter->shownAlerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].windowTitle(), "The library cannot be opened");
  auto text = MainInterface::storeFailureMessage(WrenDataManager::sharedInstance().lastError());
  EXPECT_NE(text.find("data.sqlite"), std::string::npos) << text;
  // The cause of a failure is shown with it.
  fnd::Error failure("Store", 1, {{fnd::kLocalizedDescriptionKey, std::string("Failed to initialize the store")}});
  failure.setUnderlyingError(fnd::Error("Store", 259, {{fnd::kLocalizedDescriptionKey, std::string("The file is damaged")}}));
  auto shown = MainInterface::storeFailureMessage(failure);
  EXPECT_NE(shown.find("Failed to initialize the store. The file is damaged."), std::string::npos) << shown;
  EXPECT_TRUE(presenter->clickButton(0));
  EXPECT_TRUE(presenter->shownAlerts().empty());
  AlertPresenter::setShared(nullptr);
}


// A library overwritten with garbage, with automatic backups beside it: the alert offers the way
// back, and every way keeps the damaged file under a dated name.
TEST(StoreFailure, ADamagedLibraryIsRestoredChosenOrStartedAnewAndNothingIsDeleted) {
  namespace fs = std::filesystem;
  auto& stack = WrenDataManager::sharedInstance();
  const std::string store = stack.persistentStorePath(), folder = stack.applicationSupportDirectory();
  ASSERT_TRUE(stack.managedObjectContext());
  Bookmark::addBookmarkWithURL("https://older.example/", Folder::Ref());
  ASSERT_TRUE(WrenEntity::saveContext());
  Backup backup;
  const auto now = fnd::Date::now();
  ASSERT_TRUE(backup.backupToFile(folder + "/" + Backup::backupNameForDate(now.dateByAddingTimeInterval(-7200))));
  Bookmark::addBookmarkWithURL("https://newest.example/", Folder::Ref());
  ASSERT_TRUE(WrenEntity::saveContext());
  ASSERT_TRUE(backup.backupToFile(folder + "/" + Backup::backupNameForDate(now.dateByAddingTimeInterval(-3600))));
  // The newest backup does not open: the one before it is offered.
  std::ofstream(folder + "/" + Backup::backupNameForDate(now)) << "garbage";
  const std::string chosen = makeTempDir("chosen") + "/mine.kestobck";
  fs::copy_file(folder + "/" + Backup::backupNameForDate(now.dateByAddingTimeInterval(-7200)), chosen);

  auto dialogs = TestDialogResponder::install();
  AlertPresenter::setShared(std::make_shared<DialogAlertPresenter>());
  auto damage = [&] {
    stack.reset();
    for (const char* side : {"-wal", "-shm"}) fs::remove(store + side);
    std::ofstream(store, std::ios::trunc) << std::string(8192, 'x');
  };
  auto damagedCopies = [&] {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().filename().string().rfind("data.sqlite.damaged-", 0) == 0 && readFile(e.path().string()) ==
                                                                                   std::string(8192, 'x'))
        ++n;
    return n;
  };
  auto has = [](const char* url) { return Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string(url))) != nullptr; };
  auto recover = [&](std::optional<int> answer) {
    damage();
    const std::string identity = fnd::UserDefaults::standard().stringForKey("KestoID").value_or("");
    if (answer) dialogs->alertAnswers.push_back({*answer});
    bool opened = false;
    EXPECT_TRUE(MainInterface::presentStoreFailureIfAny([&] { opened = true; }));
    EXPECT_TRUE(runUntil([&] { return opened; }, 10));
    EXPECT_NE(fnd::UserDefaults::standard().stringForKey("KestoID").value_or(""), identity);
    return opened;
  };

  // The default answer restores the newest backup that opens.
  ASSERT_TRUE(recover(std::nullopt));
  ASSERT_GE(dialogs->alerts.size(), 1u);
  EXPECT_EQ(dialogs->alerts[0].message, "The library cannot be opened");
  EXPECT_EQ(dialogs->alerts[0].buttons,
            (std::vector<std::string>{"Restore Backup", "Choose Backup…", "Start a New Library", "Quit"}));
  EXPECT_TRUE(has("https://newest.example/"));
  EXPECT_EQ(damagedCopies(), 1);

  // Another backup file, chosen in the open panel.
  dialogs->openAnswers.push_back(std::vector<std::string>{chosen});
  ASSERT_TRUE(recover(ui::AlertSecondButtonReturn));
  EXPECT_TRUE(has("https://older.example/"));
  EXPECT_FALSE(has("https://newest.example/"));
  EXPECT_EQ(damagedCopies(), 2);
  EXPECT_TRUE(fs::exists(chosen));

  // A new, empty library.
  ASSERT_TRUE(recover(ui::AlertThirdButtonReturn));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 0);
  EXPECT_EQ(damagedCopies(), 3);
  // Every backup is still there.
  EXPECT_EQ(Backup::automaticBackups(folder).size(), 3u);

  AlertPresenter::setShared(nullptr);
  TestDialogResponder::uninstall();
}

// A library a newer Kesto wrote is said to be so; quitting leaves it as it is, and only opening
// another library moves it, under a name that says whose it is, never as damaged.
TEST(StoreFailure, ANewerVersionsLibraryIsNeverSetAsideUnasked) {
  namespace fs = std::filesystem;
  auto& stack = WrenDataManager::sharedInstance();
  const std::string store = stack.persistentStorePath(), folder = stack.applicationSupportDirectory();
  ASSERT_TRUE(stack.managedObjectContext());
  Bookmark::addBookmarkWithURL("https://older.example/", Folder::Ref());
  ASSERT_TRUE(WrenEntity::saveContext());
  const std::string backup = folder + "/" + Backup::backupNameForDate(fnd::Date::now());
  ASSERT_TRUE(Backup().backupToFile(backup));
  onStoreConnection("ALTER TABLE ZBOOKMARK ADD COLUMN ZREADLATER INTEGER");
  onStoreConnection("UPDATE Z_METADATA SET Z_VALUE = Z_VALUE || char(10) || ' a:readLater:Boolean' WHERE Z_KEY = 'layout.Bookmark'");
  onStoreConnection("UPDATE Z_METADATA SET Z_VALUE = 'newer' WHERE Z_KEY = 'versionHash'");
  stack.reset();
  const std::string newer = readFile(store);
  auto keptAs = [&](const std::string& prefix) {
    int n = 0;
    for (const auto& e : fs::directory_iterator(folder)) n += e.path().filename().string().rfind(prefix, 0) == 0;
    return n;
  };

  const int damagedBefore = keptAs("data.sqlite.damaged-"), newerBefore = keptAs("data.sqlite.newer-");
  auto dialogs = TestDialogResponder::install();
  AlertPresenter::setShared(std::make_shared<DialogAlertPresenter>());
  bool opened = false;
  // The default answer quits.
  EXPECT_TRUE(MainInterface::presentStoreFailureIfAny([&] { opened = true; }));
  ASSERT_TRUE(runUntil([&] { return !dialogs->alerts.empty(); }, 30));
  EXPECT_EQ(dialogs->alerts[0].buttons, (std::vector<std::string>{"Quit", "Open Another Library…"}));
  EXPECT_NE(dialogs->alerts[0].informative.find("made by a newer version of Kesto"), std::string::npos)
      << dialogs->alerts[0].informative;
  EXPECT_EQ(dialogs->alerts[0].informative.find("damaged"), std::string::npos);
  EXPECT_FALSE(opened);
  EXPECT_EQ(readFile(store), newer);
  EXPECT_EQ(keptAs("data.sqlite.damaged-"), damagedBefore);
  EXPECT_EQ(keptAs("data.sqlite.newer-"), newerBefore);

  // Opening another library (the backup) keeps it whole under a name that says so.
  dialogs->alertAnswers.push_back({ui::AlertSecondButtonReturn});
  dialogs->openAnswers.push_back(std::vector<std::string>{Backup::automaticBackups(folder).front()});
  EXPECT_TRUE(MainInterface::presentStoreFailureIfAny([&] { opened = true; }));
  EXPECT_TRUE(runUntil([&] { return opened; }, 10));
  EXPECT_TRUE(Bookmark::fetchEntityWhereProperty("url", fnd::Value(std::string("https://older.example/"))));
  EXPECT_EQ(keptAs("data.sqlite.damaged-"), damagedBefore);
  ASSERT_EQ(keptAs("data.sqlite.newer-"), newerBefore + 1);
  int keptWhole = 0;
  for (const auto& e : fs::directory_iterator(folder))
    keptWhole += e.path().filename().string().rfind("data.sqlite.newer-", 0) == 0 && readFile(e.path().string()) == newer;
  EXPECT_EQ(keptWhole, 1);
  AlertPresenter::setShared(nullptr);
  TestDialogResponder::uninstall();
  // What this test put beside the store goes with it.
  fs::remove(backup);
  for (const auto& e : fs::directory_iterator(folder))
    if (e.path().filename().string().rfind("data.sqlite.newer-", 0) == 0) fs::remove(e.path());
}

// Damage that the open did not find, met by a read while Kesto runs, gets the same way back.
TEST_F(StartupTest, DamageMetWhileRunningOffersTheWayBack) {
  AppStartup running;  // as the application delegate holds it
  auto presenter = std::make_shared<DialogAlertPresenter>();
  AlertPresenter::setShared(presenter);
  fnd::Error corrupt = fnd::Error::withDescription(fnd::kCocoaErrorDomain, 134060, "A fetch failed: database disk image is malformed");
  corrupt.mutableUserInfo()["NSSQLiteErrorDomain"] = 11;
  logDetailedError("fetch the library", &corrupt);
  ASSERT_TRUE(runUntil([&] { return !presenter->shownAlerts().empty(); }, 10));
  const auto alert = presenter->shownAlerts()[0];
  EXPECT_EQ(alert.windowTitle(), "The library cannot be opened");
  EXPECT_NE(alert.informativeText().find("the file is damaged (A fetch failed: database disk image is malformed)"),
            std::string::npos)
      << alert.informativeText();
  // ("Restore Backup" first when an automatic backup opens.)
  auto buttons = alert.buttonTitles();
  if (!buttons.empty() && buttons.front() == "Restore Backup") buttons.erase(buttons.begin());
  EXPECT_EQ(buttons, (std::vector<std::string>{"Choose Backup…", "Start a New Library", "Quit"}));
  // Once only, however many reads fail.
  logDetailedError("fetch the library", &corrupt);
  spin(0.1);
  EXPECT_EQ(presenter->shownAlerts().size(), 1u);
  AlertPresenter::setShared(nullptr);
  // The store is told of damage once per opening: the next test opens it afresh.
  WrenDataManager::sharedInstance().reset();
}

// The start's automatic backup that cannot be made is told, as a failure. One that fails because
// the library is damaged past what opening reads offers the way back for damage instead, once,
// though the check of the whole library running beside it finds the same damage.
TEST_F(StartupTest, AFailedStartBackupIsToldAndADamagedLibraryOffersTheWayBack) {
  auto& stack = WrenDataManager::sharedInstance();
  const std::string store = stack.persistentStorePath();
  auto presenter = std::make_shared<DialogAlertPresenter>();
  AlertPresenter::setShared(presenter);
  auto alertsAfterTheStartBackup = [&] {
    AppStartup startup;
    startup.scheduleAutomaticBackup(false);
    EXPECT_TRUE(runUntil([&] { return !startup.automaticBackupRunning(); }, 30));
    drainTurns();
    return presenter->shownAlerts();
  };
  std::filesystem::remove(store);  // gone from under the program: nothing to copy
  auto shown = alertsAfterTheStartBackup();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].alertStyle(), ui::AlertStyle::Warning);
  EXPECT_NE(shown[0].informativeText().find("The automatic backup of the library could not be made: There is no "
                                            "library to back up."),
            std::string::npos);
  presenter->clickButton(0);

  stack.reset();
  ASSERT_TRUE(stack.managedObjectContext() && Bookmark::addBookmarkWithURL("https://a.example/", Folder::Ref()));
  ASSERT_TRUE(WrenEntity::saveContext());
  stack.reset();
  ASSERT_TRUE(damagePastTheFirstPages(store) && stack.managedObjectContext());
  shown = alertsAfterTheStartBackup();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].windowTitle(), "The library cannot be opened");
  EXPECT_NE(shown[0].informativeText().find("the file is damaged ("), std::string::npos);
  AlertPresenter::setShared(nullptr);
  stack.reset();  // damage is told once per opening: the next test opens it afresh
}

class RecordingRegistrar : public GlobalHotKeyRegistrar {
 public:
  bool registerHotKey(const std::string& identifier, const HotKeyCombo& combo, std::function<void()> a) override {
    registered.emplace_back(identifier, combo);
    action = std::move(a);
    return accept;
  }
  void unregisterHotKey(const std::string&) override {}
  bool accept = true;
  std::vector<std::pair<std::string, HotKeyCombo>> registered;
  std::function<void()> action;
};

TEST(HotKey, StoredCodeZeroIsTheAKeyNotTheDefault) {
  auto& d = fnd::UserDefaults::standard();
  EXPECT_EQ(AppDelegate::storedHotKeyCombo(), (HotKeyCombo{35, 0x1900}));  // nothing stored
  d.setInteger(0, "kComboCode");
  d.setInteger(0x300, "kComboFlags");
  EXPECT_EQ(AppDelegate::storedHotKeyCombo(), (HotKeyCombo{0, 0x300}));
  d.setInteger(-1, "kComboCode");
  d.setInteger(-1, "kComboFlags");
  EXPECT_EQ(AppDelegate::storedHotKeyCombo(), (HotKeyCombo{35, 0x1900}));
  d.setInteger(11, "kComboCode");
  d.setInteger(0x300, "kComboFlags");
  EXPECT_EQ(AppDelegate::storedHotKeyCombo(), (HotKeyCombo{11, 0x300}));
}

TEST_F(StartupTest, HotKeyIsRegisteredAtStartAndBringsTheWindow) {
  auto registrar = std::make_shared<RecordingRegistrar>();
  AppDelegate::setHotKeyRegistrar(registrar);
  build(0);
  app().initializeHotkey();
  ASSERT_EQ(registrar->registered.size(), 1u);
  EXPECT_EQ(registrar->registered[0].first, "KestoLightSearch");
  EXPECT_EQ(registrar->registered[0].second, (HotKeyCombo{35, 0x1900}));
  EXPECT_TRUE(app().registeredHotKey());
  // The default is registered, never written.
  EXPECT_FALSE(defaults().hasValueForKey("kComboCode"));
  int reloads = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&reloads, [&](const fnd::Notification&) { ++reloads; },
                                                       BRWUpdateMenuBookmarksViewNotification);
  ui->window().orderOut();
  registrar->action();
  fnd::NotificationCenter::defaultCenter().removeObserver(&reloads);
  EXPECT_EQ(reloads, 1);
  // The menu-bar window comes, not the main window.
  EXPECT_TRUE(ui->menuBarWindow().isVisible());
  EXPECT_FALSE(ui->window().isVisible());
  AppDelegate::setHotKeyRegistrar(nullptr);
}

TEST_F(StartupTest, RefusedHotKeyIsNotRecordedAsRegistered) {
  auto registrar = std::make_shared<RecordingRegistrar>();
  registrar->accept = false;
  AppDelegate::setHotKeyRegistrar(registrar);
  build(0);
  app().initializeHotkey();
  EXPECT_FALSE(app().registeredHotKey());
  AppDelegate::setHotKeyRegistrar(nullptr);
}


TEST_F(StartupTest, MenuBarModeKeepsTheWindowHiddenUntilAsked) {
  defaults().setBool(true, "useMenuBarMode");
  sys::TrayIcon::setAvailableForTesting(true);  // the tray icon to start from
  build(0);
  ui->window().orderOut();
  app().applicationDidFinishLaunching();
  EXPECT_TRUE(app().menuBarMode());
  EXPECT_FALSE(ui->window().isVisible());
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowMainKestoWindowAndDockNotification);
  EXPECT_FALSE(app().menuBarMode());
  EXPECT_TRUE(ui->window().isVisible());
  // Closing the window keeps the application and the same window.
  EXPECT_FALSE(app().applicationShouldTerminateAfterLastWindowClosed());
  ui->window().performClose();
  app().reopenKestoWindow();
  EXPECT_TRUE(ui->window().isVisible());
  sys::TrayIcon::setAvailableForTesting(std::nullopt);
}

TEST_F(StartupTest, ActivityAndOverlayMessagesReachTheWindow) {
  build(0);
  app().applicationDidFinishLaunching();
  const auto& progress = ui->activityIndicator();
  ASSERT_TRUE(progress);
  EXPECT_EQ(progress->numberOfLines(), 10u);
  EXPECT_EQ(progress->widthOfLine(), 2.0);
  EXPECT_EQ(progress->lengthOfLine(), 8.0);
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWActivityStartedNotification);
  EXPECT_FALSE(progress->isHidden());
  fnd::NotificationCenter::defaultCenter().postNotificationName(BRWActivityEndedNotification);
  EXPECT_TRUE(progress->isHidden());
  ViewUpdater::showMessage("Bookmark moved", 300, 100, 1);
  ASSERT_TRUE(app().overlay());
  EXPECT_TRUE(app().overlay()->isOverlay());
  EXPECT_EQ(app().overlay()->targetView(), ui->window().contentView());
  // A second message keeps its own time: the first one's timer does not end it. A mark due a
  // second after the second message comes after the first one's end and well before the
  // second's, however late the timers run.
  ViewUpdater::showMessage("Bookmark copied", 300, 100, 3);
  struct Mark {
    bool reached = false, shown = false;
  };
  auto mark = std::make_shared<Mark>();
  auto* overlay = app().overlay();
  // Held weakly: a mark still pending when the test ends touches nothing.
  fnd::DispatchQueue::main().after(1, [weak = std::weak_ptr<Mark>(mark), overlay] {
    auto mark = weak.lock();
    if (!mark) return;
    mark->reached = true;
    mark->shown = overlay->isOverlay();
  });
  ASSERT_TRUE(runUntil([&] { return mark->reached; }, 30));
  EXPECT_TRUE(mark->shown);
  EXPECT_TRUE(runUntil([&] { return !app().overlay()->isOverlay(); }, 30));
}


TEST_F(StartupTest, LoggingReachesARollingFileInTheLogsFolder) {
  build(0);
  app().initializeLogging();
  fnd::logWarning("start-up logging check");
  LogCenter::flush();
  std::string all;
  for (const auto& entry : std::filesystem::directory_iterator(fnd::StandardPaths::logsDirectory()))
    all += readFile(entry.path().string());
  EXPECT_NE(all.find("start-up logging check"), std::string::npos);
  auto loggers = LogCenter::allLoggers();
  EXPECT_EQ(loggers.size(), 2u);
  for (const auto& l : loggers)
    if (auto file = std::dynamic_pointer_cast<RollingFileLogger>(l)) {
      EXPECT_EQ(file->maximumFileSize(), 1048576u);
      EXPECT_EQ(file->rollingFrequency(), 86400.0);
      EXPECT_EQ(file->logFileManager()->maximumNumberOfLogFiles(), 7u);
    }
  LogCenter::removeAllLoggers();
}

// A cache folder left open to everyone (by an older version, another program, a lax umask) is
// closed to others by the start, and what it holds stays.
TEST_F(StartupTest, StartClosesAnOpenCacheFolderAndKeepsItsFiles) {
  const std::string cache = fnd::StandardPaths::cachesDirectory() + "/kesto";
  std::filesystem::create_directories(cache);
  writeFile(cache + "/kept", "cached");
  ASSERT_EQ(::chmod(cache.c_str(), 0777), 0);
  build(0);
  app().applicationDidFinishLaunching();
  struct stat st {};
  ASSERT_EQ(::stat(cache.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u) << std::oct << (st.st_mode & 07777);
  EXPECT_EQ(readFile(cache + "/kept"), "cached");
}

class FakeSidebar : public SidebarPane {
 public:
  explicit FakeSidebar(int* awakened) : awakened_(awakened), view_(std::make_shared<ui::View>()) {}
  std::shared_ptr<ui::View> view() override { return view_; }
  void setDataManager(DataManager* dm) override { dataManager = dm; }
  void awakeFromNib() override { ++*awakened_; }
  DataManager* dataManager = nullptr;

 private:
  int* awakened_;
  std::shared_ptr<ui::View> view_;
};

TEST_F(StartupTest, ARegisteredSidebarFillsTheFirstPane) {
  int awakened = 0;
  FakeSidebar* made = nullptr;
  registerSidebarPaneFactory([&] {
    auto s = std::make_unique<FakeSidebar>(&awakened);
    made = s.get();
    return s;
  });
  build(0);
  registerSidebarPaneFactory(nullptr);
  ASSERT_TRUE(made);
  EXPECT_EQ(&ui->sidebarPane(), made);
  EXPECT_EQ(made->dataManager, &dm());
  EXPECT_EQ(awakened, 1);
  ASSERT_EQ(ui->splitView()->subviews().size(), 2u);
  EXPECT_EQ(ui->splitView()->subviews()[0], made->view());
  ASSERT_EQ(ui->inspectorSplitView()->subviews().size(), 1u);
  EXPECT_EQ(ui->inspectorSplitView()->subviews()[0], ui->inspectorController().view());
  EXPECT_NEAR(ui->bottomBar()->frame().size.height, MainInterface::kBottomBarHeight, 0.01);
}

}  // namespace
}  // namespace kesto::test
