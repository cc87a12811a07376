#include "Views/SheetPresenter.h"

#include "Platform/UI/Application.h"

namespace kesto {

SheetPresenter* SheetPresenter::current() {
  return dynamic_cast<SheetPresenter*>(ui::Application::shared().delegate());
}

}  // namespace kesto
