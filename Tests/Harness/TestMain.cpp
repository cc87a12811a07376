// The main of every test executable. Each test runs in a temporary HOME of its own, with the
// shared settings and keychain read from it afresh and every registered state reset run after
// it, so nothing a test writes reaches the developer's own files or the next test, whether ctest
// runs one test per process or the program runs whole and shuffled.
#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"

#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/Keychain.h"
#include "Platform/Foundation/TestAccess_p.h"
#include "Platform/Foundation/TimeZone.h"
#include "Platform/Foundation/UserDefaults.h"

#include <gtest/gtest.h>

#ifdef KESTO_TEST_GUI
#include "Platform/UI/Image.h"

#include <QApplication>
#else
#include <QCoreApplication>
#endif

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

namespace kesto::test {
std::string& tempHomeStorage();
std::vector<std::function<void()>>& stateResets();
}

namespace {

// The process's own temporary folder; every test's home is made below it.
std::string& processRoot() {
  static std::string root;
  return root;
}

void makeProcessRoot() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string folder = tmp && *tmp ? tmp : "/tmp";
  // A test run's temporary folder (in the build folder) may not be there yet; made, it is open
  // to all as /tmp is (see KESTO_TEST_TMPDIR).
  std::error_code ec;
  if (std::filesystem::create_directories(folder, ec)) chmod(folder.c_str(), 01777);
  std::string tmpl = folder + "/kesto-test-XXXXXX";
  char* made = mkdtemp(tmpl.data());
  if (!made) std::abort();
  processRoot() = made;
}

// The sockets the tests make (a bus's, the single instance's) lie in the runtime folders, which
// are kept apart from the homes in a folder of the process's own in the system's temporary
// folder: a socket's path holds at most 107 bytes, and the homes lie as deep as the checkout. A
// run through the scripts names a folder of its own for these (KESTO_TEST_SOCKET_DIR), which it
// removes at its end, also after a process that was killed; where this process may not write
// there (run as another user), or without one, /tmp. The programs the tests start (this one
// again) make theirs inside this process's, and so go with it.
std::string& socketRoot() {
  static std::string root;
  return root;
}

void makeSocketRoot() {
  const char* run = std::getenv("KESTO_TEST_SOCKET_DIR");
  for (const std::string base : {std::string(run && *run ? run : ""), std::string("/tmp")}) {
    if (base.empty()) continue;
    std::string tmpl = base + "/kesto-XXXXXX";
    if (mkdtemp(tmpl.data())) {
      socketRoot() = tmpl;
      setenv("KESTO_TEST_SOCKET_DIR", tmpl.c_str(), 1);
      return;
    }
  }
  std::abort();
}

// What the process made goes when it ends, file systems a test mounted there included (one
// that stopped before unmounting would keep the folder).
void removeProcessRoot() {
  std::vector<std::string> mounted;
  std::ifstream mounts("/proc/self/mounts");
  for (std::string device, escaped, rest; mounts >> device >> escaped && std::getline(mounts, rest);) {
    // The table writes a space, a tab, a line break and a backslash as \ooo.
    std::string point;
    for (std::size_t i = 0; i < escaped.size(); ++i) {
      const auto octal = [&](std::size_t at) { return at < escaped.size() && escaped[at] >= '0' && escaped[at] <= '7'; };
      if (escaped[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
        point += static_cast<char>((escaped[i + 1] - '0') * 64 + (escaped[i + 2] - '0') * 8 + (escaped[i + 3] - '0'));
        i += 3;
      } else {
        point += escaped[i];
      }
    }
    if (point.starts_with(processRoot() + "/")) mounted.push_back(point);
  }
  // The innermost (mounted last) first.
  for (auto it = mounted.rbegin(); it != mounted.rend(); ++it) umount2(it->c_str(), MNT_DETACH);
  std::error_code ec;
  std::filesystem::remove_all(processRoot(), ec);
  std::filesystem::remove_all(socketRoot(), ec);
}

// The desktop every test sees is the process's own: the system's data and configuration folders
// stand in as copies of links to everything in them but desktop entries, default programs and
// autostart entries; no desktop is announced (xdg-utils would hand over to its tools) and no
// display or session manager of the user's is reachable; and the openers come first on PATH as
// stand-ins that write what they were asked to ownDesktopLog(). A test that opens a page starts
// no program of the user's, and one that lists browsers finds only the entries it made. Set
// again before each test, so one that changed them leaves no trace.
struct OwnDesktop {
  std::string dataDirs, configDirs, path, browser, tmp;
};

OwnDesktop& ownDesktop() {
  static OwnDesktop desktop;
  return desktop;
}

std::vector<std::string> splitDirs(const char* variable, const char* fallback) {
  const char* value = std::getenv(variable);
  std::stringstream list(value && *value ? value : fallback);
  std::vector<std::string> dirs;
  for (std::string dir; std::getline(list, dir, ':');)
    if (!dir.empty()) dirs.push_back(dir);
  return dirs;
}

// Links to what each of `dirs` holds, but the names `left` says to leave out, in folders of
// `into`; answers them as a search path.
std::string mirrored(const std::vector<std::string>& dirs, const std::string& into,
                     bool (*left)(const std::string& name)) {
  std::string list;
  for (std::size_t i = 0; i < dirs.size(); ++i) {
    const std::string copy = into + "-" + std::to_string(i);
    std::filesystem::create_directories(copy);
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dirs[i], ec)) {
      const std::string name = entry.path().filename().string();
      if (!left(name)) std::filesystem::create_symlink(entry.path(), copy + "/" + name, ec);
    }
    list += (list.empty() ? "" : ":") + copy;
  }
  return list;
}

