#include "AppFixture.h"

#include "Harness/FakeAccountService.h"
#include "Harness/TestDialogResponder.h"
#include "Synchronize/TestAlertResponder.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/System/SyncedFolder.h"
#include "Platform/UI/Animator.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/PasswordRecovery.h"
#include "Synchronize/SetupWindow.h"
#include "Synchronize/SyncSetupStages.h"
#include "Synchronize/SyncWizard.h"
#include "Synchronize/Synchronizer.h"
#include "Views/PushButton.h"

namespace kesto::test {
namespace {

// A stage that records what the window tells it and answers as the test sets.
struct Probe : SetupWindowStageViewController {
  std::vector<std::string>* events = nullptr;
  std::string name;
  std::optional<bool> continueFlag, backFlag;
  std::optional<std::string> title;
  std::function<void()> onLeaveForward;
  std::optional<bool> canContinue() const override { return continueFlag; }
  std::optional<bool> canGoBack() const override { return backFlag; }
  std::optional<std::string> continueButtonTitle() const override { return title; }
  void willProgressToNextStage() override {
    note("willProgressToNextStage");
    if (onLeaveForward) onLeaveForward();
  }
  void didProgressToStage() override { note("didProgressToStage"); }
  void didRevertToStage() override { note("didRevertToStage"); }
  void setContinue(bool on) {
    continueFlag = on;
    buttonStatesChanged();
  }
  void note(const std::string& what) {
    if (events) events->push_back(name + ":" + what);
  }
  std::shared_ptr<ui::View> loadView() override { return std::make_shared<ui::View>(fnd::Rect(0, 0, 400, 330)); }
};

std::shared_ptr<Probe> probe(const std::string& name, std::vector<std::string>* events) {
  auto p = std::make_shared<Probe>();
  p->name = name;
  p->events = events;
  return p;
}

TEST(SetupWindow, OneStageFinishesOnContinueAndNeverGoesBack) {
  std::vector<bool> completions;
  EXPECT_FALSE(SetupWindow::create({}, [](bool) {}));
  EXPECT_FALSE(SetupWindow::create({probe("a", nullptr)}, nullptr));
  auto window = SetupWindow::create({probe("a", nullptr)}, [&](bool done) { completions.push_back(done); });
  ASSERT_TRUE(window);
  EXPECT_EQ(window->currentStage(), 0);
  EXPECT_FALSE(window->backButton().isEnabled());
  EXPECT_TRUE(window->nextButton().isEnabled());
  EXPECT_EQ(window->nextButton().title(), "Continue");
  EXPECT_EQ(window->backButton().title(), "Back");
  window->back();
  EXPECT_EQ(window->currentStage(), 0);
  window->nextButton().performClick();
  EXPECT_EQ(completions, std::vector<bool>{true});
  window->cancelOperation();  // Escape
  EXPECT_EQ(completions, (std::vector<bool>{true, false}));
}

TEST(SetupWindow, ButtonsFollowTheShownStage) {
  std::vector<std::string> events;
  auto a = probe("a", &events), b = probe("b", &events);
  b->title = "Finish";
  b->backFlag = false;
  auto window = SetupWindow::create({a, b}, [](bool) {});
  ASSERT_TRUE(window);
  window->setAnimates(false);
  // A stage that turns Continue off while shown disables it at once.
  a->setContinue(false);
  EXPECT_FALSE(window->nextButton().isEnabled());
  a->setContinue(true);
  window->next();
  EXPECT_EQ(window->currentStage(), 1);
  EXPECT_EQ(window->nextButton().title(), "Finish");
  EXPECT_FALSE(window->backButton().isEnabled());
  // A stage no longer shown changes nothing.
  a->setContinue(false);
  EXPECT_TRUE(window->nextButton().isEnabled());
  EXPECT_EQ(events, (std::vector<std::string>{"a:didProgressToStage", "a:willProgressToNextStage",
                                              "b:didProgressToStage"}));
  ASSERT_TRUE(b->view());
  EXPECT_EQ(b->view()->superview(), &window->contentBox());
  EXPECT_FALSE(a->view()->superview());
}

TEST(SetupWindow, AStageInsertedWhenLeavingIsShownNextAndTheSlideEndsInPlace) {
  std::vector<std::string> events;
  auto a = probe("a", &events), last = probe("last", &events), inserted = probe("inserted", &events);
  auto window = SetupWindow::create({a, last}, [](bool) {});
  ASSERT_TRUE(window);
  SetupWindow* w = window.get();
  a->onLeaveForward = [w, inserted] { w->addNextViewController(inserted); };
  window->next();  // animated
  EXPECT_EQ(window->currentStage(), 1);
  EXPECT_EQ(window->currentViewController(), inserted.get());
  ASSERT_TRUE(runUntil([&] { return ui::AnimationContext::runningAnimationCount() == 0 && events.size() >= 3; }, 5));
  EXPECT_EQ(events.back(), "inserted:didProgressToStage");
  EXPECT_EQ(inserted->view()->frame(), fnd::Rect(0, 0, 400, 330));
  EXPECT_FALSE(a->view()->superview());
  window->setAnimates(false);
  window->back();
  EXPECT_EQ(window->currentViewController(), a.get());
  EXPECT_EQ(events.back(), "a:didRevertToStage");
}

class SyncStagesTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    alerts = TestAlertResponder::install();
    dialogs = std::make_shared<TestDialogResponder>();
    ui::DialogResponder::install(dialogs);
  }
  void TearDown() override {
    ui::DialogResponder::install(nullptr);
    TestAlertResponder::uninstall();
    AppTest::TearDown();
  }
  std::string method() { return defaults().stringForKey(Synchronizer::kCurrentSyncMethodKey).value_or(""); }

