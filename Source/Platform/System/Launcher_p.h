#pragma once

#include <string>
#include <vector>

namespace kesto::sys::detail {

// Starts a program detached through the installed launcher (Workspace::setLauncher).
bool launchDetached(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace kesto::sys::detail
