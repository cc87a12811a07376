#pragma once

#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextEditingDelegate.h"

#include <functional>
#include <utility>

namespace kesto {

// The library's search field: a click in it, after the field's own handling, is reported to
// its owner (the bookmark list shows its search controls).
class WrenSearchField : public ui::SearchField {
 public:
  using ui::SearchField::SearchField;
  void mouseDown(const ui::Event& event) override;
  void setMouseDownHandler(std::function<void()> handler) { mouseDownHandler_ = std::move(handler); }

 private:
  std::function<void()> mouseDownHandler_;
};

// The scoped search field's delegate: the up arrow and Tab leave the field for the bookmark
// list (through the handler its owner gives); every other key keeps its usual meaning.
class SearchInScopeDelegate : public ui::TextEditingDelegate {
 public:
  explicit SearchInScopeDelegate(std::function<void()> leaveField) : leaveField_(std::move(leaveField)) {}
  bool controlTextViewDoCommandBySelector(ui::Control& control, ui::Command selector) override;

 private:
  std::function<void()> leaveField_;
};

}  // namespace kesto
