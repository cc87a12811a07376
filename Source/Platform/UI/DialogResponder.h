#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kesto::ui {

class Alert;
class OpenPanel;
class SavePanel;

// Answers alerts and file panels in place of a person. While one is installed no dialog is
// shown: tests install one so that every dialog of the application can be answered without a
// display, and see what each dialog asked. Answers of dialogs begun without blocking (sheets)
// still arrive through their completion on a later turn of the main loop, as a person's would.
class DialogResponder {
 public:
  virtual ~DialogResponder() = default;
  // The code the alert ends with (AlertFirstButtonReturn + the button's index); it may set the
  // alert's suppression state as the person would tick the check box.
  virtual int respondToAlert(Alert& alert) = 0;
  // The paths chosen, or none for Cancel. The panel still applies its own rules to them.
  virtual std::optional<std::vector<std::string>> respondToOpenPanel(OpenPanel& panel) = 0;
  virtual std::optional<std::string> respondToSavePanel(SavePanel& panel) = 0;

  static void install(std::shared_ptr<DialogResponder> responder);
  static std::shared_ptr<DialogResponder> installed();
};

}  // namespace kesto::ui
