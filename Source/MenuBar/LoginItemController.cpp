#include "MenuBar/LoginItemController.h"

#include "Platform/System/LoginItems.h"

namespace kesto {

LoginItemController::LoginItemController(std::string executable)
    : executable_(executable.empty() ? sys::LoginItems::currentExecutable() : std::move(executable)) {}

bool LoginItemController::launchAtLogin() const { return sys::LoginItems::willLaunchAtLogin(executable_); }

bool LoginItemController::setLaunchAtLogin(bool enabled) { return sys::LoginItems::setLaunchAtLogin(executable_, enabled); }

}  // namespace kesto
