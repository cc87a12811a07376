#include "Support/AlertPresenter.h"

#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/Log.h"

#include <algorithm>
#include <atomic>

namespace kesto {
namespace {
constinit std::atomic<std::shared_ptr<AlertPresenter>> gSharedPresenter;
}  // namespace

void AlertPresenter::setShared(std::shared_ptr<AlertPresenter> presenter) {
  gSharedPresenter.store(std::move(presenter));
}

std::shared_ptr<AlertPresenter> AlertPresenter::shared() { return gSharedPresenter.load(); }

namespace {
// An alert through the shared presenter's `show`, or into the log when there is none.
void present(void (AlertPresenter::*show)(const std::string&, const std::string&, const std::string&),
             const std::string& title, const std::string& message, const std::string& button) {
  if (auto p = AlertPresenter::shared()) return ((*p).*show)(title, message, button);
  fnd::logInfo(title + ": " + message);
}
}  // namespace

void AlertPresenter::alert(const std::string& title, const std::string& message, const std::string& button) {
  KESTO_ASSERT_MAIN_THREAD();
  present(&AlertPresenter::showAlert, title, message, button);
}

void AlertPresenter::inform(const std::string& title, const std::string& message, const std::string& button) {
  KESTO_ASSERT_MAIN_THREAD();
  present(&AlertPresenter::showInformation, title, message, button);
}

void AlertPresenter::ask(const std::string& title, const std::string& message, const std::vector<std::string>& buttons,
                         std::function<void(int)> completion) {
  KESTO_ASSERT_MAIN_THREAD();
  if (auto p = shared()) {
    p->askQuestion(title, message, buttons, std::move(completion));
    return;
  }
  fnd::logInfo(title + ": " + message + " (no one to answer)");
  if (!completion) return;
  auto cancel = std::find(buttons.begin(), buttons.end(), "Cancel");
  completion(cancel != buttons.end() ? static_cast<int>(cancel - buttons.begin())
                                     : buttons.empty() ? 0 : static_cast<int>(buttons.size()) - 1);
}

}  // namespace kesto
