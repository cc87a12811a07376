// The File menu's import, export, backup and restore dialogs, the sheets on the library window,
// the first-run panel and the import sheet, each answered by the test dialog responder.
#include "AppFixture.h"
#include "App/AppCommands.h"
#include "Platform/UI/Label.h"

#include "App/ShellPanels.h"
#include "App/TransferDialogs.h"
#include "Harness/AnswerTable.h"
#include "Harness/TestDialogResponder.h"
#include "Model/Base64.h"
#include "Model/Config.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/System/Workspace.h"
#include "Platform/UI/Alert.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/FilePanel.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Menu.h"
#include "Platform/UI/Window.h"
#include "Synchronize/Backup.h"
#include "Synchronize/HTMLImport.h"
#include "Views/KestoPanel.h"

#include <sys/stat.h>

namespace kesto::test {
namespace {

const std::string kChromium = std::string(KESTO_TEST_DATA_DIR) + "/../../Synchronize/Data/Import/chromium.html";

class DialogTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    responder = TestDialogResponder::install();
  }
  void TearDown() override {
    AppTest::TearDown();
    TestDialogResponder::uninstall();
    sys::Workspace::setLauncher(nullptr);
  }
  void start(std::size_t rows) {
    build(rows);
    app().applicationDidFinishLaunching();
  }
  TransferDialogs& dialogs() { return app().transferDialogs(); }
  // Whether a restore kept the library it replaced beside the store.
  static bool copyBeforeRestoreExists() {
    return fnd::FileManager::fileExists(WrenDataManager::sharedInstance().persistentStorePath() +
                                        Backup::kBeforeRestoreSuffix);
  }
  // Chooses Restore with `file` as the answer of its file panel.
  void restoreFrom(const std::string& file) {
    responder->openAnswers.push_back(std::vector<std::string>{file});
    dialogs().openRestoreDialog();
  }
  ShellPanels& panels() { return app().panels(); }
  bool alertSeen(const std::string& title) const {
    for (const auto& a : responder->alerts)
      if (a.message == title) return true;
    return false;
  }
  static ui::Button* buttonTitled(ui::Window& window, const std::string& title) {
    for (const auto& v : window.contentView()->subviews())
      if (auto* b = dynamic_cast<ui::Button*>(v.get()); b && b->title() == title) return b;
    return nullptr;
  }
  std::size_t backdrops() {
    std::size_t n = 0;
    for (const auto& v : ui->window().contentView()->subviews()) n += v == panels().backdrop();
    return n;
  }
  // The first-run panel's timer fires late on a loaded or paused machine: waits for it end as
  // soon as what they wait for happens, and only a timer that never fires runs them out.
  static constexpr double kLateTimer = 120;
  // Counts the first-run panel's tries (each asks whether the library is still empty).
  void countPopupTries() {
    panels().libraryIsEmpty = [this, empty = panels().libraryIsEmpty] {
      ++popupTries;
      return !empty || empty();
    };
  }
  // Waits for the next try and for what it queued on the main loop.
  void waitForAPopupTry() {
    const int target = popupTries + 1;
    ASSERT_TRUE(runUntil([&] { return popupTries >= target; }, kLateTimer)) << "the panel's timer never fired";
    drainTurns();
  }

  std::shared_ptr<TestDialogResponder> responder;
  int popupTries = 0;
};

TEST(ImportKind, FollowsTheExtensionWhateverItsCase) {
  using K = TransferDialogs::ImportKind;
  expectAnswers<std::string, K>(TransferDialogs::importKindOfPath,
                                {{"/a/bookmarks.html", K::HTML},
                                 {"/a/bookmarks.htm", K::HTML},
                                 {"/a/BOOKMARKS.HTML", K::HTML},
                                 {"/a/bookmarks", K::HTML},
                                 {"/a/Shared.kesto", K::SharedFolder},
                                 {"/a/old.kestobck", K::None},
                                 {"/a/notes.txt", K::None}});
}

