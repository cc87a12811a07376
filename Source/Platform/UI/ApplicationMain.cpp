#include "Platform/UI/ApplicationMain.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/TimingMarks.h"
#include "Platform/UI/Window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWidget>
#include <QWindow>

#include <cstdlib>

namespace kesto::ui {

bool hasGraphicalSession() {
  auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
  };
  return set("DISPLAY") || set("WAYLAND_DISPLAY") || set("QT_QPA_PLATFORM");
}

bool runEventLoopUntil(const std::function<bool()>& done, double seconds) {
  QElapsedTimer timer;
  timer.start();
  while (!done()) {
    if (timer.elapsed() > seconds * 1000) return done();
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

void reopenWindow(Window& window) {
  // Showing a minimised window again leaves it minimised; its state has to change.
  if (auto* widget = static_cast<QWidget*>(window.nativeHandle()); widget && widget->isMinimized())
    widget->setWindowState(widget->windowState() & ~Qt::WindowMinimized);
  window.makeKeyAndOrderFront();
}

namespace {
bool waitingForFirstFrame = false;
}  // namespace

bool isWaitingForFirstFrame() { return waitingForFirstFrame; }

bool showWindowAndDrawFirstFrame(Window& window, double timeoutSeconds) {
  window.makeKeyAndOrderFront();
  auto* widget = static_cast<QWidget*>(window.nativeHandle());
  if (!widget) return false;
  auto exposed = [widget] { return widget->windowHandle() && widget->windowHandle()->isExposed(); };
  waitingForFirstFrame = true;
  const bool shown = runEventLoopUntil(exposed, timeoutSeconds);
  waitingForFirstFrame = false;
  if (!shown) return false;
  window.displayIfNeeded();
  widget->repaint();
  return true;
}

int applicationMain(int argc, char** argv, const std::function<std::optional<int>()>& setUp,
                    const std::function<void()>& tearDown) {
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  Image::installPNGTranscoder();
  TimingMarks::startFromEnvironment();
  std::optional<int> code;
  if (setUp) code = setUp();
  if (!code) code = Application::shared().run();
  // Link files given to other programs' drops are theirs by now; ours go with the program.
  removeDragLinkFiles();
  TimingMarks::stop();
  if (tearDown) tearDown();
  return *code;
}

}  // namespace kesto::ui
