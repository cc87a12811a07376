// The kesto program: one running instance per session. A later launch hands its arguments
// ("kesto:" URLs, "--add-text TEXT", archive paths) to the running one and exits.
#include "App/AppDelegate.h"
#include "App/AppStartup.h"
#include "App/BookmarkIntake.h"
#include "App/MainInterface.h"
#include "App/ServiceAccounts.h"
#include "Model/WrenDataManager.h"
#include "Platform/Foundation/Log.h"
#include "Platform/System/SingleInstance.h"
#include "Platform/System/TrayIcon.h"
#include "Platform/System/UserNotifications.h"
#include "Platform/UI/Application.h"
#include "Platform/UI/ApplicationMain.h"
#include "Platform/UI/TimingMarks.h"
#include "Support/LogCenter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define KESTO_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KESTO_LEAK_CHECK 1
#endif
#endif
#ifdef KESTO_LEAK_CHECK
#include <sanitizer/lsan_interface.h>
#endif

namespace {

int quitPipe[2] = {-1, -1};

// Where this launch is: deciding whether it runs the library or hands its arguments to the
// Kesto that does (which may take as long as that one lives), running it, or ending without it.
enum class Launch { Deciding, Running, HandedOver };
std::atomic<Launch> launchState{Launch::Deciding};

void requestQuit(int sig) {
  const auto c = static_cast<unsigned char>(sig);
  ssize_t ignored = write(quitPipe[1], &c, 1);
  (void)ignored;
}

// SIGTERM, SIGINT and SIGHUP quit the way the user's quit does, so the library is saved. Caught
// from the very start, so none is lost while the program starts (SIGINT included, which a shell
// ignores for what it starts in the background); acted on once the toolkit can take them.
void catchQuitSignals() {
  if (pipe2(quitPipe, O_CLOEXEC) != 0) return;
  struct sigaction action {};
  action.sa_handler = requestQuit;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (int sig : {SIGTERM, SIGINT, SIGHUP}) sigaction(sig, &action, nullptr);
}

void listenForQuitSignals() {
  if (quitPipe[0] < 0) return;
  std::thread([] {
    // A signal handled on this thread interrupts its read; the thread must go on listening, or
    // every later quit signal is lost.
    for (;;) {
      unsigned char sig;
      const ssize_t n = read(quitPipe[0], &sig, 1);
      if (n != 1) {
        if (n < 0 && errno == EINTR) continue;
        break;
      }
      // A launch deciding for longer than a moment waits for a running Kesto to take its
      // arguments: the signal ends it as it ends a program that does not catch it.
      for (int i = 0; i < 40 && launchState == Launch::Deciding; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      switch (launchState.load()) {
        case Launch::Deciding:
          std::signal(sig, SIG_DFL);
          std::raise(sig);
          break;
        case Launch::Running:
          // Carried out by the loop, at the latest when it starts.
          kesto::ui::Application::postToMain([] { kesto::ui::Application::shared().terminate(); });
          break;
        case Launch::HandedOver: break;  // it ends on its own
      }
    }
  }).detach();
}

// The end of every run: the logs are written out and the process ends without the toolkit's
// teardown and static destructors, which would wait for, or pull things from under, threads
// still at work (name lookups, an import).
void writeLogsOut() {
  kesto::LogCenter::flush();
  kesto::fnd::flushLog();
  std::fflush(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  kesto::ui::TimingMarks::mark("main");
  // Every file Kesto causes to be written, also by the toolkit and the programs it starts, is
  // the user's alone: the library's contents leak through recent folders, caches and exports.
  ::umask(077);
  catchQuitSignals();
  if (!kesto::ui::hasGraphicalSession()) {
    std::fprintf(stderr,
                 "kesto: a graphical session is needed: set DISPLAY to an X11 display (for example "
                 "start Xvfb :99 and export DISPLAY=:99).\n");
    return 1;
  }
  kesto::sys::preventSessionBusAutoLaunch();
  // The icon clicked while an alert or file dialog blocks the windows brings that dialog, the
  // window that takes the input, as `kesto` run again does.
  kesto::sys::TrayIcon::setModalClickHandler(kesto::ui::bringModalWindowToUser);
  std::string workingDirectory;
  if (char* cwd = getcwd(nullptr, 0)) {
    workingDirectory = cwd;
    std::free(cwd);
  }
  std::vector<std::string> arguments;
  std::unique_ptr<kesto::sys::SingleInstance> instance;
  std::unique_ptr<kesto::MainInterface> interface;
  int status = 0;
  // Builds the interface over the opened library and takes the launches' arguments.
  using Reply = kesto::sys::SingleInstance::Reply;
  std::vector<std::pair<std::vector<std::string>, Reply>> early;
  std::function<void()> launch = [&] {
    interface = kesto::MainInterface::build([](kesto::MainInterface& ui) {
      // The first load keeps the main thread busy for a moment with a large library: the
      // window's first frame goes up before it, so the window never stands there black.
      if (!kesto::AppDelegate::startsInMenuBarMode() && kesto::ui::showWindowAndDrawFirstFrame(ui.window()))
        kesto::ui::TimingMarks::mark("window-shown");
    });
    // The online bookmark services: the folder list's accounts and the library's posts.
    kesto::ServiceAccounts::install(&interface->dataManager(), &interface->window());
    auto* delegate = &interface->appDelegate();
    // Built once a library that could not be opened was mended: the loop runs already and
    // delivered launching-finished to nobody.
    if (kesto::ui::Application::shared().isRunning()) delegate->applicationDidFinishLaunching();
    auto handle = [delegate](const std::vector<std::string>& handed, const Reply& reply) {
      // A launch with nothing to hand over is a reopen.
      if (handed.empty()) {
        delegate->reopenKestoWindow();
        return reply(true);
      }
      // The launch ends in success only once its addresses are saved.
      delegate->handleArguments(handed, reply);
    };
    instance->setArgumentsHandler(handle);
    // Handled once launching has finished, on the loop's first turn: this launch's own arguments,
    // then what others handed over meanwhile.
    kesto::ui::Application::postToMain([delegate, arguments] { delegate->handleArguments(arguments); });
    for (auto& handed : early)
      kesto::ui::Application::postToMain([handle, handed = std::move(handed)] { handle(handed.first, handed.second); });
    early.clear();
  };
  return kesto::ui::applicationMain(argc, argv, [&]() -> std::optional<int> {
    listenForQuitSignals();
    // Without the toolkit's own (a restored session's "-session <id>"), and with paths made
    // whole: they are handed to an instance that may run in another folder.
    arguments = kesto::intake::argumentsWithAbsolutePaths(kesto::ui::applicationArguments(), workingDirectory);
    // The display gone, the program ends as a quit ends, without the teardown.
    kesto::ui::setDisplayLostHandler(writeLogsOut);
    // One writer per library: the lock beside the store is taken before the store is opened, and
    // a launch that finds it held hands its arguments to the holder instead.
    const std::string store = kesto::WrenDataManager::sharedInstance().persistentStorePath();
    instance = std::make_unique<kesto::sys::SingleInstance>(std::string(), store + ".lock");
    const auto outcome = instance->start(arguments);
    using Outcome = kesto::sys::SingleInstance::Outcome;
    launchState = outcome == Outcome::Primary || outcome == Outcome::Failed ? Launch::Running : Launch::HandedOver;
    switch (outcome) {
      case kesto::sys::SingleInstance::Outcome::HandedOver: return status = 0;
      case kesto::sys::SingleInstance::Outcome::NotKept: {
        const std::string text =
            "The running Kesto took the addresses but could not save them to the library at " + store + ".";
        kesto::fnd::logError(text);
        std::fprintf(stderr, "kesto: %s\n", text.c_str());
        return status = 1;
      }
      case kesto::sys::SingleInstance::Outcome::Unreachable: {
        const long owner = kesto::sys::SingleInstance::lockOwner(store + ".lock");
        const std::string text = "Another Kesto" + (owner > 0 ? " (process " + std::to_string(owner) + ")" : "") +
                                 " has the library at " + store +
                                 " open but does not answer; nothing was handed to it, and this one does not open "
                                 "the library.";
        kesto::fnd::logError(text);
        std::fprintf(stderr, "kesto: %s\n", text.c_str());
        status = 1;
        // Started from the menu, the terminal is nowhere to be seen: a window says it too.
        kesto::AppStartup::presentLibraryHeldElsewhere(store, owner, !arguments.empty());
        return std::nullopt;
      }
      case kesto::sys::SingleInstance::Outcome::Failed:
        kesto::fnd::logWarning("Another Kesto could not be reached and this one cannot listen; running alone");
        break;
      case kesto::sys::SingleInstance::Outcome::Primary:
        // A running Kesto that took this launch's addresses and ended before it answered may
        // have saved them: this launch, taking the library over, adds only the missing ones.
        if (instance->mayHaveHandedOver() && !arguments.empty()) {
          kesto::fnd::logInfo("The running Kesto ended before it answered; adding only what the library does not hold");
          arguments.push_back(kesto::intake::kOnlyMissingArgument);
        }
        break;
    }
    // Launches handing over before the window's first frame is drawn (also while a library that
    // cannot be opened is being mended) are kept for later, and answered once handled.
    instance->setArgumentsHandler(
        [&early](const std::vector<std::string>& handed, Reply reply) { early.emplace_back(handed, std::move(reply)); });
    if (kesto::MainInterface::presentStoreFailureIfAny(launch)) return std::nullopt;
    launch();
    return std::nullopt;
  }, [&] {
    kesto::ServiceAccounts::uninstall();
    interface.reset();
    kesto::MainInterface::closeAlerts();  // the store-failure alert, when no interface was built
    // The socket goes, then the library's lock, last: nothing is written to the store any more.
    instance.reset();
    // The library and the settings were saved as the loop ended, and the instance socket is gone.
    // What is left is the toolkit's own teardown, which waits for every name lookup still running
    // on its resolver threads (seconds when the network is slow or gone): end here instead.
    writeLogsOut();
#ifdef KESTO_LEAK_CHECK
    // Ending here skips the sanitizer's leak check at exit: run it now, so a leak in the
    // program itself fails the run (what the toolkit still holds is reachable, not a leak).
    __lsan_do_leak_check();
#endif
    std::_Exit(status);
  });
}
