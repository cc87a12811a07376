#include "Sidebar/FolderPanels.h"

#include "Platform/UI/Button.h"
#include "Platform/UI/Label.h"
#include "Platform/UI/Panel.h"
#include "Platform/UI/TextField.h"
#include "Views/KestoPanel.h"

namespace kesto {

namespace {

constexpr double kWidth = 340, kFieldHeight = 24;

// The application's own panel: Escape ends it through the sheet presenter like every sheet.
std::unique_ptr<ui::Panel> makePanel(const std::string& title, double height) {
  auto panel = std::make_unique<KestoPanel>(fnd::Rect(0, 0, kWidth, height));
  panel->setTitle(title);
  panel->setContentView(std::make_shared<ui::View>(fnd::Rect(0, 0, kWidth, height)));
  return panel;
}

std::shared_ptr<ui::Label> addLabel(ui::Panel& panel, const fnd::Rect& frame, const std::string& text) {
  auto label = std::make_shared<ui::Label>(frame, text);
  panel.contentView()->addSubview(label);
  return label;
}

std::shared_ptr<ui::TextField> addField(ui::Panel& panel, double y, ui::TextField::Style style) {
  auto field = std::make_shared<ui::TextField>(fnd::Rect(20, y, kWidth - 40, kFieldHeight), style);
  panel.contentView()->addSubview(field);
  return field;
}

// OK on the right, Cancel left of it.
void addButtons(ui::Panel& panel, std::function<void()> ok) {
  auto okButton = std::make_shared<ui::Button>(fnd::Rect(kWidth - 110, 12, 90, 28));
  okButton->setTitle("OK");
  okButton->setAction(std::move(ok));
  auto cancel = std::make_shared<ui::Button>(fnd::Rect(kWidth - 210, 12, 90, 28));
  cancel->setTitle("Cancel");
  ui::Panel* p = &panel;
  cancel->setAction([p] { p->orderOut(); });
  panel.contentView()->addSubview(cancel);
  panel.contentView()->addSubview(okButton);
}

// Centred on `parent` (where there is one), in front, with `first` taking the keys.
void present(ui::Panel& panel, ui::Window* parent, ui::TextField& first) {
  if (parent) {
    auto outer = parent->frame(), own = panel.frame();
    panel.setFrame(fnd::Rect(outer.midX() - own.size.width / 2, outer.midY() - own.size.height / 2, own.size.width,
                             own.size.height),
                   false);
  }
  panel.makeKeyAndOrderFront();
  panel.makeFirstResponder(&first);
}

}  // namespace

FolderPanels::FolderPanels() {
  passwordPanel_ = makePanel("Kesto Password", 150);
  addLabel(*passwordPanel_, fnd::Rect(20, 112, kWidth - 40, 20), "Enter the password of your folders:");
  passwordField_ = addField(*passwordPanel_, 82, ui::TextField::Style::Secure);
  passwordHint_ = addLabel(*passwordPanel_, fnd::Rect(20, 52, kWidth - 40, 20), "");
  passwordHint_->setTextColor(ui::Color::rgb(0.75, 0.1, 0.1));
  passwordField_->setAction([this] { pressPasswordOK(); });
  addButtons(*passwordPanel_, [this] { pressPasswordOK(); });

  newPasswordPanel_ = makePanel("Kesto Password", 200);
  addLabel(*newPasswordPanel_, fnd::Rect(20, 162, kWidth - 40, 20), "Choose a password for your folders:");
  newPasswordField_ = addField(*newPasswordPanel_, 132, ui::TextField::Style::Secure);
  newPasswordField_->setPlaceholderString("Password");
  confirmPasswordField_ = addField(*newPasswordPanel_, 100, ui::TextField::Style::Secure);
  confirmPasswordField_->setPlaceholderString("Confirm password");
  confirmPasswordField_->setAction([this] { pressNewPasswordOK(); });
  newPasswordHint_ = addLabel(*newPasswordPanel_, fnd::Rect(20, 60, kWidth - 40, 30), "");
  newPasswordHint_->setTextColor(ui::Color::rgb(0.75, 0.1, 0.1));
  addButtons(*newPasswordPanel_, [this] { pressNewPasswordOK(); });

  smartPanel_ = makePanel("New Smart Folder", 150);
  addLabel(*smartPanel_, fnd::Rect(20, 112, kWidth - 40, 20), "Bookmarks whose title, address or notes contain:");
  smartField_ = addField(*smartPanel_, 82, ui::TextField::Style::Plain);
  smartField_->setAction([this] { pressSmartFolderOK(); });
  addButtons(*smartPanel_, [this] { pressSmartFolderOK(); });
}

FolderPanels::~FolderPanels() = default;

void FolderPanels::pressPasswordOK() {
  if (!confirmPassword_) return;
  if (confirmPassword_()) {
    passwordHint_->setStringValue("");
    passwordPanel_->orderOut();
  } else {
    passwordHint_->setStringValue("Wrong password.");
  }
  // The text is never kept, right or wrong.
  passwordField_->setStringValue("");
}

void FolderPanels::pressNewPasswordOK() {
  if (!saveNewPassword_) return;
  if (saveNewPassword_()) {
    newPasswordField_->setStringValue("");
    confirmPasswordField_->setStringValue("");
    newPasswordHint_->setStringValue("");
    newPasswordPanel_->orderOut();
  } else {
    newPasswordHint_->setStringValue("Type the same password twice.");
  }
}

void FolderPanels::pressSmartFolderOK() {
  if (createSmartFolder_ && createSmartFolder_()) {
    smartField_->setStringValue("");
    smartPanel_->orderOut();
  }
}

void FolderPanels::showPasswordPanel(ui::Window* parent) {
  passwordField_->setStringValue("");
  passwordHint_->setStringValue("");
  present(*passwordPanel_, parent, *passwordField_);
}

void FolderPanels::showNewPasswordPanel(ui::Window* parent) {
  newPasswordField_->setStringValue("");
  confirmPasswordField_->setStringValue("");
  newPasswordHint_->setStringValue("");
  present(*newPasswordPanel_, parent, *newPasswordField_);
}

void FolderPanels::showSmartFolderPanel(ui::Window* parent) {
  smartField_->setStringValue("");
  present(*smartPanel_, parent, *smartField_);
}

void FolderPanels::closeAll() {
  passwordPanel_->orderOut();
  newPasswordPanel_->orderOut();
  smartPanel_->orderOut();
}

}  // namespace kesto
