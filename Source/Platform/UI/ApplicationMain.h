#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kesto::ui {

// The program entry for a desktop application: makes the toolkit's application object, runs
// `setUp` (which builds the interface and sets the application delegate), then
// Application::run. Answers the exit code. When `setUp` answers a code the program ends with it
// without running the event loop.
// `tearDown` runs after the loop has ended, while the toolkit still exists, so windows and views
// can go first.
int applicationMain(int argc, char** argv, const std::function<std::optional<int>()>& setUp,
                    const std::function<void()>& tearDown = {});

// The program's arguments without its name and without those the toolkit took for itself (the
// session manager's `-session <id>` that a restored session starts the program with, `-display`
// ...). Set once applicationMain has made the toolkit's application object.
const std::vector<std::string>& applicationArguments();

// The display going away (the X server ended or lost) ends the program: the toolkit would call
// exit(), running static destructors while other threads still work. Instead `lastStep` runs
// once, on the thread that found the display gone (it must not touch the interface), and the
// process ends at once with status 1. Without a handler the process just ends so.
void setDisplayLostHandler(std::function<void()> lastStep);

// Runs the main event loop until `done` answers true or `seconds` have passed; answers `done()`.
// For tools and benchmarks that drive the interface without Application::run.
bool runEventLoopUntil(const std::function<bool()>& done, double seconds);

class Window;

// Brings a window back for a reopen (a later launch of the program): shown, restored when it was
// minimised, raised and made key; the dialog that blocks it comes too, in front.
void reopenWindow(Window& window);
// Whether a dialog that blocks every window of the program (an alert or a file dialog run
// modally) is shown; a sheet blocks its own window alone.
bool isApplicationModalShown();
// Brings the dialog that blocks other windows (an alert or a file dialog run modally), when one is
// open, to the user: restored when minimised, raised and activated through the window manager.
void bringModalWindowToUser();

// Shows a window and draws its first frame before answering: waits (pumping events, at most
// `timeoutSeconds`) until the window system has put it on screen, then paints it at once. A start
// calls it before work that keeps the main thread busy, so the window never stands there empty.
// Answers whether the frame was drawn.
bool showWindowAndDrawFirstFrame(Window& window, double timeoutSeconds = 0.5);
// Whether showWindowAndDrawFirstFrame is waiting for the window system: work posted for the
// loop's first turn that would only hold that frame back can wait until it is drawn.
bool isWaitingForFirstFrame();

// Whether a graphical session is available to this process (an X11 or Wayland display, or a
// platform chosen through the environment).
bool hasGraphicalSession();

}  // namespace kesto::ui
