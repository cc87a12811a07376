#pragma once

#include <functional>

namespace kesto::ui {

class Window;

// What the application's delegate offers the panels of the library window: the window they
// centre on, and the one place that ends a sheet shown on it. The application's delegate
// implements it; panels find it through the application.
class SheetPresenter {
 public:
  virtual ~SheetPresenter() = default;
  virtual Window* libraryWindow() = 0;
  virtual void dismissSheetForWindow(Window& sheet) = 0;
  // Shows `sheet` on the library window; `didEnd` hears how it ended.
  virtual void presentSheetWithWindow(Window& sheet, std::function<void(int)> didEnd);
  // The application delegate when it is one, else none.
  static SheetPresenter* current();
};

}  // namespace kesto::ui
