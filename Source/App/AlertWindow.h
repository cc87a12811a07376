#pragma once

#include "Synchronize/AlertPresenter.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto {

namespace ui {
class Window;
}

// Alerts and questions as small windows of their own. They do not block: a question's answer
// arrives through its completion when a button is clicked. Closing the window from its title bar
// answers with the last button (the only one of an alert), so no question is left unanswered.
class WindowAlertPresenter : public AlertPresenter {
 public:
  WindowAlertPresenter();
  ~WindowAlertPresenter() override;
  void showAlert(const std::string& title, const std::string& message, const std::string& button) override;
  void askQuestion(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                   std::function<void(int)> completion) override;
  // The windows shown now (tests).
  std::vector<ui::Window*> openWindows() const;
  // Clicks button `index` of the newest window (tests).
  bool clickButton(int index);

 private:
  struct Shown;
  std::vector<std::shared_ptr<Shown>> shown_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace kesto
