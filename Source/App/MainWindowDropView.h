#pragma once

#include "Platform/UI/Dragging.h"
#include "Platform/UI/View.h"

#include <functional>
#include <optional>
#include <string>

namespace kesto {

// The main window's content view, which takes text and links dragged from other programs: a
// drop hands the web addresses it carries to the bookmark intake, as a "kesto:" hand-over would.
// Drags that start in Kesto are refused. Views inside that take drops of their own keep them.
class MainWindowDropView : public ui::View, public ui::DraggingDestination {
 public:
  explicit MainWindowDropView(const fnd::Rect& frame = fnd::Rect());

  // Receives the dropped text, every line of it; the intake keeps the web addresses.
  void setIntake(std::function<void(const std::string&)> intake) { intake_ = std::move(intake); }

  // The text a drag carries: its links one per line, else its plain text. Absent when it
  // carries neither, or more than one hand-over may hold.
  static std::optional<std::string> droppedText(const ui::Pasteboard& pasteboard);

  // Copy while a drag from another program carries at least one web address, so the pointer
  // says whether a drop would add anything; None otherwise.
  unsigned draggingEntered(const ui::DraggingInfo& info) override;
  // Hands the text to the intake and answers whether there was any.
  bool prepareForDragOperation(const ui::DraggingInfo& info) override;
  bool performDragOperation(const ui::DraggingInfo&) override { return true; }

 private:
  std::function<void(const std::string&)> intake_;
};

}  // namespace kesto