TEST(SuggestedNames, CarryTheDayInMediumStyle) {
  // 5 December 2026, midday GMT.
  fnd::Date day = fnd::Date::withTimeIntervalSince1970(1796472000);
  auto backup = TransferDialogs::backupFileName(day);
  EXPECT_EQ(backup.rfind("Kesto Backup [ ", 0), 0u) << backup;
  EXPECT_NE(backup.find("2026"), std::string::npos) << backup;
  EXPECT_NE(backup.find("5"), std::string::npos) << backup;
  EXPECT_EQ(backup.substr(backup.size() - 11), " ].kestobck") << backup;
  auto exported = TransferDialogs::exportFileName(day);
  EXPECT_EQ(exported.rfind("Kesto Exported Bookmarks [ ", 0), 0u) << exported;
  EXPECT_EQ(exported.substr(exported.size() - 7), " ].html") << exported;
}

TEST_F(DialogTest, CancellingTheDuplicatesQuestionOpensNoPanel) {
  start(0);
  responder->alertAnswers.push_back({ui::AlertThirdButtonReturn});
  dialogs().openImportDialog();
  ASSERT_EQ(responder->alerts.size(), 1u);
  EXPECT_EQ(responder->alerts[0].buttons, (std::vector<std::string>{"Yes", "No", "Cancel"}));
  EXPECT_TRUE(responder->panels.empty());
}

TEST_F(DialogTest, ImportFromTheMenuBringsTheBrowsersBookmarksAndSkipsThemTheSecondTime) {
  start(0);
  int finished = 0;
  dialogs().htmlImport().setCompletionHandler([&](bool imported) { finished += imported; });
  ui::MenuItem importItem("Import Bookmarks…", cmd::openImportDialog);
  int importEnabledWhileStoring = -1;
  dialogs().htmlImport().setImportFolderSheet([&](bool shown) {
    if (shown) importEnabledWhileStoring = ui::Application::shared().validateMenuItemAction(importItem, nullptr);
  });
  auto menuImport = [&] {
    responder->alertAnswers.push_back({ui::AlertFirstButtonReturn});  // skip duplicates
    responder->openAnswers.push_back(std::vector<std::string>{kChromium});
    ASSERT_TRUE(ui::Application::shared().sendAction(cmd::openImportDialog, nullptr, nullptr));
  };
  menuImport();
  ASSERT_EQ(responder->panels.size(), 1u);
  EXPECT_TRUE(responder->panels[0].open);
  EXPECT_EQ(responder->panels[0].types, (std::vector<std::string>{"html", "htm", "kesto"}));
  // The work starts once the panel has gone.
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 0);
  ASSERT_TRUE(runUntil([&] { return finished == 1; }, 10));
  EXPECT_EQ(importEnabledWhileStoring, 0) << "File > Import waits while an import is stored";
  EXPECT_TRUE(ui::Application::shared().validateMenuItemAction(importItem, nullptr));
  const auto imported = Bookmark::countWithPredicate(nullptr);
  EXPECT_GE(imported, 5);
  auto github = Bookmark::fetchEntitiesWhereProperty("url", fnd::Value("https://github.com/"));
  ASSERT_TRUE(github && github->size() == 1u);

  menuImport();
  ASSERT_TRUE(runUntil([&] { return finished == 2; }, 10));
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), imported) << "duplicates were to be skipped";
}

