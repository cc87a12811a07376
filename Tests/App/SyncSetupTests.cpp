// The sync set-up as the application wires it: the toolbar button, the wizard as a sheet on the
// library window, password recovery from the account stage. The windows themselves are tested
// on their own (Tests/Synchronize/Setup).
#include "AppFixture.h"

#include "Synchronize/Setup/SetupTestSupport.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/System/SyncedFolder.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Panel.h"
#include "Skyfolder/SFAuthHelperOSX.h"
#include "Skyfolder/SFSession.h"
#include "Synchronize/Setup/PasswordRecovery.h"
#include "Synchronize/Setup/SetupWindow.h"
#include "Synchronize/Setup/SyncSetupStages.h"
#include "Synchronize/Setup/SyncWizard.h"
#include "Synchronize/Synchronizer.h"
#include "Views/PushButton.h"

namespace kesto::test {
namespace {

class SyncStagesTest : public AppTest {
 protected:
  void SetUp() override {
    AppTest::SetUp();
    responders = std::make_unique<SetupResponders>();
  }
  void TearDown() override {
    responders.reset();
    AppTest::TearDown();
  }

  // Opens the wizard with `method` chosen and moves on, without animating, to that method's stage.
  void openWizardOnTheStageOf(const std::string& method) {
    defaults().setString(method, Synchronizer::kCurrentSyncMethodKey);
    auto& wizard = ui->syncWizard();
    wizard.openWizard();
    ASSERT_TRUE(wizard.setupFlow());
    wizard.setupFlow()->setAnimates(false);
    wizard.setupFlow()->next();
  }

  std::unique_ptr<SetupResponders> responders;
};

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
  ASSERT_TRUE(runUntil([&] { return !ui->syncWizard().setupFlow(); }, 30));
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

TEST_F(SyncStagesTest, TheAccountStagesForgotPasswordOpensTheApplicationsRecoveryPanel) {
  build(0);
  defaults().setString("me@example.org", "SyncEmail");
  ASSERT_NO_FATAL_FAILURE(openWizardOnTheStageOf("kestoapp"));
  auto& wizard = ui->syncWizard();
  ASSERT_TRUE(dynamic_cast<KestoAccountWizard*>(wizard.setupFlow()->currentViewController()));
  ASSERT_TRUE(wizard.forgotPasswordButton());
  EXPECT_FALSE(ui->passwordRecovery().recoveryFolderSheet().isVisible());
  wizard.forgotPasswordButton()->performClick();
  EXPECT_TRUE(ui->passwordRecovery().recoveryFolderSheet().isVisible());
  EXPECT_EQ(ui->passwordRecovery().emailField().stringValue(), "me@example.org");
  ui->passwordRecovery().closeRecoverySheet();
  wizard.closeSyncFolderSheet();
}

TEST_F(SyncStagesTest, TheSkyfolderStagesButtonIsServedByTheApplicationsTransport) {
  build(0);
  ASSERT_NO_FATAL_FAILURE(openWizardOnTheStageOf("skyfolder"));
  auto& wizard = ui->syncWizard();
  auto* stage = dynamic_cast<SkyfolderWizard*>(wizard.setupFlow()->currentViewController());
  ASSERT_TRUE(stage && stage->skyfolderButton());
  EXPECT_EQ(stage->skyfolderButton()->title(), "Link Skyfolder");
  // Linked (the tokens kept): the application's transport retitles the stage's button.
  ASSERT_TRUE(SFSession::sharedSession());
  SFSession::sharedSession()->updateAccessToken("token", "secret", "user");
  SFAuthHelperOSX::sharedHelper().postStateChangedNotification(nullptr);
  EXPECT_EQ(stage->skyfolderButton()->title(), "Unlink Skyfolder");
  SFSession::sharedSession()->unlinkAll();
  wizard.closeSyncFolderSheet();
  SFSession::setSharedSession(nullptr);
}

}  // namespace
}  // namespace kesto::test
