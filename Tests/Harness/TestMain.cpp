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
#include <string>
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
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kesto-test-XXXXXX";
  char* made = mkdtemp(tmpl.data());
  if (!made) std::abort();
  processRoot() = made;
}

// A new empty home with every XDG folder below it, made the environment's.
void makeHermeticHome() {
  static int count = 0;
  std::string home = processRoot() + "/home-" + std::to_string(count++);
  kesto::test::tempHomeStorage() = home;
  const std::pair<const char*, const char*> folders[] = {
      {"XDG_DATA_HOME", "/.local/share"},  {"XDG_CONFIG_HOME", "/.config"},
      {"XDG_CACHE_HOME", "/.cache"},       {"XDG_STATE_HOME", "/.local/state"},
      {"XDG_RUNTIME_DIR", "/.runtime"},    {"XDG_DOCUMENTS_DIR", "/Documents"},
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

int main(int argc, char** argv) {
  makeProcessRoot();
  makeHermeticHome();
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
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
  int rc = RUN_ALL_TESTS();
  if (!std::getenv("KESTO_KEEP_TEST_HOME")) {
    std::error_code ec;
    std::filesystem::remove_all(processRoot(), ec);
  }
  return rc;
}
