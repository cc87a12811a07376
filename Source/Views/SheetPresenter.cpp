#include "Views/SheetPresenter.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Window.h"

namespace kesto {

SheetPresenter* SheetPresenter::current() {
  return dynamic_cast<SheetPresenter*>(ui::Application::shared().delegate());
}

void SheetPresenter::presentSheetWithWindow(ui::Window& sheet, std::function<void(int)> didEnd) {
  if (auto* window = libraryWindow()) window->beginSheet(sheet, std::move(didEnd));
  else sheet.makeKeyAndOrderFront();
}

}  // namespace kesto
