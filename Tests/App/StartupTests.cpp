// Start-up and shutdown: first-run settings, the library identifier, the one-time migrations,
// the default library, a store that cannot be opened and saving on quit.
#include "AppFixture.h"

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
#include "Harness/TestDialogResponder.h"
#include "Model/WrenEntity.h"
#include "Synchronize/Backup.h"
#include "Platform/UI/Alert.h"

#include <filesystem>
#include <fstream>

namespace kesto::test {
namespace {

class StartupTest : public AppTest {};

TEST_F(StartupTest, FirstStartWritesTogglesIdentifierAndFlags) {
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
  EXPECT_FALSE(d.hasValueForKey("Version2Migrated"));
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
  // A second message keeps its own time: the first one's timer does not end it.
  spin(0.6);
  ViewUpdater::showMessage("Bookmark copied", 300, 100, 1);
  spin(0.6);
  EXPECT_TRUE(app().overlay()->isOverlay());
  EXPECT_TRUE(runUntil([&] { return !app().overlay()->isOverlay(); }, 10));
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