void makeOwnDesktop() {
  auto& desktop = ownDesktop();
  const std::string root = processRoot() + "/desktop";
  desktop.dataDirs = mirrored(splitDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share"), root + "/data",
                              [](const std::string& name) { return name == "applications"; });
  desktop.configDirs = mirrored(splitDirs("XDG_CONFIG_DIRS", "/etc/xdg"), root + "/config", [](const std::string& name) {
    return name == "autostart" || name == "mimeapps.list" || name.ends_with("-mimeapps.list");
  });
  const std::string bin = root + "/bin";
  std::filesystem::create_directories(bin);
  for (const char* program : {"xdg-open", "xdg-email", "xdg-mime", "gio", "x-www-browser", "sensible-browser"}) {
    const std::string script = bin + "/" + program;
    std::ofstream(script) << "#!/bin/sh\nprintf '%s\\n' \"${0##*/} $*\" >>"
                          << kesto::test::shellQuoted(kesto::test::ownDesktopLog()) << "\n";
    chmod(script.c_str(), 0755);
  }
  const char* path = std::getenv("PATH");
  desktop.path = bin + ":" + (path && *path ? path : "/usr/bin:/bin");
  // By name, found first on PATH: the desktop's xdg-open splits $BROWSER at spaces, which the
  // checkout's path may hold.
  desktop.browser = "x-www-browser";
  // The programs a test starts (this one again, the real program) and the temporary folders any
  // code makes are the process's too, so they go with it, also after a child was killed.
  desktop.tmp = processRoot() + "/tmp";
  std::filesystem::create_directories(desktop.tmp);
}

void enterOwnDesktop() {
  const auto& desktop = ownDesktop();
  setenv("XDG_DATA_DIRS", desktop.dataDirs.c_str(), 1);
  setenv("XDG_CONFIG_DIRS", desktop.configDirs.c_str(), 1);
  setenv("PATH", desktop.path.c_str(), 1);
  setenv("BROWSER", desktop.browser.c_str(), 1);
  setenv("TMPDIR", desktop.tmp.c_str(), 1);
  for (const char* name : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "GNOME_DESKTOP_SESSION_ID",
                           "KDE_FULL_SESSION", "KDE_SESSION_VERSION", "SESSION_MANAGER", "DBUS_SESSION_BUS_ADDRESS"})
    unsetenv(name);
  // The private X server of an end-to-end session (which sets E2E_HOME) is the tests' own; any
  // other display is the user's.
  if (!std::getenv("E2E_HOME")) {
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
  }
}