TEST_F(DialogTest, ExportWritesTheLibraryAndSaysSoAndCancelWritesNothing) {
  add("https://export.example/one", "One");
  start(1);
  // Success is told with the information icon, the message being the text.
  auto successSeen = [&] {
    for (const auto& a : responder->alerts)
      if (a.message.rfind("Your Kesto Export file has been exported to: ", 0) == 0)
        return a.style == ui::AlertStyle::Informational && a.informative.empty();
    return false;
  };
  const std::string target = makeTempDir("export") + "/out.html";
  responder->saveAnswers.push_back(std::nullopt);
  dialogs().openExportDialog();
  ASSERT_TRUE(runUntil([&] { return !responder->panels.empty(); }));
  spin(0.1);
  EXPECT_FALSE(fnd::FileManager::fileExists(target));
  EXPECT_FALSE(successSeen());

  responder->saveAnswers.push_back(target);
  dialogs().openExportDialog();
  ASSERT_TRUE(runUntil([&] { return successSeen(); }));
  ASSERT_FALSE(responder->panels.empty());
  EXPECT_FALSE(responder->panels.back().open);
  EXPECT_EQ(responder->panels.back().name.rfind("Kesto Exported Bookmarks [ ", 0), 0u);
  EXPECT_NE(readFile(target).find("https://export.example/one"), std::string::npos);

  // A place that cannot be written is reported, never as a success.
  responder->alerts.clear();
  responder->saveAnswers.push_back(target + "/inside-a-file.html");
  dialogs().openExportDialog();
  ASSERT_TRUE(runUntil([&] { return alertSeen("Fail"); }));
  EXPECT_FALSE(successSeen());
}

// The file is written on a thread of its own and told when it is there; an export asked for
// meanwhile is turned away with a word, and the first one still ends as it should.
TEST_F(DialogTest, AnExportAskedForWhileOneIsWrittenIsTurnedAway) {
  add("https://export.example/one", "One");
  start(1);
  const std::string dir = makeTempDir("export");
  responder->saveAnswers.push_back(dir + "/first.html");
  responder->saveAnswers.push_back(dir + "/second.html");
  dialogs().openExportDialog();
  dialogs().openExportDialog();
  ASSERT_TRUE(runUntil([&] {
    for (const auto& a : responder->alerts)
      if (a.message.rfind("Your Kesto Export file has been exported to: ", 0) == 0) return true;
    return false;
  }));
  EXPECT_TRUE(alertSeen("Export Bookmarks"));
  EXPECT_NE(readFile(dir + "/first.html").find("https://export.example/one"), std::string::npos);
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/second.html"));
  spin(0.1);
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/second.html"));
}

// Quitting while File > Export is still under way: its file is written whole before the quit
// goes on.
TEST_F(DialogTest, AQuitWhileAnExportRunsWritesItsFileFirst) {
  constexpr std::size_t kBookmarks = 20000;
  auto work = addFolder("Work", Folder::kRootID);
  for (std::size_t i = 0; i < kBookmarks; ++i) {
    auto b = Bookmark::initEntity();
    b->setUrl("https://quit.example/" + std::to_string(i));
    b->setTitle("Page");
    b->setFolder(work);
  }
  ASSERT_TRUE(WrenEntity::saveContext());
  start(kBookmarks);
  const std::string target = makeTempDir("export") + "/at-quit.html";
  responder->saveAnswers.push_back(target);
  dialogs().openExportDialog();
  ASSERT_TRUE(runUntil([&] { return dialogs().isExporting(); }));
  app().applicationWillTerminate();
  const std::string file = readFile(target);
  std::size_t written = 0;
  for (auto at = file.find("<DT><A HREF="); at != std::string::npos; at = file.find("<DT><A HREF=", at + 1)) ++written;
  EXPECT_EQ(written, kBookmarks);
  EXPECT_NE(file.find("</HTML>"), std::string::npos);
}

