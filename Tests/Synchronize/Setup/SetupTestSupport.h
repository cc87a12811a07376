#pragma once

#include "Harness/TestDialogResponder.h"
#include "Synchronize/TestAlertResponder.h"

#include "Platform/UI/View.h"
#include "Synchronize/Setup/SetupWindow.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::test {

// A stage that records what the window tells it and answers as the test sets.
struct Probe : SetupWindowStageViewController {
  std::vector<std::string>* events = nullptr;
  std::string name;
  std::optional<bool> continueFlag, backFlag;
  std::optional<std::string> title;
  std::function<void()> onLeaveForward;
  std::optional<bool> canContinue() const override { return continueFlag; }
  std::optional<bool> canGoBack() const override { return backFlag; }
  std::optional<std::string> continueButtonTitle() const override { return title; }
  void willProgressToNextStage() override {
    note("willProgressToNextStage");
    if (onLeaveForward) onLeaveForward();
  }
  void didProgressToStage() override { note("didProgressToStage"); }
  void didRevertToStage() override { note("didRevertToStage"); }
  void setContinue(bool on) {
    continueFlag = on;
    buttonStatesChanged();
  }
  void note(const std::string& what) {
    if (events) events->push_back(name + ":" + what);
  }
  std::shared_ptr<ui::View> loadView() override { return std::make_shared<ui::View>(fnd::Rect(0, 0, 400, 330)); }
};

inline std::shared_ptr<Probe> probe(const std::string& name, std::vector<std::string>* events) {
  auto p = std::make_shared<Probe>();
  p->name = name;
  p->events = events;
  return p;
}

// Records the alerts and answers the dialogs the set-up windows show, for the object's lifetime.
struct SetupResponders {
  SetupResponders() : alerts(TestAlertResponder::install()), dialogs(std::make_shared<TestDialogResponder>()) {
    ui::DialogResponder::install(dialogs);
  }
  ~SetupResponders() {
    ui::DialogResponder::install(nullptr);
    TestAlertResponder::uninstall();
  }
  SetupResponders(const SetupResponders&) = delete;
  SetupResponders& operator=(const SetupResponders&) = delete;

  std::shared_ptr<TestAlertResponder> alerts;
  std::shared_ptr<TestDialogResponder> dialogs;
};

}  // namespace kesto::test
