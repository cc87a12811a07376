#include "Platform/UI/SheetPresenter.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Window.h"

namespace kesto::ui {

SheetPresenter* SheetPresenter::current() {
  return dynamic_cast<SheetPresenter*>(Application::shared().delegate());
}

void SheetPresenter::presentSheetWithWindow(Window& sheet, std::function<void(int)> didEnd) {
  if (auto* window = libraryWindow()) window->beginSheet(sheet, std::move(didEnd));
  else sheet.makeKeyAndOrderFront();
}

}  // namespace kesto::ui
