#pragma once

#include "Platform/UI/UIForward.h"
#include "Platform/UI/Window.h"

#include <memory>
#include <string>
#include <vector>

namespace kesto::test {

// A window showing every control of the UI layer and of the application's styled views, one
// row each, for the widget tests and the real-input session (ControlsDemo).
struct ControlsDemo {
  static constexpr const char* kTitle = "Kesto Controls Demo — “Grüße”";
  std::unique_ptr<ui::Window> window;
  std::shared_ptr<ui::TextField> textField;  // the plain field input tests type into
  std::shared_ptr<ui::SearchField> searchField;
  // Every control made, in the order shown.
  std::vector<std::shared_ptr<ui::View>> controls;
};

ControlsDemo makeControlsDemo();

}  // namespace kesto::test
