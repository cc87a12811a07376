#pragma once

#include "Platform/Foundation/Lifetime.h"
#include "Platform/UI/Alert.h"
#include "Support/AlertPresenter.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

// Alerts and questions on the desktop's message dialog, application-modal but not blocking: a
// question's answer arrives through its completion when a button is chosen. The title is the
// dialog's heading and window title, the message its text. Escape and the close button answer
// with the last button (the cancelling one), so no question is left unanswered.
class DialogAlertPresenter : public AlertPresenter {
 public:
  DialogAlertPresenter();
  ~DialogAlertPresenter() override;
  void showAlert(const std::string& title, const std::string& message, const std::string& button) override;
  void showInformation(const std::string& title, const std::string& message, const std::string& button) override;
  void askQuestion(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                   std::function<void(int)> completion) override;
  // The alerts shown and not yet answered, oldest first.
  std::vector<ui::Alert> shownAlerts() const;
  // Answers the newest shown alert with button `index` (tests).
  bool clickButton(int index);

 private:
  void show(const std::shared_ptr<ui::Alert>& alert, std::function<void(int)> completion);
  std::vector<std::shared_ptr<ui::Alert>> shown_;
  fnd::Lifetime lifetime_{fnd::Lifetime::Affinity::MainThread};
};

}  // namespace kesto
