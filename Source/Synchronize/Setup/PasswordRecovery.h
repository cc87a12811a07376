#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/UIForward.h"

#include "Synchronize/SyncNotifications.h"
#include <memory>
#include <string>

namespace kesto {

// The panel in which the user asks the account service for a reset key (mailed to them) and
// then sets a new password with it. Opens on "OpenPasswordRecovery".
class PasswordRecovery {
 public:
  static constexpr fnd::NotificationName kOpenNotification = kOpenPasswordRecoveryNotification;

  PasswordRecovery();
  ~PasswordRecovery();
  PasswordRecovery(const PasswordRecovery&) = delete;
  PasswordRecovery& operator=(const PasswordRecovery&) = delete;

  // Observes "OpenPasswordRecovery".
  void awakeFromNib();
  void openRecoveryForm();
  void openPasswordRecoveryDialog();
  // "Send Key": asks for a reset key for the e-mail field's address.
  void doRecoverFromFromSheet();
  // "Reset Password": checks the form and sends the key with the new password.
  void resetPassword();
  void closeRecoverySheet();

  ui::Panel& recoveryFolderSheet() const { return *panel_; }
  ui::TextField& emailField() const { return *emailField_; }
  ui::TextField& secretKeyField() const { return *secretKeyField_; }
  ui::TextField& newPasswordField() const { return *newPasswordField_; }
  ui::TextField& retypePasswordField() const { return *retypePasswordField_; }
  ui::Label& statusLabel() const { return *statusLabel_; }
  ui::Button& recoverButton() const { return *recoverButton_; }
  bool isWaiting() const { return waiting_; }

 private:
  void replied(bool reset, int status, const std::string& reply, bool failed);

  std::unique_ptr<ui::Panel> panel_;
  std::shared_ptr<ui::TextField> emailField_, secretKeyField_, newPasswordField_, retypePasswordField_;
  std::shared_ptr<ui::Label> statusLabel_;
  std::shared_ptr<ui::Button> recoverButton_, resetButton_;
  std::string email_, newPassword_;
  bool waiting_ = false;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