// A locked folder goes into the export only with the folders' password: a wrong one keeps the
// sheet up, "Leave Out" writes the rest and the success message says what was left out.
TEST_F(DialogTest, ExportAsksForTheLockPasswordAndLeavesLockedFoldersOutWithoutIt) {
  auto secret = addFolder("Secret", Folder::kRootID);
  secret->setBlocked(1);
  add("https://secret.example/", "Hidden", secret)->setBlocked(1);
  add("https://open.example/", "Shown");
  auto config = Config::initEntity();
  config->setKestoKey(Config::kPasswordKey);
  config->setKestoValue(Base64::encodeString("sesame"));
  ASSERT_TRUE(WrenEntity::saveContext());
  start(1);
  auto exportedWith = [&](const std::string& path, const std::string& password) {
    responder->saveAnswers.push_back(path);
    dialogs().openExportDialog();
    if (!runUntil([&] { return dialogs().exportPasswordSheet() && dialogs().exportPasswordSheet()->isSheet(); }))
      return false;
    dialogs().exportPasswordField()->setStringValue(password);
    dialogs().pressExportWithPassword();
    return runUntil([&] { return fnd::FileManager::fileExists(path); });
  };
  const std::string dir = makeTempDir("export");

  responder->saveAnswers.push_back(dir + "/never.html");
  dialogs().openExportDialog();
  ASSERT_TRUE(runUntil([&] { return dialogs().exportPasswordSheet() && dialogs().exportPasswordSheet()->isSheet(); }));
  dialogs().exportPasswordField()->setStringValue("wrong");
  dialogs().pressExportWithPassword();
  EXPECT_TRUE(dialogs().exportPasswordSheet()->isSheet());
  EXPECT_EQ(dialogs().exportPasswordHint()->stringValue(), "Wrong password.");
  EXPECT_EQ(dialogs().exportPasswordField()->stringValue(), "");
  spin(0.1);
  EXPECT_FALSE(fnd::FileManager::fileExists(dir + "/never.html"));

  dialogs().pressExportLeavingOut();
  ASSERT_TRUE(runUntil([&] { return fnd::FileManager::fileExists(dir + "/never.html"); }));
  std::string written = readFile(dir + "/never.html");
  EXPECT_NE(written.find("https://open.example/"), std::string::npos);
  EXPECT_EQ(written.find("secret.example"), std::string::npos);
  EXPECT_EQ(written.find("Secret"), std::string::npos);
  ASSERT_TRUE(runUntil([&] { return !responder->alerts.empty(); }));
  EXPECT_NE(responder->alerts.back().message.find("1 locked folder was left out"), std::string::npos)
      << responder->alerts.back().message;

  ASSERT_TRUE(exportedWith(dir + "/all.html", "sesame"));
  written = readFile(dir + "/all.html");
  EXPECT_NE(written.find("https://secret.example/"), std::string::npos);
  EXPECT_NE(written.find("https://open.example/"), std::string::npos);
}

TEST_F(DialogTest, BackupThenRestoreBringsTheOldLibraryBackAndQuits) {
  add("https://kept.example/", "Kept");
  start(1);
  const std::string folder = makeTempDir("backup");
  const std::string file = folder + "/" + TransferDialogs::backupFileName(fnd::Date::now());
  responder->saveAnswers.push_back(file);
  dialogs().openBackupDialog();
  ASSERT_TRUE(runUntil([&] { return fnd::FileManager::fileExists(file); }));
  ASSERT_FALSE(responder->panels.empty());
  EXPECT_EQ(responder->panels.back().name, TransferDialogs::backupFileName(fnd::Date::now()));
  EXPECT_TRUE(Backup::isValidBackupFile(file));

  add("https://later.example/", "Later");
  ASSERT_EQ(Bookmark::countWithPredicate(nullptr), 2);
  responder->alerts.clear();
  restoreFrom(file);
  ASSERT_TRUE(runUntil([&] { return app().hasTerminated(); }, 10));
  ASSERT_FALSE(responder->panels.empty());
  EXPECT_EQ(responder->panels.back().types, (std::vector<std::string>{"kestobck"}));
  EXPECT_TRUE(alertSeen("Kesto Restore"));
  // The quit went through the normal path; the store now holds the backup.
  WrenDataManager::sharedInstance().reset();
  ASSERT_TRUE(WrenDataManager::sharedInstance().managedObjectContext());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
  EXPECT_TRUE(copyBeforeRestoreExists());
}

