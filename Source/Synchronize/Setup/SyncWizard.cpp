#include "Synchronize/Setup/SyncWizard.h"

#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/Setup/SetupWindow.h"
#include "Synchronize/SyncNotifications.h"
#include "Synchronize/SyncSettings.h"
#include "Synchronize/Setup/SyncSetupStages.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Model/WrenEntity.h"
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
  // Dropped once the call that closed it (a button of the window itself) has returned.
  fnd::DispatchQueue::main().async([flow] {});
}

std::string SyncWizard::syncAccountRecap() {
  std::string text = "No Account set";
  const auto email = stringDefault("SyncEmail");
  if (!email.empty() && emailField_) emailField_->setStringValue(email);
  if (fnd::UserDefaults::standard().boolForKey("syncUsingSkyfolder")) {
    text = "You are currently using your Skyfolder account to sync your Kesto library";
    if (forgotPasswordButton_) forgotPasswordButton_->setHidden(true);
  } else if (!email.empty()) {
    text = "You are currently using the online Kesto account registered with this email: " + email +
           " to sync your Kesto library";
    if (forgotPasswordButton_) forgotPasswordButton_->setHidden(false);
  }
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
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(email, "SyncEmail");
  defaults.setString(password, "SyncPassword");
  defaults.synchronize();
  if (loginStatusLabel_) loginStatusLabel_->setStringValue("Credentials saved");
  showAccountRecap();
}

void SyncWizard::saveSyncCredentialsIfTyped() {
  if (passwordField_ && !passwordField_->stringValue().empty()) saveSyncCredentials();
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
  // The form's address and password are kept, not what the reply says.
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(emailRegistration_, "SyncEmail");
  defaults.setString(passwordRegistration_, "SyncPassword");
  defaults.synchronize();
  if (preferencesChanged) preferencesChanged();
  showAccountRecap();
  AlertPresenter::alert("Kesto Online", "Registration successful", "OK");
}

void SyncWizard::resetAppId() {
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString("kesto-" + WrenEntity::uniqueID(), Synchronizer::kKestoIDKey);
  defaults.synchronize();
  AlertPresenter::alert("Kesto Online", "Sync reset successful", "OK");
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
