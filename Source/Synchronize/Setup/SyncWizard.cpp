#include "Synchronize/Setup/SyncWizard.h"

#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/SkyFolderDataSource.h"
#include "Synchronize/Setup/SetupWindow.h"
#include "Model/ModelNotifications.h"
#include "Synchronize/SyncSettings.h"
#include "Synchronize/Setup/SyncSetupStages.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/System/SyncedFolder.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/TextField.h"
#include "Platform/UI/Window.h"
#include "Support/AlertPresenter.h"
#include "Platform/UI/SheetPresenter.h"

namespace kesto {

using syncsettings::stringDefault;

SyncWizard::SyncWizard() = default;

SyncWizard::~SyncWizard() {
  lifetime_.end();
  if (setupFlow_) setupFlow_->orderOut();
}

void SyncWizard::openWizard() {
  fnd::NotificationCenter::defaultCenter().postNotificationName(HideInitialPopup);
  setupWizardScreens();
  if (!setupFlow_) return;
  if (auto* presenter = ui::SheetPresenter::current()) {
    SetupWindow* shown = setupFlow_.get();
    presenter->presentSheetWithWindow(*setupFlow_, lifetime_.whileAlive([this, shown](int) {
      // The sheet ended from outside (another sheet took its place): the wizard is over.
      if (setupFlow_.get() == shown) closeSyncFolderSheet();
    }));
  } else {
    setupFlow_->makeKeyAndOrderFront();
  }
}

void SyncWizard::setupWizardScreens() {
  if (setupFlow_) closeSyncFolderSheet();
  auto window = SetupWindow::create({std::make_shared<StartWizard>(this)}, lifetime_.whileAlive([this](bool) {
    showAccountRecap();
    closeSyncFolderSheet();
  }));
  if (!window) return;
  window->setTitle("Sync Set-up");
  window->setBackgroundImage(ui::Image::named("kesto_background"));
  setupFlow_ = std::shared_ptr<SetupWindow>(std::move(window));
}

void SyncWizard::closeSyncFolderSheet() {
  if (!setupFlow_) return;
  std::shared_ptr<SetupWindow> flow = std::move(setupFlow_);
  setupFlow_.reset();
  if (auto* presenter = ui::SheetPresenter::current()) presenter->dismissSheetForWindow(*flow);
  else flow->orderOut();
  emailField_.reset();
  passwordField_.reset();
  loginStatusLabel_.reset();
  syncAccountRecapLabel_.reset();
  forgotPasswordButton_.reset();
  emailFieldRegistration_.reset();
  passwordFieldRegistration_.reset();
  retypePasswordFieldRegistration_.reset();
  statusLabel_.reset();
  registerButton_.reset();
  pendingAccount_.reset();
  // Dropped once the call that closed it (a button of the window itself) has returned.
  fnd::DispatchQueue::main().async([flow] {});
}

std::string SyncWizard::syncAccountRecap() {
  // The method in use, as stored: what the assistant shows on a visit is not in use yet.
  std::string text = "No Account set";
  const auto email = stringDefault(syncsettings::kEmailKey);
  if (!email.empty() && emailField_ && emailField_->stringValue().empty()) emailField_->setStringValue(email);
  const auto method = stringDefault(Synchronizer::kCurrentSyncMethodKey);
  if (method == SkyFolderDataSource::kMethod) {
    text = "You are currently using your Skyfolder account to sync your Kesto library";
  } else if (method == ICloudDataSource::kMethod) {
    auto folder = sys::SyncedFolder::configured();
    text = folder ? "You are currently using the synced folder " + folder->root() + " to sync your Kesto library"
                  : "You are currently using a synced folder to sync your Kesto library, but no folder is chosen";
  } else if (method == KestoappDataSource::kMethod && !email.empty()) {
    text = "You are currently using the online Kesto account registered with this email: " + email +
           " to sync your Kesto library";
  }
  if (forgotPasswordButton_) forgotPasswordButton_->setHidden(method == SkyFolderDataSource::kMethod);
  return text;
}

void SyncWizard::showAccountRecap() {
  const auto text = syncAccountRecap();
  if (syncAccountRecapLabel_) syncAccountRecapLabel_->setStringValue(text);
}

void SyncWizard::saveSyncCredentials() {
  const std::string email = emailField_ ? emailField_->stringValue() : std::string();
  const std::string password = passwordField_ ? passwordField_->stringValue() : std::string();
  if (password.empty()) {
    if (loginStatusLabel_) loginStatusLabel_->setStringValue("Please fill in all the fields");
    return;
  }
  // Kept for this visit only: they are stored, and first tried, when the stage is finished.
  pendingAccount_ = {email, password};
  if (loginStatusLabel_)
    loginStatusLabel_->setStringValue("Saved, not checked yet: Finish signs in with them.");
}

void SyncWizard::commitAccount() {
  if (passwordField_ && !passwordField_->stringValue().empty())
    pendingAccount_ = {emailField_ ? emailField_->stringValue() : std::string(), passwordField_->stringValue()};
  if (pendingAccount_) {
    auto& defaults = fnd::UserDefaults::standard();
    defaults.setString(pendingAccount_->first, syncsettings::kEmailKey);
    defaults.synchronize();
    syncsettings::setAccountPassword(pendingAccount_->second);
    pendingAccount_.reset();
  }
  StartWizard::setCurrentSyncMethod(KestoappDataSource::kMethod);
  if (preferencesChanged) preferencesChanged();
  showAccountRecap();
}

void SyncWizard::doRegisterFromFromSheet() {
  if (registering_) return;
  emailRegistration_ = emailFieldRegistration_ ? emailFieldRegistration_->stringValue() : std::string();
  passwordRegistration_ = passwordFieldRegistration_ ? passwordFieldRegistration_->stringValue() : std::string();
  const std::string retype =
      retypePasswordFieldRegistration_ ? retypePasswordFieldRegistration_->stringValue() : std::string();
  auto say = [this](const std::string& text) {
    if (statusLabel_) {
      statusLabel_->setHidden(false);
      statusLabel_->setStringValue(text);
    }
  };
  if (emailRegistration_.empty() || passwordRegistration_.empty() || retype.empty())
    return say("Please fill in all the fields");
  if (passwordRegistration_ != retype) return say("The passwords do not match");
  registering_ = true;
  if (registerButton_) registerButton_->setEnabled(false);
  say("Registering…");
  KestoappDataSource::postForm(KestoappDataSource::kRegisterPath,
                               KestoappDataSource::registerBody(emailRegistration_, passwordRegistration_),
                               lifetime_.whileAlive([this](int status, const std::string& reply, bool failed) {
                                 registrationEnded(status, reply, failed);
                               }));
}

void SyncWizard::registrationEnded(int status, const std::string& reply, bool failed) {
  // Every outcome gives the form back.
  registering_ = false;
  if (registerButton_) registerButton_->setEnabled(true);
  if (statusLabel_) statusLabel_->setStringValue("");
  if (failed) return AlertPresenter::alert("Connection error", "Could not connect to the server", "OK");
  if (status < 200 || status > 299)
    return AlertPresenter::alert("Registration failed",
                                 "The server could not register you (HTTP " + std::to_string(status) +
                                     "). Please try again later.",
                                 "OK");
  if (!KestoappDataSource::registrationSucceeded(reply))
    return AlertPresenter::alert("Registration failed", "This email is already taken", "OK");
  // The form's address and password, not what the reply says; they are the account this
  // set-up signs in with, stored when the stage is finished.
  pendingAccount_ = {emailRegistration_, passwordRegistration_};
  if (emailField_) emailField_->setStringValue(emailRegistration_);
  if (passwordField_) passwordField_->setStringValue(passwordRegistration_);
  if (loginStatusLabel_) loginStatusLabel_->setStringValue("Registered: press Finish to sync with this account.");
  AlertPresenter::inform("Kesto Online", "Registration successful", "OK");
}

void SyncWizard::resetAppId() {
  syncsettings::renewLibraryIdentifier();
  AlertPresenter::inform("Kesto Online", "Sync reset successful", "OK");
}

void SyncWizard::buildAccountForm(ui::View& view) {
  constexpr double w = SetupWindow::kStageWidth;
  auto label = [&](const fnd::Rect& frame, const std::string& text) {
    auto l = std::make_shared<ui::Label>(frame, text);
    l->setWraps(true);
    view.addSubview(l);
    return l;
  };
  auto field = [&](const fnd::Rect& frame, bool secure, const std::string& placeholder) {
    auto f = std::make_shared<ui::TextField>(frame, secure ? ui::TextField::Style::Secure : ui::TextField::Style::Plain);
    f->setPlaceholderString(placeholder);
    view.addSubview(f);
    return f;
  };
  syncAccountRecapLabel_ = label(fnd::Rect(0, 252, w, 36), "");
  // Signing in with an account that exists.
  label(fnd::Rect(0, 226, w, 20), "Sign in:");
  emailField_ = field(fnd::Rect(0, 198, 240, 24), false, "E-mail");
  passwordField_ = field(fnd::Rect(0, 168, 240, 24), true, "Password");
  passwordField_->setAction([this] { saveSyncCredentials(); });
  ui::addPushButton(view, fnd::Rect(250, 166, 150, 28), "Save", [this] { saveSyncCredentials(); });
  forgotPasswordButton_ = ui::addPushButton(view, fnd::Rect(250, 196, 150, 28), "Forgot Password…", [] {
    KestoAccountWizard::forgotPassword();
  });
  loginStatusLabel_ = label(fnd::Rect(0, 142, w, 20), "");
  // A new account.
  label(fnd::Rect(0, 116, w, 20), "Or create a new account:");
  emailFieldRegistration_ = field(fnd::Rect(0, 88, 240, 24), false, "E-mail");
  passwordFieldRegistration_ = field(fnd::Rect(0, 58, 240, 24), true, "Password");
  retypePasswordFieldRegistration_ = field(fnd::Rect(0, 28, 240, 24), true, "Password again");
  retypePasswordFieldRegistration_->setAction([this] { doRegisterFromFromSheet(); });
  registerButton_ =
      ui::addPushButton(view, fnd::Rect(250, 26, 150, 28), "Register", [this] { doRegisterFromFromSheet(); });
  statusLabel_ = label(fnd::Rect(0, 2, w, 20), "");
  registering_ = false;
}

void SyncWizard::serveSkyfolderLinkButton(const std::shared_ptr<ui::Button>& button) {
  if (skyfolderLinkButtonServer) skyfolderLinkButtonServer(button);
}

}  // namespace kesto