TEST_F(DialogTest, RestoreTurnsAWrongFileAwayBeforeAskingOrTouchingTheLibrary) {
  add("https://stays.example/", "Stays");
  start(1);
  const std::string fake = makeTempDir("restore") + "/notes.kestobck";
  writeFile(fake, "these are not bookmarks");
  restoreFrom(fake);
  ASSERT_TRUE(runUntil([&] { return alertSeen("Kesto Restore"); }));
  spin(0.7);
  ASSERT_EQ(responder->alerts.size(), 1u) << "no confirmation is asked for a wrong file";
  EXPECT_NE(responder->alerts[0].informative.find("not a Kesto backup"), std::string::npos);
  EXPECT_FALSE(app().hasTerminated());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
  EXPECT_FALSE(copyBeforeRestoreExists());
}

// A pipe named like a backup: the check never blocks the main thread, and says why it refused.
TEST_F(DialogTest, RestoreRefusesAPipeWithoutWaitingOnIt) {
  add("https://stays.example/", "Stays");
  start(1);
  const std::string pipe = makeTempDir("restore") + "/waiting.kestobck";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  restoreFrom(pipe);
  ASSERT_TRUE(runUntil([&] { return alertSeen("Kesto Restore"); }, 10));
  EXPECT_NE(responder->alerts.back().informative.find("not a regular file"), std::string::npos);
  EXPECT_FALSE(app().hasTerminated());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 1);
}

TEST_F(DialogTest, OneBackdropAtATimeAndItGoesWithTheSheetShownThroughThePresenter) {
  start(0);
  ui::Alert alert;
  alert.setMessageText("Sheet");
  // Answered only when the loop turns.
  panels().presentAlert(alert);
  ASSERT_TRUE(panels().backdrop());
  EXPECT_EQ(backdrops(), 1u);
  auto& sheet = panels().importFolderSheet();
  panels().presentSheetWithWindow(sheet);
  EXPECT_EQ(backdrops(), 1u) << "the alert's backdrop went before the sheet's came";
  spin(0.1);
  EXPECT_TRUE(panels().backdrop()) << "the closed alert's answer does not take the sheet's backdrop";

  // Another window ended through the presenter leaves the recorded sheet's backdrop.
  KestoPanel other(fnd::Rect(0, 0, 100, 100));
  panels().dismissSheetForWindow(other);
  EXPECT_TRUE(panels().backdrop());
  sheet.cancelOperation();  // Escape on the sheet goes through the presenter
  EXPECT_FALSE(panels().backdrop());
  EXPECT_EQ(backdrops(), 0u);

  panels().presentAlert(alert);
  ASSERT_TRUE(runUntil([&] { return !panels().backdrop(); })) << "answering the alert removes the backdrop";
}

TEST_F(DialogTest, FirstRunPanelWaitsForTheSheetAndOffersTheDefaultLibraryWithoutMakingIt) {
  start(0);
  countPopupTries();
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.postNotificationName(ShowInitialPopup);
  center.postNotificationName(ShowInitialPopup);
  panels().showImportMessageSheet();
  ASSERT_NO_FATAL_FAILURE(waitForAPopupTry());
  EXPECT_FALSE(panels().initialPanel().isVisible()) << "a sheet is in the way";
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 0) << "the default library is made only when asked";
  panels().closeImportFolderSheet();
  ASSERT_TRUE(runUntil([&] { return panels().initialPanel().isVisible(); }, kLateTimer));
  EXPECT_FALSE(panels().initialPopupPending());

  auto* sample = buttonTitled(panels().initialPanel(), "Add Sample Bookmarks");
  ASSERT_TRUE(sample);
  sample->performClick();
  EXPECT_FALSE(panels().initialPanel().isVisible());
  EXPECT_EQ(Bookmark::countWithPredicate(nullptr), 8);
}

