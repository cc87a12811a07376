#pragma once

#include "Platform/UI/SearchField.h"
#include "Platform/UI/TextEditingDelegate.h"

namespace kesto {

inline constexpr const char* MouseDownInWrenSearchField = "MouseDownInWrenSearchField";

// The library's search field: a click in it, after the field's own handling, announces itself
// to the bookmark list.
class WrenSearchField : public ui::SearchField {
 public:
  using ui::SearchField::SearchField;
  void mouseDown(const ui::Event& event) override;
};

// The scoped search field's delegate: the up arrow and Tab leave the field for the bookmark
// list; every other key keeps its usual meaning.
class SearchInScopeDelegate : public ui::TextEditingDelegate {
 public:
  bool controlTextViewDoCommandBySelector(ui::Control& control, std::string_view selector) override;
};

}  // namespace kesto
