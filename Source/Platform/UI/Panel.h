#pragma once

#include "Platform/UI/Window.h"

namespace kesto::ui {

// A utility window: it can float above the others, show without taking the focus
// (WindowStyle::NonactivatingPanel) and be cancelled from the keyboard: Escape and Ctrl+. send
// cancelOperation: along the responder chain, and when nothing before the panel takes it the
// panel cancels itself (cancelOperation()).
class Panel : public Window {
 public:
  explicit Panel(const fnd::Rect& contentRect = fnd::Rect(0, 0, 360, 240),
                 unsigned styleMask = WindowStyle::Titled | WindowStyle::Closable | WindowStyle::UtilityWindow);

  bool isFloatingPanel() const { return floating_; }
  void setFloatingPanel(bool on);
  bool becomesKeyOnlyIfNeeded() const { return keyOnlyIfNeeded_; }
  void setBecomesKeyOnlyIfNeeded(bool on) { keyOnlyIfNeeded_ = on; }
  // Whether the panel leaves the screen while another program is active and comes back, as it
  // was, when the application is active again (the application does both). Off by default.
  bool hidesOnDeactivate() const { return hidesOnDeactivate_; }
  void setHidesOnDeactivate(bool on) { hidesOnDeactivate_ = on; }

  // A sheet ends with ModalResponse::Cancel; any other panel closes as its close button would.
  virtual void cancelOperation();
  // Whether a key event is a cancel key (Escape, or Ctrl+.).
  static bool isCancelKey(const Event& event);

  void keyDown(const Event& event) override;

 private:
  bool floating_ = false;
  bool keyOnlyIfNeeded_ = false;
  bool hidesOnDeactivate_ = false;
};

}  // namespace kesto::ui