// A dialog opened meanwhile (the import question, asked from the menu before the offer was due)
// holds the panel back as a sheet does: shown over it, the panel's buttons would be dead.
TEST_F(DialogTest, FirstRunPanelWaitsWhileADialogIsOpen) {
  start(0);
  TestDialogResponder::uninstall();
  ui::Alert question;
  question.setMessageText("Import Bookmarks");
  question.addButtonWithTitle("Cancel");
  question.beginSheetModalForWindow(nullptr, {});
  ASSERT_TRUE(question.isShown());
  ASSERT_TRUE(ui::Application::shared().isModalDialogShown());
  countPopupTries();
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowInitialPopup);
  ASSERT_NO_FATAL_FAILURE(waitForAPopupTry());
  EXPECT_FALSE(panels().initialPanel().isVisible()) << "a dialog is in the way";
  EXPECT_TRUE(panels().initialPopupPending());
  ASSERT_TRUE(question.performButton(0));
  EXPECT_TRUE(runUntil([&] { return panels().initialPanel().isVisible(); }, kLateTimer));
}

// The panel's try comes while a dialog is queued on the main loop and not yet open (a menu
// command or a question posted just then): the dialog opens first, the panel waits for it.
TEST_F(DialogTest, FirstRunPanelDueWhileADialogIsQueuedWaitsForTheDialog) {
  start(0);
  TestDialogResponder::uninstall();
  ui::Alert question;
  question.setMessageText("Import Bookmarks");
  question.addButtonWithTitle("Cancel");
  bool queued = false, panelShownAtOpening = false;
  // Asked when the try comes: the dialog is queued right then.
  panels().libraryIsEmpty = [&] {
    if (!queued) {
      queued = true;
      fnd::DispatchQueue::main().async([&] {
        panelShownAtOpening = panels().initialPanel().isVisible();
        question.beginSheetModalForWindow(nullptr, {});
      });
    }
    return true;
  };
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowInitialPopup);
  ASSERT_TRUE(runUntil([&] { return question.isShown(); }, kLateTimer));
  EXPECT_FALSE(panelShownAtOpening) << "the panel came over a dialog on its way";
  drainTurns();
  EXPECT_FALSE(panels().initialPanel().isVisible());
  EXPECT_TRUE(panels().initialPopupPending());
  ASSERT_TRUE(question.performButton(0));
  EXPECT_TRUE(runUntil([&] { return panels().initialPanel().isVisible(); }, kLateTimer));
}

// A panel already shown gives way to an alert, a file dialog or a sheet, each asked for while it
// shows (Ctrl+Shift+I pressed as it appears): gone before the dialog is, back after it.
TEST_F(DialogTest, AShownFirstRunPanelGivesWayToEachDialogAndComesBackAfterIt) {
  start(0);
  struct Watch : TestDialogResponder {
    ShellPanels* panels = nullptr;
    std::vector<bool> panelShownWhenAsked;
    int respondToAlert(ui::Alert& alert) override {
      panelShownWhenAsked.push_back(panels->initialPanel().isVisible());
      return TestDialogResponder::respondToAlert(alert);
    }
    std::optional<std::vector<std::string>> respondToOpenPanel(ui::OpenPanel& panel) override {
      panelShownWhenAsked.push_back(panels->initialPanel().isVisible());
      return TestDialogResponder::respondToOpenPanel(panel);
    }
  };
  auto watch = std::make_shared<Watch>();
  watch->panels = &panels();
  ui::DialogResponder::install(watch);
  auto shown = [&] { return panels().initialPanel().isVisible(); };

  // The import question (Cancel), from the menu command.
  panels().showInitialPopup();
  ASSERT_TRUE(shown());
  watch->alertAnswers.push_back({ui::AlertThirdButtonReturn});
  dialogs().openImportDialog();
  ASSERT_EQ(watch->panelShownWhenAsked, std::vector<bool>{false});
  EXPECT_FALSE(shown());
  ASSERT_TRUE(runUntil([&] { return shown(); }, kLateTimer)) << "not offered again after the question";

  // A file dialog on its own.
  ui::OpenPanel open;
  open.runModal();
  ASSERT_EQ(watch->panelShownWhenAsked, (std::vector<bool>{false, false}));
  ASSERT_TRUE(runUntil([&] { return shown(); }, kLateTimer));

  // A sheet: the panel waits while it is open.
  countPopupTries();
  panels().presentSheetWithWindow(panels().importFolderSheet());
  EXPECT_FALSE(shown());
  ASSERT_NO_FATAL_FAILURE(waitForAPopupTry());
  EXPECT_FALSE(shown()) << "the sheet is still open";
  panels().closeImportFolderSheet();
  ASSERT_TRUE(runUntil([&] { return shown(); }, kLateTimer));

  // Closed by the user, it stays closed whatever opens next.
  panels().hideInitialPopup();
  open.runModal();
  spin(ShellPanels::kInitialPopupInterval + 0.5);
  EXPECT_FALSE(shown());
}

