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
#include "Skyfolder/SFConfig.h"
#include "Skyfolder/SFRequest.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Net/URLError.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/Setup/PasswordRecovery.h"
#include "Synchronize/Setup/SyncSetupStages.h"
#include "Synchronize/Setup/SyncWizard.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/SyncSettings.h"
#include "Synchronize/Synchronizer.h"

#include <gtest/gtest.h>

namespace kesto::test {
namespace {

class SyncStagesTest : public ::testing::Test {
 protected:
  // The settings a completed stage stores start unset, whatever a test before stored.
  void SetUp() override {
    defaults().removeObject(Synchronizer::kCurrentSyncMethodKey);
    defaults().removeObject(SkyFolderDataSource::kUsingSkyfolderKey);
  }
  // Windows hand their widgets to the event loop for deletion: one more turn frees them.
  void TearDown() override { spin(0.05); }
  fnd::UserDefaults& defaults() { return fnd::UserDefaults::standard(); }
  std::string method() { return defaults().stringForKey(Synchronizer::kCurrentSyncMethodKey).value_or(""); }

  SetupResponders responders;
  std::shared_ptr<TestAlertResponder>& alerts = responders.alerts;
  std::shared_ptr<TestDialogResponder>& dialogs = responders.dialogs;
};

TEST_F(SyncStagesTest, TheChoiceDecidesTheStagesAndIsStoredWhenItsStageIsCompleted) {
  defaults().setString("skyfolder", Synchronizer::kCurrentSyncMethodKey);
  SyncWizard wizard;
  auto start = std::make_shared<StartWizard>(&wizard);
  auto window = SetupWindow::create({start}, [](bool) {});
  ASSERT_TRUE(window);
  window->setAnimates(false);
  EXPECT_EQ(window->nextButton().title(), "Continue");
  EXPECT_FALSE(window->backButton().isEnabled());
  EXPECT_EQ(start->skyfolderButton()->state(), 1) << "the stored method is shown";
  start->iCloudButton()->performClick();
  EXPECT_EQ(method(), "skyfolder") << "a choice alone changes no setting";
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
  EXPECT_EQ(first->skyfolderButton()->state(), 0);
  EXPECT_EQ(first->iCloudButton()->state(), 0);
  window->next();
  ASSERT_EQ(window->viewControllers().size(), 3u);
  EXPECT_TRUE(dynamic_cast<KestoAccountWizard*>(window->currentViewController()));
  EXPECT_EQ(method(), "skyfolder");
  // Finishing the account stage makes the account service the way to sync.
  window->next();
  EXPECT_EQ(method(), "kestoapp");
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
  EXPECT_NE(folderStage->folderLabel()->stringValue().find(dir), std::string::npos);
  // Kept once the stage is completed, with the method.
  EXPECT_FALSE(defaults().stringForKey(sys::SyncedFolder::kDefaultsKey));
  window->next();
  EXPECT_EQ(defaults().stringForKey(sys::SyncedFolder::kDefaultsKey), dir);
  EXPECT_EQ(method(), "icloud");
}

TEST_F(SyncStagesTest, TheRecapNamesTheMethodInUse) {
  SyncWizard wizard;
  defaults().removeObject("SyncEmail");
  defaults().removeObject(Synchronizer::kCurrentSyncMethodKey);
  defaults().removeObject(sys::SyncedFolder::kDefaultsKey);
  EXPECT_EQ(wizard.syncAccountRecap(), "No Account set");
  defaults().setString("me@example.org", "SyncEmail");
  // A left-over Skyfolder flag or account address says nothing about the method in use.
  defaults().setBool(true, "syncUsingSkyfolder");
  EXPECT_EQ(wizard.syncAccountRecap(), "No Account set");
  defaults().setString("kestoapp", Synchronizer::kCurrentSyncMethodKey);
  EXPECT_EQ(wizard.syncAccountRecap(),
            "You are currently using the online Kesto account registered with this email: me@example.org to sync "
            "your Kesto library");
  defaults().setString("icloud", Synchronizer::kCurrentSyncMethodKey);
  auto dir = makeTempDir("synced");
  defaults().setString(dir, sys::SyncedFolder::kDefaultsKey);
  EXPECT_EQ(wizard.syncAccountRecap(), "You are currently using the synced folder " + dir + " to sync your Kesto library");
  defaults().setString("skyfolder", Synchronizer::kCurrentSyncMethodKey);
  EXPECT_EQ(wizard.syncAccountRecap(), "You are currently using your Skyfolder account to sync your Kesto library");
}

class AccountStageTest : public SyncStagesTest {
 protected:
  void SetUp() override {
    SyncStagesTest::SetUp();
    defaults().setString(service.baseURL(), KestoappDataSource::kBaseURLKey);
    defaults().removeObject("SyncEmail");
    defaults().removeObject("SyncPassword");
    syncsettings::removeAccountPassword();
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

TEST_F(AccountStageTest, SavingNeedsAPasswordAndFinishingStoresBothFieldsThePasswordInTheKeychain) {
  wizard.emailField()->setStringValue("");
  wizard.passwordField()->setStringValue("");
  wizard.saveSyncCredentials();
  EXPECT_EQ(wizard.loginStatusLabel()->stringValue(), "Please fill in all the fields");
  wizard.passwordField()->setStringValue("pw");
  wizard.saveSyncCredentials();
  // Said as it is: nothing was checked, nothing stored yet.
  EXPECT_EQ(wizard.loginStatusLabel()->stringValue(),
            "Saved, not checked yet: Finish signs in with them.");
  EXPECT_FALSE(defaults().stringForKey("SyncEmail"));
  EXPECT_EQ(syncsettings::accountPassword(), "");
  wizard.passwordField()->setStringValue("");
  window->next();
  EXPECT_EQ(defaults().stringForKey("SyncEmail"), "");
  EXPECT_EQ(syncsettings::accountPassword(), "pw");
  EXPECT_FALSE(defaults().stringForKey("SyncPassword")) << "no password in the settings file";
  EXPECT_EQ(method(), "kestoapp");
}

// An older version kept the password in the settings file: it moves to the keychain once.
TEST_F(AccountStageTest, AnOlderSettingsPasswordMovesToTheKeychain) {
  defaults().setString("old secret", "SyncPassword");
  EXPECT_EQ(syncsettings::accountPassword(), "old secret");
  EXPECT_FALSE(defaults().hasValueForKey("SyncPassword"));
  EXPECT_EQ(syncsettings::accountPassword(), "old secret");
  syncsettings::removeAccountPassword();
  EXPECT_EQ(syncsettings::accountPassword(), "");
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
  EXPECT_TRUE(alerts->shown[0].information) << "a success is no warning";
  EXPECT_EQ(wizard.emailField()->stringValue(), "new+x@example.org");
  EXPECT_TRUE(wizard.registerButton()->isEnabled());
  {
    std::lock_guard<std::mutex> lock(service.mutex());
    EXPECT_TRUE(service.accounts.count("new+x@example.org"));
  }
  // The same address again is taken.
  ASSERT_TRUE(registerAndWait());
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message, "This email is already taken");
  // Finishing the stage stores the registered account, not the failed second attempt's.
  EXPECT_FALSE(defaults().stringForKey("SyncEmail"));
  window->next();
  EXPECT_EQ(defaults().stringForKey("SyncEmail"), "new+x@example.org");
  EXPECT_EQ(syncsettings::accountPassword(), "pw");
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
  ASSERT_FALSE(alerts->shown.empty());
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
  EXPECT_EQ(syncsettings::accountPassword(), "new");
  EXPECT_FALSE(recovery.recoveryFolderSheet().isVisible());
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().message, "Your password has been successfully reset");
  EXPECT_TRUE(alerts->shown.back().information);
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

// Browsing every stage of a working set-up and cancelling changes nothing: the method, the synced
// folder, the account and the Skyfolder choice stay as they were.
TEST_F(SyncStagesTest, CancelLeavesTheMethodAndItsSettingsAsTheyWere) {
  const auto folder = makeTempDir("working");
  defaults().setString("icloud", Synchronizer::kCurrentSyncMethodKey);
  defaults().setString(folder, sys::SyncedFolder::kDefaultsKey);
  defaults().setString("me@example.org", "SyncEmail");
  defaults().setBool(false, SkyFolderDataSource::kUsingSkyfolderKey);
  syncsettings::removeAccountPassword();
  SkyFolderDataSource link;
  SyncWizard wizard;
  wizard.skyfolderLinkButtonServer = [&link](const std::shared_ptr<ui::Button>& b) {
    connectSkyfolderLinkButton(link, b);
  };
  wizard.setupWizardScreens();
  auto* window = wizard.setupFlow();
  ASSERT_TRUE(window);
  window->setAnimates(false);
  window->next();  // the stage list is built, the first stage shown
  window->back();
  auto first = [&] { return dynamic_cast<StartWizard*>(window->currentViewController()); };
  ASSERT_TRUE(first());
  // Skyfolder, unlinked: Next waits.
  first()->skyfolderButton()->performClick();
  window->next();
  ASSERT_TRUE(dynamic_cast<SkyfolderWizard*>(window->currentViewController()));
  EXPECT_FALSE(window->nextButton().isEnabled());
  window->back();
  // The account: typed and saved.
  first()->kestoButton()->performClick();
  window->next();
  ASSERT_TRUE(dynamic_cast<KestoAccountWizard*>(window->currentViewController()));
  EXPECT_EQ(wizard.syncAccountRecapLabel()->stringValue(),
            "You are currently using the synced folder " + folder + " to sync your Kesto library");
  wizard.emailField()->setStringValue("other@example.org");
  wizard.passwordField()->setStringValue("typed");
  wizard.saveSyncCredentials();
  window->back();
  // Another folder.
  first()->iCloudButton()->performClick();
  window->next();
  auto* folderStage = dynamic_cast<ICloudWizard*>(window->currentViewController());
  ASSERT_TRUE(folderStage);
  ASSERT_TRUE(folderStage->setFolder(makeTempDir("other")));
  window->cancel();
  EXPECT_FALSE(wizard.setupFlow());
  EXPECT_EQ(method(), "icloud");
  EXPECT_EQ(defaults().stringForKey(sys::SyncedFolder::kDefaultsKey), folder);
  EXPECT_EQ(defaults().stringForKey("SyncEmail"), "me@example.org");
  EXPECT_EQ(syncsettings::accountPassword(), "");
  EXPECT_FALSE(defaults().boolForKey(SkyFolderDataSource::kUsingSkyfolderKey));
  SFSession::setSharedSession(nullptr);
}

// A link that cannot reach Skyfolder says so in words, on the stage and in an alert, and Next
// stays off; the reasons a user can act on are told apart.
TEST_F(SyncStagesTest, AFailedSkyfolderLinkIsToldAndNextWaits) {
  defaults().setString("127.0.0.1:9", SFConfig::kAPIHostKey);
  SkyFolderDataSource link;
  SyncWizard wizard;
  wizard.skyfolderLinkButtonServer = [&link](const std::shared_ptr<ui::Button>& b) {
    connectSkyfolderLinkButton(link, b);
  };
  auto stage = std::make_shared<SkyfolderWizard>(&wizard);
  auto window = SetupWindow::create({probe("first", nullptr), stage}, [](bool) {});
  window->setAnimates(false);
  window->next();
  ASSERT_EQ(window->currentViewController(), stage.get());
  EXPECT_FALSE(window->nextButton().isEnabled());
  stage->skyfolderButton()->performClick();
  ASSERT_TRUE(runUntil([&] { return !alerts->shown.empty(); }, 20));
  EXPECT_EQ(alerts->shown[0].title, "Link failed");
  EXPECT_NE(alerts->shown[0].message.find("no connection"), std::string::npos) << alerts->shown[0].message;
  EXPECT_EQ(stage->statusLabel()->stringValue(), alerts->shown[0].message);
  EXPECT_FALSE(window->nextButton().isEnabled());
  EXPECT_FALSE(defaults().boolForKey(SkyFolderDataSource::kUsingSkyfolderKey));
  using E = fnd::Error;
  EXPECT_NE(SkyfolderWizard::linkFailureMessage(E(fnd::kURLErrorDomain, net::urlerror::ServerCertificateUntrusted))
                .find("not trusted"),
            std::string::npos);
  EXPECT_NE(SkyfolderWizard::linkFailureMessage(E(kSFSkyfolderErrorDomain, 503)).find("HTTP 503"), std::string::npos);
  window.reset();
  stage.reset();
  defaults().removeObject(SFConfig::kAPIHostKey);
  SFSession::setSharedSession(nullptr);
}

}  // namespace
}  // namespace kesto::test