  std::shared_ptr<TestAlertResponder> alerts;
  std::shared_ptr<TestDialogResponder> dialogs;
};

TEST_F(SyncStagesTest, TheChoiceIsStoredAndDecidesTheStages) {
  SyncWizard wizard;
  auto start = std::make_shared<StartWizard>(&wizard);
  auto window = SetupWindow::create({start}, [](bool) {});
  ASSERT_TRUE(window);
  window->setAnimates(false);
  EXPECT_EQ(window->nextButton().title(), "Continue");
  EXPECT_FALSE(window->backButton().isEnabled());
  start->iCloudButton()->performClick();
  EXPECT_EQ(method(), "icloud");
  EXPECT_EQ(start->iCloudButton()->state(), 1);
  EXPECT_EQ(start->continueButtonTitle(), "Finish");
  window->next();
  ASSERT_EQ(window->viewControllers().size(), 3u);
  EXPECT_TRUE(dynamic_cast<ICloudWizard*>(window->currentViewController()));
  EXPECT_TRUE(dynamic_cast<FinishWizard*>(window->viewControllers()[2].get()));
  // Back shows a new first stage with the stored choice; choosing again rebuilds the list.
  window->back();
  auto* first = dynamic_cast<StartWizard*>(window->currentViewController());
  ASSERT_TRUE(first);
  EXPECT_NE(first, start.get());
  EXPECT_TRUE(first->usesICloud());
  first->kestoButton()->performClick();
  EXPECT_EQ(method(), "kestoapp");
  EXPECT_EQ(first->skyfolderButton()->state(), 0);
  EXPECT_EQ(first->iCloudButton()->state(), 0);
  window->next();
  ASSERT_EQ(window->viewControllers().size(), 3u);
  EXPECT_TRUE(dynamic_cast<KestoAccountWizard*>(window->currentViewController()));
}

