#pragma once

#include <string>

namespace kesto::sys::detail {

// The running program's absolute path.
std::string runningExecutable();

// One Exec argument of a desktop entry, quoted and escaped as the desktop-entry rules want it.
std::string desktopExecArgument(const std::string& arg);

}  // namespace kesto::sys::detail
