#pragma once

#include "Platform/UI/UIForward.h"

#include <functional>
#include <memory>
#include <string>

namespace kesto {

// The folder list's small panels, built in code: the lock password, a new password with its
// confirmation, and the text a new smart folder's bookmarks must contain. Each panel's OK button
// runs its callback; a callback answering true closes the panel, false leaves it open with the
// hint shown.
class FolderPanels {
 public:
  FolderPanels();
  ~FolderPanels();
  FolderPanels(const FolderPanels&) = delete;
  FolderPanels& operator=(const FolderPanels&) = delete;

  void setConfirmPassword(std::function<bool()> action) { confirmPassword_ = std::move(action); }
  void setSaveNewPassword(std::function<bool()> action) { saveNewPassword_ = std::move(action); }
  void setCreateSmartFolder(std::function<bool()> action) { createSmartFolder_ = std::move(action); }

  // Shows a panel centred on `parent` (may be null) with its first field focused.
  void showPasswordPanel(ui::Window* parent);
  void showNewPasswordPanel(ui::Window* parent);
  void showSmartFolderPanel(ui::Window* parent);
  void closeAll();

  ui::Panel& passwordPanel() const { return *passwordPanel_; }
  ui::Panel& newPasswordPanel() const { return *newPasswordPanel_; }
  ui::Panel& smartFolderPanel() const { return *smartPanel_; }
  ui::TextField& passwordField() const { return *passwordField_; }
  ui::TextField& newPasswordField() const { return *newPasswordField_; }
  ui::TextField& confirmPasswordField() const { return *confirmPasswordField_; }
  ui::TextField& smartFolderField() const { return *smartField_; }
  ui::Label& passwordHint() const { return *passwordHint_; }
  ui::Label& newPasswordHint() const { return *newPasswordHint_; }
  // The panels' OK buttons, as a click would press them.
  void pressPasswordOK();
  void pressNewPasswordOK();
  void pressSmartFolderOK();

 private:
  std::unique_ptr<ui::Panel> passwordPanel_, newPasswordPanel_, smartPanel_;
  std::shared_ptr<ui::TextField> passwordField_, newPasswordField_, confirmPasswordField_, smartField_;
  std::shared_ptr<ui::Label> passwordHint_, newPasswordHint_;
  std::function<bool()> confirmPassword_, saveNewPassword_, createSmartFolder_;
};

}  // namespace kesto