TEST_F(SyncStagesTest, WithoutAChoiceTheFinishStageFollowsAndStartsASync) {
  defaults().removeObject(Synchronizer::kCurrentSyncMethodKey);
  int starts = 0;
  fnd::NotificationCenter::defaultCenter().addObserver(&starts, [&](const fnd::Notification&) { ++starts; },
                                                       Synchronizer::kStartSyncNotification);
  auto window = SetupWindow::create({std::make_shared<StartWizard>()}, [](bool) {});
  window->setAnimates(false);
  window->next();
  fnd::NotificationCenter::defaultCenter().removeObserver(&starts);
  EXPECT_EQ(window->viewControllers().size(), 2u);
  EXPECT_TRUE(dynamic_cast<FinishWizard*>(window->currentViewController()));
  EXPECT_EQ(window->nextButton().title(), "Finish");
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(method(), "");
}

TEST_F(SyncStagesTest, TheSyncedFolderStageWaitsForAFolderFromTheDialog) {
  defaults().removeObject(sys::SyncedFolder::kDefaultsKey);
  auto folderStage = std::make_shared<ICloudWizard>();
  auto window = SetupWindow::create({probe("first", nullptr), folderStage}, [](bool) {});
  window->setAnimates(false);
  window->next();
  ASSERT_EQ(window->currentViewController(), folderStage.get());
  EXPECT_FALSE(window->nextButton().isEnabled());
  // A file is not a folder; the dialog's folder is kept.
  auto dir = makeTempDir("synced");
  writeFile(dir + "/file", "x");
  EXPECT_FALSE(folderStage->setFolder(dir + "/file"));
  dialogs->openAnswers.push_back(std::vector<std::string>{dir});
  folderStage->chooseFolder();
  ASSERT_TRUE(runUntil([&] { return window->nextButton().isEnabled(); }, 5));
  ASSERT_FALSE(dialogs->panels.empty());
  EXPECT_EQ(defaults().stringForKey(sys::SyncedFolder::kDefaultsKey), dir);
  EXPECT_NE(folderStage->folderLabel()->stringValue().find(dir), std::string::npos);
}

TEST_F(SyncStagesTest, TheRecapNamesTheAccountInUse) {
  SyncWizard wizard;
  defaults().removeObject("SyncEmail");
  defaults().setBool(false, "syncUsingSkyfolder");
  EXPECT_EQ(wizard.syncAccountRecap(), "No Account set");
  defaults().setString("me@example.org", "SyncEmail");
  EXPECT_EQ(wizard.syncAccountRecap(),
            "You are currently using the online Kesto account registered with this email: me@example.org to sync "
            "your Kesto library");
  defaults().setBool(true, "syncUsingSkyfolder");
  EXPECT_EQ(wizard.syncAccountRecap(), "You are currently using your Skyfolder account to sync your Kesto library");
}

class AccountStageTest : public SyncStagesTest {
 protected:
  void SetUp() override {
    SyncStagesTest::SetUp();
    defaults().setString(service.baseURL(), KestoappDataSource::kBaseURLKey);
    defaults().removeObject("SyncEmail");
    defaults().removeObject("SyncPassword");
    window = SetupWindow::create({probe("first", nullptr)}, [](bool) {});
    window->setAnimates(false);
    window->addFinalViewController(std::make_shared<KestoAccountWizard>(&wizard));
    window->next();
    ASSERT_TRUE(wizard.emailFieldRegistration());
  }
  void fillRegistration(const std::string& email, const std::string& password, const std::string& again) {
    wizard.emailFieldRegistration()->setStringValue(email);
    wizard.passwordFieldRegistration()->setStringValue(password);
    wizard.retypePasswordFieldRegistration()->setStringValue(again);
  }
  bool registerAndWait() {
    wizard.registerButton()->performClick();
    return runUntil([&] { return !wizard.isRegistering(); }, 10);
  }

  FakeAccountService service;
  SyncWizard wizard;
  std::unique_ptr<SetupWindow> window;
};

