#pragma once

#include <functional>

namespace kesto::ui {

// The program entry for a desktop application: makes the toolkit's application object, runs
// `setUp` (which builds the interface and sets the application delegate), then
// Application::run. Answers the exit code. `setUp` answering false ends the program with 1
// without running the loop.
int applicationMain(int argc, char** argv, const std::function<bool()>& setUp);

// Whether a graphical session is available to this process (an X11 or Wayland display, or a
// platform chosen through the environment).
bool hasGraphicalSession();

}  // namespace kesto::ui