// Bookmarks that arrive while the offer waits (a hand-over at the first start) call it off.
TEST_F(DialogTest, FirstRunPanelIsNotOfferedToALibraryFilledMeanwhile) {
  start(0);
  countPopupTries();
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowInitialPopup);
  auto b = Bookmark::initEntity();
  b->setUrl("https://arrived.example/");
  b->saveBookmark();
  ASSERT_NO_FATAL_FAILURE(waitForAPopupTry());
  EXPECT_FALSE(panels().initialPanel().isVisible());
  EXPECT_FALSE(panels().initialPopupPending());
}

// Bookmarks that arrive while the panel shows (a link handed to the running program, the sync
// assistant's first sync, a drop) take it away, and one due is called off; an empty library
// keeps it.
TEST_F(DialogTest, AShownFirstRunPanelGoesWhenBookmarksArrive) {
  start(0);
  auto shown = [&] { return panels().initialPanel().isVisible(); };
  panels().showInitialPopup();
  fnd::NotificationCenter::defaultCenter().postNotificationName(ShowInitialPopup);
  app().handleArguments({"--add-text", "no address here"});
  drainTurns();
  EXPECT_TRUE(shown()) << "nothing was added";
  app().handleArguments({"kesto:https://arrived.example/"});
  ASSERT_EQ(Bookmark::countWithPredicate(nullptr), 1);
  EXPECT_TRUE(runUntil([&] { return !shown(); })) << "a hand-over";
  EXPECT_FALSE(panels().initialPopupPending());

  app().handleArguments({"--add-text", "https://second.example/"});
  panels().showInitialPopup();
  ASSERT_TRUE(shown());
  app().handleArguments({"--add-text", "https://third.example/"});
  EXPECT_TRUE(runUntil([&] { return !shown(); })) << "an address handed over to a library that was not empty";

  // A load that finds bookmarks (after a sync or a restore).
  panels().showInitialPopup();
  dm().fetchAllBookmarksFromCoreData();
  EXPECT_TRUE(runUntil([&] { return !shown(); })) << "a reload";
}

TEST_F(DialogTest, ImportSheetClosesBeforeTheImportDialogAsks) {
  start(0);
  panels().showInitialPopup();
  ASSERT_TRUE(panels().initialPanel().isVisible());
  auto* import = buttonTitled(panels().initialPanel(), "Import Bookmarks…");
  ASSERT_TRUE(import);
  import->performClick();
  EXPECT_FALSE(panels().initialPanel().isVisible());
  ASSERT_TRUE(panels().backdrop()) << "the import sheet is shown";

  struct Watch : TestDialogResponder {
    ShellPanels* panels = nullptr;
    bool sheetShownWhenAsked = true;
    int respondToAlert(ui::Alert& alert) override {
      sheetShownWhenAsked = panels->hasSheet() || panels->importFolderSheet().isVisible();
      return TestDialogResponder::respondToAlert(alert);
    }
  };
  auto watch = std::make_shared<Watch>();
  watch->panels = &panels();
  watch->alertAnswers.push_back({ui::AlertThirdButtonReturn});
  ui::DialogResponder::install(watch);
  auto* go = buttonTitled(panels().importFolderSheet(), "Import…");
  ASSERT_TRUE(go);
  go->performClick();
  ASSERT_EQ(watch->alerts.size(), 1u);
  EXPECT_FALSE(watch->sheetShownWhenAsked);
  EXPECT_FALSE(panels().backdrop());
}