TEST_F(AccountStageTest, SavingNeedsAPasswordAndKeepsBothFields) {
  wizard.emailField()->setStringValue("");
  wizard.passwordField()->setStringValue("");
  wizard.saveSyncCredentials();
  EXPECT_EQ(wizard.loginStatusLabel()->stringValue(), "Please fill in all the fields");
  EXPECT_FALSE(defaults().stringForKey("SyncPassword"));
  wizard.passwordField()->setStringValue("pw");
  wizard.saveSyncCredentials();
  EXPECT_EQ(wizard.loginStatusLabel()->stringValue(), "Credentials saved");
  EXPECT_EQ(defaults().stringForKey("SyncEmail"), "");
  EXPECT_EQ(defaults().stringForKey("SyncPassword"), "pw");
}

TEST_F(AccountStageTest, RegistrationChecksTheFormThenStoresTheFormsAccount) {
  fillRegistration("", "a", "a");
  wizard.doRegisterFromFromSheet();
  EXPECT_EQ(wizard.statusLabel()->stringValue(), "Please fill in all the fields");
  fillRegistration("new@example.org", "a", "b");
  wizard.doRegisterFromFromSheet();
  EXPECT_EQ(wizard.statusLabel()->stringValue(), "The passwords do not match");
  EXPECT_EQ(service.registrations, 0);
  fillRegistration("new+x@example.org", "pw", "pw");
  ASSERT_TRUE(registerAndWait());
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].message, "Registration successful");
  EXPECT_EQ(defaults().stringForKey("SyncEmail"), "new+x@example.org");
  EXPECT_EQ(defaults().stringForKey("SyncPassword"), "pw");
  EXPECT_TRUE(wizard.registerButton()->isEnabled());
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    EXPECT_TRUE(service.accounts.count("new+x@example.org"));
  }
  // The same address again is taken.
  ASSERT_TRUE(registerAndWait());
  EXPECT_EQ(alerts->shown.back().message, "This email is already taken");
}

TEST_F(AccountStageTest, AServerErrorIsNotATakenAddressAndGivesTheFormBack) {
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.failure = FakeAccountService::Failure::Status500;
  }
  fillRegistration("new@example.org", "pw", "pw");
  ASSERT_TRUE(registerAndWait());
  ASSERT_EQ(alerts->shown.size(), 1u);
  EXPECT_EQ(alerts->shown[0].title, "Registration failed");
  EXPECT_NE(alerts->shown[0].message.find("HTTP 500"), std::string::npos);
  EXPECT_TRUE(wizard.registerButton()->isEnabled());
  EXPECT_FALSE(defaults().stringForKey("SyncEmail"));
  // No server at all.
  defaults().setString("http://127.0.0.1:9", KestoappDataSource::kBaseURLKey);
  ASSERT_TRUE(registerAndWait());
  EXPECT_EQ(alerts->shown.back().title, "Connection error");
  EXPECT_TRUE(wizard.registerButton()->isEnabled());
}

