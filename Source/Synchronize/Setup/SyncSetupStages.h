#pragma once

#include "Platform/UI/UIForward.h"
#include "Synchronize/Setup/SetupWindow.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/FoundationForward.h"

#include <memory>
#include <optional>
#include <string>

namespace kesto {

class SkyFolderDataSource;
class SyncWizard;

// The first stage: how to sync. The choice decides the stages that follow: the chosen
// transport's stage, then the finish stage. It is stored in "CurrentSyncMethod" only when the
// transport's stage is completed: a cancelled assistant leaves the method in use as it was.
class StartWizard : public SetupWindowStageViewController {
 public:
  explicit StartWizard(SyncWizard* coordinator = nullptr);

  void selectSkyfolder();
  void selectKesto();
  void selectICloud();
  static void setCurrentSyncMethod(const std::string& method);
  // Shows the stored choice; a value other than the three selects nothing.
  void getCurrentSyncMethod();

  bool usesSkyfolder() const { return usesSkyfolder_; }
  bool usesKestoapp() const { return usesKestoapp_; }
  bool usesICloud() const { return usesICloud_; }
  ui::Button* skyfolderButton() const { return skyfolderButton_.get(); }
  ui::Button* kestoButton() const { return kestoButton_.get(); }
  ui::Button* iCloudButton() const { return iCloudButton_.get(); }

  std::optional<bool> canContinue() const override { return true; }
  std::optional<bool> canGoBack() const override { return false; }
  std::optional<std::string> continueButtonTitle() const override { return continueButtonTitle_; }
  void willProgressToNextStage() override;
  void viewDidAppear() override { getCurrentSyncMethod(); }

 protected:
  std::shared_ptr<ui::View> loadView() override;

 private:
  void choose(int which);

  SyncWizard* coordinator_;
  std::string chosen_;  // the method chosen on this visit, not yet stored
  std::shared_ptr<ui::Button> skyfolderButton_, kestoButton_, iCloudButton_;
  bool usesSkyfolder_ = false, usesKestoapp_ = false, usesICloud_ = false;
  std::string continueButtonTitle_ = "Continue";
};

// Linking the Skyfolder account: the coordinator serves the link button. Next waits for the link;
// a link step that fails is told in words (on the stage and in an alert). Completing the stage
// makes Skyfolder the way to sync.
class SkyfolderWizard : public SetupWindowStageViewController {
 public:
  explicit SkyfolderWizard(SyncWizard* coordinator = nullptr) : coordinator_(coordinator) {}
  ~SkyfolderWizard() override;
  std::optional<std::string> continueButtonTitle() const override { return "Next"; }
  std::optional<bool> canContinue() const override;
  void willProgressToNextStage() override;
  ui::Button* skyfolderButton() const { return skyfolderButton_.get(); }
  ui::Label* statusLabel() const { return statusLabel_.get(); }
  // What a failed link step says to the user.
  static std::string linkFailureMessage(const fnd::Error& error);

 protected:
  std::shared_ptr<ui::View> loadView() override;

 private:
  void linkStateChanged(const fnd::Notification& notification);
  void showLinkState(const std::string& failure = {});

  SyncWizard* coordinator_;
  std::shared_ptr<ui::Button> skyfolderButton_;
  std::shared_ptr<ui::Label> statusLabel_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

// Hands `button` to the transport, which shows the account's state on it and takes its presses.
void connectSkyfolderLinkButton(SkyFolderDataSource& link, const std::shared_ptr<ui::Button>& button);

// The account service: sign in with e-mail and password, register a new account, or ask for a
// new password. The fields are the coordinator's outlets.
class KestoAccountWizard : public SetupWindowStageViewController {
 public:
  explicit KestoAccountWizard(SyncWizard* coordinator = nullptr) : coordinator_(coordinator) {}
  std::optional<std::string> continueButtonTitle() const override { return "Finish"; }
  void willProgressToNextStage() override;
  // Posts "OpenPasswordRecovery".
  static void forgotPassword();
  ui::TextField* emailField() const { return emailField_.get(); }

 protected:
  std::shared_ptr<ui::View> loadView() override;
  void viewDidLoad() override;

 private:
  SyncWizard* coordinator_;
  std::shared_ptr<ui::TextField> emailField_;
};

// The synced folder (the stored method "icloud"): the user picks the folder with the desktop's
// folder dialog. Continue waits until one is chosen: without it there is nothing to sync with.
// The folder and the method are stored when the stage is completed.
class ICloudWizard : public SetupWindowStageViewController {
 public:
  ICloudWizard();
  std::optional<std::string> continueButtonTitle() const override { return "Next"; }
  std::optional<bool> canContinue() const override;
  void willProgressToNextStage() override;
  void chooseFolder();
  // Takes `path` as the synced folder to keep; false (and nothing taken) when it is no folder.
  bool setFolder(const std::string& path);
  ui::Label* folderLabel() const { return folderLabel_.get(); }

 protected:
  std::shared_ptr<ui::View> loadView() override;

 private:
  void showFolder();
  std::shared_ptr<ui::Label> folderLabel_;
  std::optional<std::string> chosenFolder_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

// The last stage: shown going forward, it starts the first sync ("StartSync").
class FinishWizard : public SetupWindowStageViewController {
 public:
  std::optional<std::string> continueButtonTitle() const override { return "Finish"; }
  void didProgressToStage() override;

 protected:
  std::shared_ptr<ui::View> loadView() override;
};

}  // namespace kesto
