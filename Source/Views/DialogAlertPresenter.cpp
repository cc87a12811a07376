#include "Views/DialogAlertPresenter.h"

#include "Platform/UI/Alert.h"

#include <algorithm>

namespace kesto {

DialogAlertPresenter::DialogAlertPresenter() = default;

DialogAlertPresenter::~DialogAlertPresenter() {
  lifetime_.end();
  // Dialogs still open go now, while the toolkit is there; they are not answered.
  for (auto& alert : shown_) alert->close();
}

void DialogAlertPresenter::showAlert(const std::string& title, const std::string& message, const std::string& button) {
  askQuestion(title, message, {button}, {});
}

void DialogAlertPresenter::showInformation(const std::string& title, const std::string& message,
                                           const std::string& button) {
  auto alert = std::make_shared<ui::Alert>();
  alert->setAlertStyle(ui::AlertStyle::Informational);
  alert->setWindowTitle(title);
  alert->setMessageText(message);
  alert->addButtonWithTitle(button);
  show(alert, {});
}

void DialogAlertPresenter::askQuestion(const std::string& title, const std::string& message,
                                       const std::vector<std::string>& buttons, std::function<void(int)> completion) {
  auto alert = std::make_shared<ui::Alert>();
  alert->setMessageText(title);
  alert->setInformativeText(message);
  // A question that is all heading (a long sentence) would also fill the title bar, cut there:
  // the window is then named after the application.
  if (message.empty()) alert->setWindowTitle("Kesto");
  for (const auto& b : buttons) alert->addButtonWithTitle(b);
  show(alert, std::move(completion));
}

void DialogAlertPresenter::show(const std::shared_ptr<ui::Alert>& alert, std::function<void(int)> completion) {
  shown_.push_back(alert);
  auto alive = lifetime_.watch();
  ui::Alert* key = alert.get();
  alert->beginSheetModalForWindow(nullptr, [this, alive, key, completion = std::move(completion)](int code) {
    if (alive)
      shown_.erase(std::remove_if(shown_.begin(), shown_.end(), [key](const auto& s) { return s.get() == key; }),
                   shown_.end());
    if (completion) completion(code - ui::AlertFirstButtonReturn);
  });
}

std::vector<ui::Alert> DialogAlertPresenter::shownAlerts() const {
  std::vector<ui::Alert> out;
  for (const auto& a : shown_)
    if (a->isShown()) out.push_back(*a);
  return out;
}

bool DialogAlertPresenter::clickButton(int index) {
  for (auto it = shown_.rbegin(); it != shown_.rend(); ++it)
    if ((*it)->isShown()) return (*it)->performButton(index);
  return false;
}

}  // namespace kesto
