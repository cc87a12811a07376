#pragma once

#include "Views/PopoverController.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto {

// Edges of a rectangle, as a popover's preferred side is given.
enum class RectEdge { MinX = 0, MinY = 1, MaxX = 2, MaxY = 3 };

// An alert shown inside a popover beside a view instead of as a dialog; the pressed button's
// return code (1000 for the first button, 1001 for the second, ...) goes to a completion block.
// One such popover is on screen at a time: showing another puts the one shown aside, and it
// comes back (at the top of its view) once the newer one is answered, most recent first.
// Main thread only.
class PopoverAlert : public std::enable_shared_from_this<PopoverAlert> {
 public:
  using CompletionBlock = std::function<void(std::int64_t returnCode)>;
  static constexpr std::int64_t kFirstButtonReturn = 1000;

  void setMessageText(std::string text) { messageText_ = std::move(text); }
  const std::string& messageText() const { return messageText_; }
  void setInformativeText(std::string text) { informativeText_ = std::move(text); }
  const std::string& informativeText() const { return informativeText_; }
  void addButtonWithTitle(const std::string& title) { buttonTitles_.push_back(title); }
  const std::vector<std::string>& buttonTitles() const { return buttonTitles_; }

  void runAsPopoverForView(ui::View* view, CompletionBlock completion);
  void runAsPopoverForView(ui::View* view, RectEdge preferredEdge, CompletionBlock completion);
  // The action of every button: answers with that button's return code.
  void stopSynchronousPopoverAlert(std::size_t buttonIndex);
  static void checkForPreviouslyShownAlerts();

  const CompletionBlock& completionBlock() const { return completionBlock_; }
  void setCompletionBlock(CompletionBlock block) { completionBlock_ = std::move(block); }
  const std::shared_ptr<PopoverController>& parentPopover() const { return parentPopover_; }
  void setParentPopover(std::shared_ptr<PopoverController> popover) { parentPopover_ = std::move(popover); }
  const std::shared_ptr<ui::View>& targetView() const { return targetView_; }
  void setTargetView(std::shared_ptr<ui::View> view) { targetView_ = std::move(view); }

  // The panel's content: message, informative text and the buttons (first on the right).
  const std::shared_ptr<ui::View>& panelContentView() const { return panel_; }
  void layout();

  // What is on screen and what waits (tests and diagnostics).
  static std::shared_ptr<PopoverAlert> currentAlert();
  static std::size_t waitingCount();

 private:
  std::string messageText_;
  std::string informativeText_;
  std::vector<std::string> buttonTitles_;
  CompletionBlock completionBlock_;
  std::shared_ptr<PopoverController> parentPopover_;
  std::shared_ptr<ui::View> targetView_;
  std::shared_ptr<ui::View> panel_;
};

}  // namespace kesto