// A new empty home with every XDG folder below it, made the environment's.
void makeHermeticHome() {
  static int count = 0;
  std::string home = processRoot() + "/home-" + std::to_string(count++);
  kesto::test::tempHomeStorage() = home;
  const std::pair<const char*, const char*> folders[] = {
      {"XDG_DATA_HOME", "/.local/share"},  {"XDG_CONFIG_HOME", "/.config"},
      {"XDG_CACHE_HOME", "/.cache"},       {"XDG_STATE_HOME", "/.local/state"},
      {"XDG_DOCUMENTS_DIR", "/Documents"},
  };
  std::filesystem::create_directories(home);
  chmod(home.c_str(), 0700);
  setenv("HOME", home.c_str(), 1);
  for (const auto& [name, suffix] : folders) {
    std::string path = home + suffix;
    std::filesystem::create_directories(path);
    chmod(path.c_str(), 0700);
    setenv(name, path.c_str(), 1);
  }
  // Numbered as the homes are; see socketRoot.
  const std::string runtime = socketRoot() + "/" + std::to_string(count - 1);
  mkdir(runtime.c_str(), 0700);
  setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
}

void registerHarnessDefaults() {
  // Nothing a test does reaches a host outside this machine: the thumbnail service, which list
  // cells ask on their own, and the page that tells offline from broken are a closed loopback
  // port unless a test names another.
  kesto::fnd::UserDefaults::standard().registerDefaults(
      {{"KestoThumbnailServiceHost", kesto::fnd::Value(std::string("http://127.0.0.1:9"))},
       {"KestoReachabilityCheckURL", kesto::fnd::Value(std::string("http://127.0.0.1:9/"))}});
}

// Gives each test a new home and the state a new process starts with, and puts the shared state
// back after it.
class FreshStatePerTest : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    // Nor what another thread of the last test queued after it ended.
    kesto::test::dropQueuedMainLoopWork();
    makeHermeticHome();
    enterOwnDesktop();
    kesto::fnd::TestAccess::reopen(kesto::fnd::UserDefaults::standard(), kesto::fnd::UserDefaults::standardFilePath());
    kesto::fnd::TestAccess::reopen(kesto::fnd::Keychain::defaultKeychain());
    registerHarnessDefaults();
    // Work a previous test left behind (a queued reply, another thread) may have opened shared
    // state again since it was put back.
    runStateResets();
    // A broken contract fails the test that broke it instead of being logged and passed over.
    kesto::fnd::setAssertionPolicy(kesto::fnd::AssertionPolicy::Throw);
    kesto::fnd::clearRecordedFailures();
    kesto::test::markTestRegistrations();
  }
  void OnTestEnd(const ::testing::TestInfo&) override {
    // What the test left queued on the main loop refers to its stack and fixture, gone by now.
    kesto::test::dropQueuedMainLoopWork();
    // Nor may an observer it left registered be told of anything after it.
    kesto::test::takeBackTestRegistrations();
    runStateResets();
  }
  static void runStateResets() {
    const auto& resets = kesto::test::stateResets();
    for (auto it = resets.rbegin(); it != resets.rend(); ++it) (*it)();
    kesto::fnd::setClock({});
    kesto::fnd::TimeZone::setLocal("");
  }
};

}  // namespace

std::string kesto::test::ownDesktopLog() { return processRoot() + "/desktop/opened.log"; }

int main(int argc, char** argv) {
  makeProcessRoot();
  makeSocketRoot();
  // Also when a test ends the program itself (a child run to test how the program exits).
  std::atexit([] {
    if (std::getenv("KESTO_KEEP_TEST_HOME")) return;
    removeProcessRoot();
  });
  makeHermeticHome();
  makeOwnDesktop();
  enterOwnDesktop();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  ::testing::InitGoogleTest(&argc, argv);
#ifdef KESTO_TEST_GUI
  QApplication app(argc, argv);
  // As the application's start does: the library stores the images it is given as PNG.
  kesto::ui::Image::installPNGTranscoder();
#else
  QCoreApplication app(argc, argv);
#endif
  kesto::fnd::setAssertionPolicy(kesto::fnd::AssertionPolicy::Throw);
  registerHarnessDefaults();
  // Made now, in the process's first home, so that making them does not touch a test's home.
  kesto::fnd::Keychain::defaultKeychain();
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshStatePerTest);
  return RUN_ALL_TESTS();
}
