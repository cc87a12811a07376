#include "Synchronize/Setup/PasswordRecovery.h"

#include "Synchronize/KestoappDataSource.h"
#include "Synchronize/SyncSettings.h"

#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/UserDefaults.h"
#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"
#include "Support/AlertPresenter.h"
#include "Platform/UI/SheetPresenter.h"

namespace kesto {

namespace {
constexpr double kWidth = 380, kHeight = 300;
}

PasswordRecovery::PasswordRecovery() {
  panel_ = std::make_unique<ui::Panel>(fnd::Rect(0, 0, kWidth, kHeight));
  panel_->setTitle("Password Recovery");
  auto content = std::make_shared<ui::View>(fnd::Rect(0, 0, kWidth, kHeight));
  auto label = [&](const fnd::Rect& frame, const std::string& text) {
    auto l = std::make_shared<ui::Label>(frame, text);
    l->setWraps(true);
    content->addSubview(l);
    return l;
  };
  auto field = [&](double y, bool secure, const std::string& placeholder) {
    auto f = std::make_shared<ui::TextField>(fnd::Rect(20, y, 220, 24),
                                             secure ? ui::TextField::Style::Secure : ui::TextField::Style::Plain);
    f->setPlaceholderString(placeholder);
    content->addSubview(f);
    return f;
  };
  auto button = [&](double y, const std::string& title, std::function<void()> action) {
    return ui::addPushButton(*content, fnd::Rect(250, y - 2, 110, 28), title, std::move(action));
  };
  label(fnd::Rect(20, 256, kWidth - 40, 34), "Kesto mails you a secret key; with it you choose a new password.");
  emailField_ = field(222, false, "E-mail");
  recoverButton_ = button(222, "Send Key", [this] { doRecoverFromFromSheet(); });
  secretKeyField_ = field(176, false, "Secret key");
  newPasswordField_ = field(146, true, "New password");
  retypePasswordField_ = field(116, true, "New password again");
  resetButton_ = button(116, "Reset", [this] { resetPassword(); });
  retypePasswordField_->setAction([this] { resetPassword(); });
  statusLabel_ = label(fnd::Rect(20, 70, kWidth - 40, 36), "");
  ui::addPushButton(*content, fnd::Rect(kWidth - 110, 14, 90, 28), "Close", [this] { closeRecoverySheet(); });
  panel_->setContentView(content);
}

PasswordRecovery::~PasswordRecovery() {
  lifetime_.end();
  fnd::NotificationCenter::defaultCenter().removeObserver(this);
  panel_->orderOut();
}

void PasswordRecovery::awakeFromNib() {
  auto& center = fnd::NotificationCenter::defaultCenter();
  center.removeObserver(this);
  center.addObserver(this, [this](const fnd::Notification&) { openRecoveryForm(); }, kOpenNotification);
}

void PasswordRecovery::openRecoveryForm() {
  statusLabel_->setStringValue("");
  openPasswordRecoveryDialog();
}

void PasswordRecovery::openPasswordRecoveryDialog() {
  auto email = fnd::UserDefaults::standard().stringForKey(syncsettings::kEmailKey);
  if (email && !email->empty()) emailField_->setStringValue(*email);
  waiting_ = false;
  recoverButton_->setEnabled(true);
  resetButton_->setEnabled(true);
  // A free panel over the library window (the wizard's sheet stays where it is).
  if (auto* presenter = ui::SheetPresenter::current())
    if (auto* library = presenter->libraryWindow()) {
      auto outer = library->frame();
      panel_->setFrame(fnd::Rect(outer.midX() - kWidth / 2, outer.midY() - kHeight / 2, kWidth, kHeight), false);
    }
  panel_->makeKeyAndOrderFront();
  panel_->makeFirstResponder(emailField_.get());
}

void PasswordRecovery::doRecoverFromFromSheet() {
  email_ = emailField_->stringValue();
  if (email_.empty() || waiting_) return;
  waiting_ = true;
  recoverButton_->setEnabled(false);
  resetButton_->setEnabled(false);
  statusLabel_->setStringValue("Asking for a key…");
  KestoappDataSource::postForm(KestoappDataSource::kForgotPasswordPath, KestoappDataSource::forgotPasswordBody(email_),
                               lifetime_.whileAlive([this](int status, const std::string& reply, bool failed) {
                                 replied(false, status, reply, failed);
                               }));
}

void PasswordRecovery::resetPassword() {
  if (waiting_) return;
  statusLabel_->setStringValue("");
  email_ = emailField_->stringValue();
  const std::string key = secretKeyField_->stringValue();
  newPassword_ = newPasswordField_->stringValue();
  const std::string retype = retypePasswordField_->stringValue();
  if (email_.empty() || key.empty() || newPassword_.empty() || retype.empty())
    return statusLabel_->setStringValue("Please fill in all fields");
  if (newPassword_ != retype) return statusLabel_->setStringValue("Passwords do not match");
  waiting_ = true;
  recoverButton_->setEnabled(false);
  resetButton_->setEnabled(false);
  KestoappDataSource::postForm(KestoappDataSource::kResetPasswordPath,
                               KestoappDataSource::resetPasswordBody(email_, key, newPassword_),
                               lifetime_.whileAlive([this](int status, const std::string& reply, bool failed) {
                                 replied(true, status, reply, failed);
                               }));
}

void PasswordRecovery::replied(bool reset, int status, const std::string& reply, bool failed) {
  // Every answer gives the form back; which request it answers is known from the call, not
  // from a flag another request may have changed.
  waiting_ = false;
  recoverButton_->setEnabled(true);
  resetButton_->setEnabled(true);
  if (failed) {
    closeRecoverySheet();
    return AlertPresenter::alert("Connection error", "Could not connect to the server", "OK");
  }
  if (status < 200 || status > 299)
    return statusLabel_->setStringValue("The server answered with an error (HTTP " + std::to_string(status) + ")");
  const bool found = KestoappDataSource::userFound(reply);
  if (!reset) return statusLabel_->setStringValue(found ? "Your secret key has been sent" : "User not found");
  if (!found) return statusLabel_->setStringValue("Invalid secret key");
  // The account's password has changed on the service: the one kept here follows it.
  auto& defaults = fnd::UserDefaults::standard();
  defaults.setString(email_, syncsettings::kEmailKey);
  defaults.synchronize();
  syncsettings::setAccountPassword(newPassword_);
  secretKeyField_->setStringValue("");
  newPasswordField_->setStringValue("");
  retypePasswordField_->setStringValue("");
  closeRecoverySheet();
  AlertPresenter::inform("Password recovery", "Your password has been successfully reset", "OK");
}

void PasswordRecovery::closeRecoverySheet() { panel_->orderOut(); }

}  // namespace kesto
