// The application delegate's pieces on their own, without the main interface: the start's
// backup waits for the first load only when there is one, the intake works without a window,
// and the quit tells of a failed save once.
#include "AppFixture.h"

#include "App/AppIntake.h"
#include "App/AppQuit.h"
#include "App/AppStartup.h"
#include "App/TransferDialogs.h"
#include "Model/ModelNotifications.h"
#include "Model/WrenEntity.h"
#include "Synchronize/Synchronizer.h"
#include "Synchronize/TestAlertResponder.h"
#include "Platform/Foundation/FileManager.h"

namespace kesto::test {
namespace {

using AppPiecesTest = AppTest;

TEST_F(AppPiecesTest, TheStartBackupWaitsForAFirstLoadOnlyWhenOneIsComing) {
  {
    AppStartup startup;
    startup.scheduleAutomaticBackup(true);
    EXPECT_TRUE(startup.automaticBackupRunning());
    spin(kAutomaticBackupDelay + 0.3);
    EXPECT_TRUE(startup.automaticBackupRunning()) << "no copy before the list is shown";
    fnd::NotificationCenter::defaultCenter().postNotificationName(UpdateFoldersNotification);
    ASSERT_TRUE(runUntil([&] { return !startup.automaticBackupRunning(); }, 10));
  }
  AppStartup alone;
  alone.scheduleAutomaticBackup(false);
  ASSERT_TRUE(runUntil([&] { return !alone.automaticBackupRunning(); }, 10));
  // A second load is no first load: nothing starts again.
  fnd::NotificationCenter::defaultCenter().postNotificationName(UpdateFoldersNotification);
  spin(kAutomaticBackupDelay + 0.1);
  EXPECT_FALSE(alone.automaticBackupRunning());
}

TEST_F(AppPiecesTest, RetinaIsAnyScreenAboveOneAndNoScreenIsNone) {
  EXPECT_FALSE(AppStartup::detectRetina({}));
  EXPECT_FALSE(AppStartup::detectRetina({1.0, 0.5}));
  EXPECT_TRUE(AppStartup::detectRetina({1.0, 1.25}));
}

TEST_F(AppPiecesTest, IntakeWithoutAWindowAddsToTheInboxAndTakesEachTextOnce) {
  AppIntake intake;
  bool asked = false;
  intake.wire({nullptr, nullptr, nullptr, [&] { return asked = true; }});
  intake.addPinUrlFromString("http://alone.example/\nnot an address");
  EXPECT_TRUE(intake.urlToBeAdded().empty());
  EXPECT_TRUE(asked);
  auto b = Bookmark::fetchEntityWhereProperty("url", fnd::Value("http://alone.example/"));
  ASSERT_TRUE(b);
  ASSERT_TRUE(b->folder());
  EXPECT_EQ(b->folder()->folderID(), Folder::kInboxID);
  // Nothing waiting: nothing added, even when asked again.
  intake.addUrlFromBrowserExtension();
  EXPECT_EQ(Bookmark::fetchEntities().value_or(Bookmark::List{}).size(), 1u);
  EXPECT_FALSE(intake.openFiles({}));
}

TEST_F(AppPiecesTest, AFailedSaveIsToldOnceAndAQuitWithNothingUnsavedGoesAtOnce) {
  auto alerts = TestAlertResponder::install();
  {
    AppQuit quit;
    const SaveFailure failure{fnd::Error(), "The disk is full", "/nowhere/data.sqlite"};
    quit.storeSaveFailed(failure);
    quit.storeSaveFailed(failure);
    ASSERT_EQ(alerts->shown.size(), 1u);
    EXPECT_NE(alerts->shown[0].message.find("The disk is full: the library at /nowhere/data.sqlite"),
              std::string::npos);
    // A store that opened writable is not called read-only.
    quit.reportReadOnlyStore();
    EXPECT_EQ(alerts->shown.size(), 1u);
    // Nothing unsaved and no sync running: the quit goes through at once, and only once.
    EXPECT_EQ(quit.applicationShouldTerminate({}), ui::TerminateReply::Now);
    quit.applicationWillTerminate();
    EXPECT_TRUE(quit.hasTerminated());
  }
  // Gone with its owner: saves no longer reach it.
  add("http://later.example/", "Later");
  TestAlertResponder::uninstall();
}

// An archive handed to Kesto (kesto path/to/X.kesto) is asked the duplicates question the File
// menu's import asks: Yes leaves out what the library holds, Cancel imports nothing, No adds all.
TEST_F(AppPiecesTest, AnArchiveHandedInAsksWhetherToSkipDuplicates) {
  auto alerts = TestAlertResponder::install();
  add("https://held.example/", "Held");
  const std::string package = makeTempDir("handed") + "/Shared.kesto";
  ASSERT_TRUE(fnd::FileManager::createDirectory(package + "/Contents", true));
  writeFile(package + "/Contents/kesto.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kesto-file><kesto-id>kesto-OTHER</kesto-id><bookmarks>"
            "<bookmark><folders><folder-id>A</folder-id></folders><title>Held</title><url>https://held.example/</url>"
            "</bookmark><bookmark><folders><folder-id>A</folder-id></folders><title>New</title>"
            "<url>https://new.example/</url></bookmark></bookmarks><folders><folder><folderID>A</folderID>"
            "<parentFolderID>_imported</parentFolderID><name>Shared</name></folder></folders></kesto-file>\n");
  auto count = [](const char* url) {
    return Bookmark::countWithPredicate(WrenEntity::propertyPredicate("url", fnd::Value(url)));
  };
  AppIntake intake;
  intake.wire({nullptr, nullptr, nullptr, [] { return true; }});
  // Each answer in turn: the import runs on a thread of its own and is waited for.
  for (int answer : {2, 0, 1}) {
    alerts->shown.clear();
    alerts->answer = answer;
    const auto before = Bookmark::countWithPredicate(nullptr);
    ASSERT_TRUE(intake.openFile(package));
    ASSERT_TRUE(runUntil([&] { return !alerts->shown.empty(); }, 5));
    EXPECT_EQ(alerts->shown[0].title, TransferDialogs::kSkipDuplicatesInArchiveQuestion);
    EXPECT_EQ(alerts->shown[0].buttons, (std::vector<std::string>{"Yes", "No", "Cancel"}));
    const int expected = answer == 2 ? 0 : answer == 0 ? 1 : 2;
    if (expected) {
      ASSERT_TRUE(runUntil([&] { return Bookmark::countWithPredicate(nullptr) - before == expected; }, 15));
    }
    // Ended once the job slot is free again.
    ASSERT_TRUE(runUntil([] { return Synchronizer::beginExclusiveJob() && (Synchronizer::endExclusiveJob(), true); },
                         15));
    EXPECT_EQ(Bookmark::countWithPredicate(nullptr) - before, expected) << "answer " << answer;
  }
  EXPECT_EQ(count("https://held.example/"), 2);
  EXPECT_EQ(count("https://new.example/"), 2);
  TestAlertResponder::uninstall();
}

}  // namespace
}  // namespace kesto::test
