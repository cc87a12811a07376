#include "Platform/UI/ApplicationMain.h"

#include "Platform/UI/Application.h"
#include "Platform/UI/Attention_p.h"
#include "Platform/UI/Dragging.h"
#include "Platform/UI/Image.h"
#include "Platform/UI/TimingMarks.h"
#include "Platform/UI/Window.h"
#include "Platform/UI/X11Focus_p.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QWidget>
#include <QWindow>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <mutex>
#include <unistd.h>

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

bool isApplicationModalShown() {
  for (QWindow* w : QGuiApplication::topLevelWindows())
    if (w->isVisible() && w->modality() == Qt::ApplicationModal) return true;
  return false;
}

void bringModalWindowToUser() {
  QWidget* modal = attention::modalDialog();
  if (!modal) return;
  if (Window* own = Window::fromNativeHandle(modal)) return own->makeKeyAndOrderFront();
  if (modal->isMinimized()) modal->setWindowState(modal->windowState() & ~Qt::WindowMinimized);
  modal->raise();
  modal->activateWindow();
  x11::requestActivation(xcb_window_t(modal->winId()));
}

void reopenWindow(Window& window) {
  window.makeKeyAndOrderFront();
  // A dialog that blocks the window comes with it, in front: the window alone takes no input.
  if (attention::modalDialog() != window.nativeHandle()) bringModalWindowToUser();
}

namespace {
bool waitingForFirstFrame = false;
std::vector<std::string> arguments;

std::mutex displayLostMutex;
std::function<void()> displayLostHandler;
xcb_connection_t* watchedConnection = nullptr;
QtMessageHandler previousMessageHandler = nullptr;

[[noreturn]] void endForLostDisplay() {
  static std::atomic<bool> ending{false};
  // Another thread that finds it too waits for the first to end the process.
  if (ending.exchange(true))
    for (;;) ::pause();
  std::function<void()> lastStep;
  {
    std::lock_guard lock(displayLostMutex);
    lastStep = displayLostHandler;
  }
  if (lastStep) lastStep();
  std::_Exit(1);
}

// The toolkit warns that the X connection broke just before it calls exit(), on the thread that
// found it (the main thread's event handling, or a call into Xlib): the warning is the last
// moment to end the process another way. What breaks the connection for good is looked at
// through the connection itself, never through the warning's words.
void watchMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (previousMessageHandler) previousMessageHandler(type, context, message);
  else std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
  if (watchedConnection && xcb_connection_has_error(watchedConnection)) endForLostDisplay();
}

// Qt reads and shows text as UTF-8 in every locale, but Xlib converts window names (the legacy
// WM_NAME that older window managers, taskbars and tools read) through the C library's character
// set: in a locale without UTF-8 (POSIX, C) a name beyond ASCII came out as mojibake. Kesto's text
// is UTF-8 whatever the locale, so the character classes follow UTF-8 there; the language, numbers
// and dates stay the user's.
void takeUtf8CharacterClasses() {
  const char* codeset = nl_langinfo(CODESET);
  if (codeset && std::strcmp(codeset, "UTF-8") == 0) return;
  if (!std::setlocale(LC_CTYPE, "C.UTF-8")) std::setlocale(LC_CTYPE, "C.utf8");
}
}  // namespace

bool isWaitingForFirstFrame() { return waitingForFirstFrame; }

const std::vector<std::string>& applicationArguments() { return arguments; }

void setDisplayLostHandler(std::function<void()> lastStep) {
  std::lock_guard lock(displayLostMutex);
  displayLostHandler = std::move(lastStep);
}

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
  // The toolkit has taken its own arguments out of argv.
  arguments.assign(argv + std::min(argc, 1), argv + argc);
  if ((watchedConnection = x11::connection())) previousMessageHandler = qInstallMessageHandler(watchMessages);
  takeUtf8CharacterClasses();
  app.setQuitOnLastWindowClosed(false);
  Image::installPNGTranscoder();
  TimingMarks::startFromEnvironment();
  std::optional<int> code;
  Application::shared().deferTerminateUntilRun();
  if (setUp) code = setUp();
  if (!code) code = Application::shared().run();
  // Link files given to other programs' drops are theirs by now; ours go with the program.
  removeDragLinkFiles();
  TimingMarks::stop();
  if (tearDown) tearDown();
  return *code;
}

}  // namespace kesto::ui
