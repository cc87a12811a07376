// The wizard's stages and account form, and password recovery, without the application: the
// choice of method, the synced folder from the dialog, the account service on loopback.
#include "SetupTestSupport.h"

#include "Harness/FakeAccountService.h"
#include "Harness/TestSupport.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/SyncedFolder.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"
#include "Skyfolder/SFAuthHelperOSX.h"
#include "Skyfolder/SFSession.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/Setup/PasswordRecovery.h"
#include "Synchronize/Setup/SyncSetupStages.h"
#include "Synchronize/Setup/SyncWizard.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/Synchronizer.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class SyncStagesTest : public ::testing::Test {
 protected:
  // Windows hand their widgets to the event loop for deletion: one more turn frees them.
  void TearDown() override { spin(0.05); }
  fnd::UserDefaults& defaults() { return fnd::UserDefaults::standard(); }
  std::string method() { return defaults().stringForKey(Synchronizer::kCurrentSyncMethodKey).value_or(""); }

  SetupResponders responders;
  std::shared_ptr<TestAlertResponder>& alerts = responders.alerts;
  std::shared_ptr<TestDialogResponder>& dialogs = responders.dialogs;
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

  void TearDown() override {
    window.reset();
    SyncStagesTest::TearDown();
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

TEST_F(AccountStageTest, ForgotPasswordOpensRecoveryAndAResetKeepsTheNewPassword) {
  PasswordRecovery recovery;
  recovery.awakeFromNib();
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    service.accounts["me@example.org"].password = "old";
  }
  defaults().setString("me@example.org", "SyncEmail");
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

TEST_F(SyncStagesTest, TheSkyfolderStagesButtonFollowsTheLinkAndChangesIt) {
  SkyFolderDataSource link;
  SyncWizard wizard;
  wizard.skyfolderLinkButtonServer = [&link](const std::shared_ptr<ui::Button>& b) {
    connectSkyfolderLinkButton(link, b);
  };
  auto stage = std::make_shared<SkyfolderWizard>(&wizard);
  ASSERT_TRUE(stage->loadedView());
  ui::Button* button = stage->skyfolderButton();
  ASSERT_TRUE(button);
  EXPECT_EQ(button->title(), "Link Skyfolder");
  // Linked (the tokens kept): the button offers to unlink once the helper says so, and a press does.
  ASSERT_TRUE(SFSession::sharedSession());
  SFSession::sharedSession()->updateAccessToken("token", "secret", "user");
  SFAuthHelperOSX::sharedHelper().postStateChangedNotification(nullptr);
  EXPECT_EQ(button->title(), "Unlink Skyfolder");
  defaults().setBool(true, SkyFolderDataSource::kUsingSkyfolderKey);
  button->performClick();
  EXPECT_FALSE(SkyFolderDataSource::isLinked());
  EXPECT_EQ(button->title(), "Link Skyfolder");
  EXPECT_FALSE(defaults().boolForKey(SkyFolderDataSource::kUsingSkyfolderKey));
  // The stage gone, the transport no longer draws on its button (nor fails for want of it).
  stage.reset();
  SFAuthHelperOSX::sharedHelper().postStateChangedNotification(nullptr);
  SFSession::setSharedSession(nullptr);
}

}  // namespace
}  // namespace kesto::test
