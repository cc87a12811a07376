#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// How this library talks to the user: modal alerts and questions. The application registers
// the implementation that shows real dialogs; tests register a responder that records what was
// shown and answers questions itself. Without one, alerts are logged and questions get their
// "Cancel" button, else the last one (the cancelling answer), so nothing destructive happens unasked.
class AlertPresenter {
 public:
  virtual ~AlertPresenter() = default;

  // A modal alert with one button.
  virtual void showAlert(const std::string& title, const std::string& message, const std::string& button) = 0;
  // A report of success: the information icon, the title only as the window's title (the
  // message alone is the text). Presenters without their own look show it as an alert.
  virtual void showInformation(const std::string& title, const std::string& message, const std::string& button) {
    showAlert(title, message, button);
  }
  // A question with `buttons`, the first being the default. `completion` receives the index of
  // the chosen button, on the main thread; it may run before this call returns.
  virtual void askQuestion(const std::string& title, const std::string& message,
                           const std::vector<std::string>& buttons, std::function<void(int)> completion) = 0;

  static void setShared(std::shared_ptr<AlertPresenter> presenter);
  static std::shared_ptr<AlertPresenter> shared();

  // Through the shared presenter (or the fallback above). Main thread only.
  static void alert(const std::string& title, const std::string& message, const std::string& button = "OK");
  static void inform(const std::string& title, const std::string& message, const std::string& button = "OK");
  static void ask(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                  std::function<void(int)> completion);
};

}  // namespace kesto