TEST_F(SyncStagesTest, TheToolbarButtonStartsTheEngineOrTheWizard) {
  build(0);
  auto& sync = Synchronizer::shared();
  ASSERT_TRUE(sync.hasSyncButton());
  EXPECT_EQ(ui->syncButton()->imageName(), "toolbar_sync");
  // No method: the wizard, as a sheet on the library window.
  defaults().removeObject(Synchronizer::kCurrentSyncMethodKey);
  ui->syncButton()->performClick();
  ASSERT_TRUE(ui->syncWizard().setupFlow());
  EXPECT_TRUE(ui->syncWizard().setupFlow()->isSheet());
  ui->syncWizard().setupFlow()->cancelOperation();
  ASSERT_TRUE(runUntil([&] { return !ui->syncWizard().setupFlow(); }, 2));
  // Skyfolder not linked: "StartSync" ends quietly, the button opens the wizard.
  defaults().setString("skyfolder", Synchronizer::kCurrentSyncMethodKey);
  defaults().setBool(false, "syncUsingSkyfolder");
  fnd::NotificationCenter::defaultCenter().postNotificationName(Synchronizer::kStartSyncNotification);
  EXPECT_FALSE(ui->syncWizard().setupFlow());
  EXPECT_TRUE(ui->syncButton()->isEnabled());
  ui->syncButton()->performClick();
  EXPECT_TRUE(ui->syncWizard().setupFlow());
  ui->syncWizard().closeSyncFolderSheet();
  // A synced-folder run: the button is off for the whole run.
  auto dir = makeTempDir("synced");
  defaults().setString(dir, sys::SyncedFolder::kDefaultsKey);
  defaults().setString("icloud", Synchronizer::kCurrentSyncMethodKey);
  bool ended = false;
  fnd::NotificationCenter::defaultCenter().addObserver(&ended, [&](const fnd::Notification&) { ended = true; },
                                                       Synchronizer::kSyncEndedNotification);
  ui->syncButton()->performClick();
  EXPECT_FALSE(ui->syncButton()->isEnabled());
  EXPECT_EQ(ui->syncButton()->imageName(), "toolbar_sync_selected");
  ASSERT_TRUE(runUntil([&] { return ended; }, 10));
  fnd::NotificationCenter::defaultCenter().removeObserver(&ended);
  EXPECT_TRUE(ui->syncButton()->isEnabled());
  EXPECT_EQ(ui->syncButton()->imageName(), "toolbar_sync");
  EXPECT_TRUE(fnd::FileManager::fileExists(dir + "/Documents/kesto_sync.zip"));
}


TEST_F(AccountStageTest, ForgotPasswordOpensRecoveryAndAResetKeepsTheNewPassword) {
  build(0);
  defaults().setString(service.baseURL(), KestoappDataSource::kBaseURLKey);
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.accounts["me@example.org"].password = "old";
  }
  defaults().setString("me@example.org", "SyncEmail");
  auto& recovery = ui->passwordRecovery();
  wizard.forgotPasswordButton()->performClick();
  ASSERT_TRUE(recovery.recoveryFolderSheet().isVisible());
  EXPECT_EQ(recovery.emailField().stringValue(), "me@example.org");
  auto wait = [&] { return runUntil([&] { return !recovery.isWaiting(); }, 10); };
  // Unknown address, then the key request.
  recovery.emailField().setStringValue("nobody@example.org");
  recovery.doRecoverFromFromSheet();
  ASSERT_TRUE(wait());
  EXPECT_EQ(recovery.statusLabel().stringValue(), "User not found");
  recovery.emailField().setStringValue("me@example.org");
  recovery.doRecoverFromFromSheet();
  ASSERT_TRUE(wait());
  EXPECT_EQ(recovery.statusLabel().stringValue(), "Your secret key has been sent");
  EXPECT_TRUE(recovery.recoverButton().isEnabled());
  // The form is checked, a wrong key refused, the right one changes the password.
  recovery.secretKeyField().setStringValue("WRONG");
  recovery.newPasswordField().setStringValue("new");
  recovery.retypePasswordField().setStringValue("other");
  recovery.resetPassword();
  EXPECT_EQ(recovery.statusLabel().stringValue(), "Passwords do not match");
  recovery.retypePasswordField().setStringValue("new");
  recovery.resetPassword();
  ASSERT_TRUE(wait());
  EXPECT_EQ(recovery.statusLabel().stringValue(), "Invalid secret key");
  std::string key;
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    key = service.accounts["me@example.org"].resetKey;
  }
  recovery.secretKeyField().setStringValue(key);
  recovery.resetPassword();
  ASSERT_TRUE(wait());
  EXPECT_EQ(defaults().stringForKey("SyncPassword"), "new");
  EXPECT_FALSE(recovery.recoveryFolderSheet().isVisible());
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message, "Your password has been successfully reset");
  std::lock_guard<std::mutex> lock(service.mutex());
  EXPECT_EQ(service.accounts["me@example.org"].password, "new");
}

}  // namespace
}  // namespace kesto::test
