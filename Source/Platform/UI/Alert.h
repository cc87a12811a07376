#pragma once

#include "Platform/UI/Image.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::ui {

class Window;

enum class AlertStyle { Warning = 0, Informational = 1, Critical = 2 };

constexpr int AlertFirstButtonReturn = 1000;
constexpr int AlertSecondButtonReturn = 1001;
constexpr int AlertThirdButtonReturn = 1002;

// A message with buttons, on the desktop's message dialog. The first button is the default
// (Return); a button titled "Cancel", else the last one, answers Escape and the close button, so
// no way out leaves the alert unanswered. Copies share one alert: a shown alert lives on until it
// is answered even when every copy is gone. An installed DialogResponder answers instead of a
// person, without showing anything.
class Alert {
 public:
  Alert();
  ~Alert();
  Alert(const Alert&);
  Alert& operator=(const Alert&);

  const std::string& messageText() const;
  void setMessageText(const std::string& text);
  const std::string& informativeText() const;
  void setInformativeText(const std::string& text);
  AlertStyle alertStyle() const;
  void setAlertStyle(AlertStyle style);
  // Replaces the style's icon.
  const Image& icon() const;
  void setIcon(const Image& image);
  // The dialog's window title; the message text when unset.
  std::string windowTitle() const;
  void setWindowTitle(const std::string& title);

  // Answers the button's index (its return code is AlertFirstButtonReturn + index). An alert
  // without buttons gets "OK".
  int addButtonWithTitle(const std::string& title);
  const std::vector<std::string>& buttonTitles() const;

  bool showsSuppressionButton() const;
  void setShowsSuppressionButton(bool shows);
  const std::string& suppressionButtonTitle() const;
  void setSuppressionButtonTitle(const std::string& title);
  // Whether the suppression check box is ticked (read it after the alert has been answered).
  bool suppressionState() const;
  void setSuppressionState(bool on);

  // Application-modal: blocks in a nested event loop until answered; answers the return code.
  int runModal();
  // Window-modal over `window` (placed at the top of its content, centred), or application-
  // modal when `window` is null; returns at once and calls `completion` with the return code.
  void beginSheetModalForWindow(Window* window, std::function<void(int)> completion);
  bool isShown() const;
  // Answers a shown alert as a click on that button would (a presenter closing what is open).
  bool performButton(int index);
  // Takes a shown alert away unanswered (its completion never runs): for quitting.
  void close();
  // The toolkit's dialog while shown (the UI layer and its tests).
  void* nativeHandle() const;

  // The return code of the button answering Escape and the close button.
  int cancelReturnCode() const;

  struct Impl;

 private:
  std::shared_ptr<Impl> d_;
};

}  // namespace kesto::ui
