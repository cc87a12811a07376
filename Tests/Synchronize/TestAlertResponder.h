#pragma once

#include "Support/AlertPresenter.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// Records every alert and question, and answers questions with a preset button index.
class TestAlertResponder : public AlertPresenter {
 public:
  struct Shown {
    std::string title, message;
    std::vector<std::string> buttons;
    bool information = false;  // told as a success
  };

  void showAlert(const std::string& title, const std::string& message, const std::string& button) override {
    shown.push_back({title, message, {button}});
  }
  void showInformation(const std::string& title, const std::string& message, const std::string& button) override {
    shown.push_back({title, message, {button}, true});
  }
  void askQuestion(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                   std::function<void(int)> completion) override {
    shown.push_back({title, message, buttons});
    if (completion) completion(answer);
  }

  // Installs a new responder as the shared presenter; uninstall() in TearDown.
  static std::shared_ptr<TestAlertResponder> install() {
    auto r = std::make_shared<TestAlertResponder>();
    AlertPresenter::setShared(r);
    return r;
  }
  static void uninstall() { AlertPresenter::setShared(nullptr); }

  bool sawTitle(const std::string& title) const {
    for (const auto& s : shown)
      if (s.title == title) return true;
    return false;
  }

  std::vector<Shown> shown;
  int answer = 0;
};

}  // namespace kesto::test
