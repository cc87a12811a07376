#pragma once

// Answers every alert and file panel of the UI layer in tests: records what each asked and
// gives the scripted answers in order (the first button, and Cancel for panels, when none is
// left). Link KestoUI to use it.

#include "Platform/UI/Alert.h"
#include "Platform/UI/DialogResponder.h"
#include "Platform/UI/FilePanel.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::test {

class TestDialogResponder : public ui::DialogResponder {
 public:
  struct AlertSeen {
    std::string message, informative;
    std::vector<std::string> buttons;
    ui::AlertStyle style = ui::AlertStyle::Warning;
    bool showsSuppression = false;
  };
  struct AlertAnswer {
    int code = ui::AlertFirstButtonReturn;
    bool suppress = false;
  };
  struct PanelSeen {
    bool open = false;
    std::string title, message, name, directory;
    std::vector<std::string> types;
  };

  int respondToAlert(ui::Alert& alert) override {
    alerts.push_back({alert.messageText(), alert.informativeText(), alert.buttonTitles(), alert.alertStyle(),
                      alert.showsSuppressionButton()});
    AlertAnswer answer;
    if (!alertAnswers.empty()) {
      answer = alertAnswers.front();
      alertAnswers.pop_front();
    }
    if (alert.showsSuppressionButton()) alert.setSuppressionState(answer.suppress);
    return answer.code;
  }
  std::optional<std::vector<std::string>> respondToOpenPanel(ui::OpenPanel& panel) override {
    record(panel, true);
    if (openAnswers.empty()) return std::nullopt;
    auto answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
  }
  std::optional<std::string> respondToSavePanel(ui::SavePanel& panel) override {
    record(panel, false);
    if (saveAnswers.empty()) return std::nullopt;
    auto answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
  }

  static std::shared_ptr<TestDialogResponder> install() {
    auto r = std::make_shared<TestDialogResponder>();
    ui::DialogResponder::install(r);
    return r;
  }
  static void uninstall() { ui::DialogResponder::install(nullptr); }

  std::vector<AlertSeen> alerts;
  std::deque<AlertAnswer> alertAnswers;
  std::vector<PanelSeen> panels;
  std::deque<std::optional<std::vector<std::string>>> openAnswers;
  std::deque<std::optional<std::string>> saveAnswers;

 private:
  void record(ui::SavePanel& panel, bool open) {
    panels.push_back({open, panel.title(), panel.message(), panel.nameFieldStringValue(), panel.directory(),
                      panel.allowedFileTypes()});
  }
};

}  // namespace kesto::test
