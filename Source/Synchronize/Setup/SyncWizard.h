#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kesto {

class SetupWindow;

// Opens the sync set-up wizard as a sheet on the library window, shows a recap of the account in
// use, keeps the account service's e-mail and password, registers new accounts, and can give the
// library a new sync identifier. The sync engine opens the wizard through it.
class SyncWizard {
 public:
  SyncWizard();
  ~SyncWizard();
  SyncWizard(const SyncWizard&) = delete;
  SyncWizard& operator=(const SyncWizard&) = delete;

  void openWizard();
  void setupWizardScreens();
  void closeSyncFolderSheet();
  SetupWindow* setupFlow() const { return setupFlow_.get(); }

  void showAccountRecap();
  std::string syncAccountRecap();
  // Keeps the e-mail and password of the account fields for this set-up (nothing is stored yet).
  void saveSyncCredentials();
  // The account stage is finished: the account typed, saved or registered on this visit is
  // stored (its password in the keychain) and the account service becomes the way to sync.
  void commitAccount();
  // The registration form's action: checks the form, then registers with the account service.
  void doRegisterFromFromSheet();
  // A new library identifier: the next sync no longer takes the remote file for this library's.
  void resetAppId();

  // The account stage's form, built into `view` (its fields become this object's outlets).
  void buildAccountForm(ui::View& view);
  // The Skyfolder stage hands its link button over to whoever serves it.
  void serveSkyfolderLinkButton(const std::shared_ptr<ui::Button>& button);

  // Outlets.
  std::function<void()> preferencesChanged;  // the preferences panel reads the account again
  std::function<void(const std::shared_ptr<ui::Button>&)> skyfolderLinkButtonServer;
  const std::shared_ptr<ui::TextField>& emailField() const { return emailField_; }
  const std::shared_ptr<ui::TextField>& passwordField() const { return passwordField_; }
  const std::shared_ptr<ui::Label>& loginStatusLabel() const { return loginStatusLabel_; }
  const std::shared_ptr<ui::Label>& syncAccountRecapLabel() const { return syncAccountRecapLabel_; }
  const std::shared_ptr<ui::Button>& forgotPasswordButton() const { return forgotPasswordButton_; }
  const std::shared_ptr<ui::TextField>& emailFieldRegistration() const { return emailFieldRegistration_; }
  const std::shared_ptr<ui::TextField>& passwordFieldRegistration() const { return passwordFieldRegistration_; }
  const std::shared_ptr<ui::TextField>& retypePasswordFieldRegistration() const {
    return retypePasswordFieldRegistration_;
  }
  const std::shared_ptr<ui::Label>& statusLabel() const { return statusLabel_; }
  const std::shared_ptr<ui::Button>& registerButton() const { return registerButton_; }
  bool isRegistering() const { return registering_; }

 private:
  void registrationEnded(int status, const std::string& reply, bool failed);

  std::shared_ptr<SetupWindow> setupFlow_;
  std::shared_ptr<ui::TextField> emailField_, passwordField_;
  std::shared_ptr<ui::Label> loginStatusLabel_, syncAccountRecapLabel_, statusLabel_;
  std::shared_ptr<ui::Button> forgotPasswordButton_, registerButton_;
  std::shared_ptr<ui::TextField> emailFieldRegistration_, passwordFieldRegistration_, retypePasswordFieldRegistration_;
  std::string emailRegistration_, passwordRegistration_;
  std::optional<std::pair<std::string, std::string>> pendingAccount_;  // e-mail, password
  bool registering_ = false;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