TEST_F(DialogTest, TheImportSheetNamesTheBrowsersOfThisDesktopWithSafariLast) {
  start(0);
  auto& sheet = panels().importFolderSheet();
  // Labels from the top down (the content's y grows upwards).
  std::vector<std::pair<double, std::string>> labels;
  for (const auto& v : sheet.contentView()->subviews())
    if (auto* l = dynamic_cast<ui::Label*>(v.get())) labels.push_back({-l->frame().maxY(), l->stringValue()});
  std::sort(labels.begin(), labels.end());
  std::vector<std::string> browsers;
  for (const auto& [y, text] : labels)
    for (const char* name : {"Firefox", "Chromium, Chrome, Brave, Vivaldi", "Microsoft Edge", "Opera", "GNOME Web",
                             "Safari (on a Mac)"})
      if (text == name) browsers.push_back(text);
  EXPECT_EQ(browsers, (std::vector<std::string>{"Firefox", "Chromium, Chrome, Brave, Vivaldi", "Microsoft Edge",
                                                "Opera", "GNOME Web", "Safari (on a Mac)"}));
  // Every text fits the sheet, and the help buttons open the three help pages.
  for (const auto& v : sheet.contentView()->subviews()) EXPECT_LE(v->frame().maxX(), sheet.contentView()->bounds().maxX());
  std::vector<std::string> opened;
  sys::Workspace::setLauncher([&](const std::string&, const std::vector<std::string>& args) {
    opened.insert(opened.end(), args.begin(), args.end());
    return true;
  });
  int helps = 0;
  for (const auto& v : sheet.contentView()->subviews())
    if (auto* b = dynamic_cast<ui::Button*>(v.get()); b && b->title() == "Help") {
      b->performClick();
      ++helps;
    }
  EXPECT_EQ(helps, 3);
  EXPECT_EQ(opened, (std::vector<std::string>{helplinks::kFirefoxExport, helplinks::kChromeExport,
                                               helplinks::kSafariExport}));
}

TEST_F(DialogTest, MenuCommandsReachTheApplicationAndHelpOpensTheBrowser) {
  start(0);
  auto& application = ui::Application::shared();
  for (auto action : {cmd::openImportDialog, cmd::openExportDialog, cmd::openBackupDialog, cmd::openRestoreDialog,
                      cmd::showHelp, cmd::showImportMessageSheet, cmd::showEULA}) {
    EXPECT_EQ(application.targetForAction(action), &app()) << action;
  }
  std::vector<ui::Command> file;
  ASSERT_FALSE(ui->mainMenu()->items().empty());
  for (const auto& item : ui->mainMenu()->items().front()->submenu()->items()) file.push_back(item->action());
  for (auto action : {cmd::openImportDialog, cmd::openExportDialog, cmd::openBackupDialog, cmd::openRestoreDialog})
    EXPECT_NE(std::find(file.begin(), file.end(), action), file.end()) << action;

  std::vector<std::string> opened;
  sys::Workspace::setLauncher([&](const std::string&, const std::vector<std::string>& args) {
    opened.insert(opened.end(), args.begin(), args.end());
    return true;
  });
  ASSERT_TRUE(application.sendAction(cmd::showHelp, nullptr, nullptr));
  ASSERT_TRUE(application.sendAction(cmd::showFirefoxExportHelp, nullptr, nullptr));
  EXPECT_NE(std::find(opened.begin(), opened.end(), helplinks::kHelp), opened.end());
  EXPECT_NE(std::find(opened.begin(), opened.end(), helplinks::kFirefoxExport), opened.end());
}

}  // namespace
}  // namespace kesto::test
