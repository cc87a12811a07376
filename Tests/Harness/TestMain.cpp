// The main of every test executable. ctest runs each test in its own process, so the temporary
// HOME made here is one per test: nothing a test writes can reach the developer's own files.
#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"

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

namespace kesto::test {
std::string& tempHomeStorage();
}

namespace {

void makeHermeticHome() {
  const char* tmp = std::getenv("TMPDIR");
  std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/kesto-test-XXXXXX";
  char* made = mkdtemp(tmpl.data());
  if (!made) std::abort();
  std::string home = made;
  kesto::test::tempHomeStorage() = home;
  const std::pair<const char*, const char*> folders[] = {
      {"XDG_DATA_HOME", "/.local/share"},  {"XDG_CONFIG_HOME", "/.config"},
      {"XDG_CACHE_HOME", "/.cache"},       {"XDG_STATE_HOME", "/.local/state"},
      {"XDG_RUNTIME_DIR", "/.runtime"},    {"XDG_DOCUMENTS_DIR", "/Documents"},
  };
  setenv("HOME", home.c_str(), 1);
  for (const auto& [name, suffix] : folders) {
    std::string path = home + suffix;
    std::filesystem::create_directories(path);
    chmod(path.c_str(), 0700);
    setenv(name, path.c_str(), 1);
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace

int main(int argc, char** argv) {
  makeHermeticHome();
  ::testing::InitGoogleTest(&argc, argv);
#ifdef KESTO_TEST_GUI
  QApplication app(argc, argv);
  // As the application's start does: the library stores the images it is given as PNG.
  kesto::ui::Image::installPNGTranscoder();
#else
  QCoreApplication app(argc, argv);
#endif
  // A broken contract fails the test that broke it instead of being logged and passed over.
  kesto::fnd::setAssertionPolicy(kesto::fnd::AssertionPolicy::Throw);
  // Nothing a test does reaches a host outside this machine: the thumbnail service, which list
  // cells ask on their own, and the page that tells offline from broken are a closed loopback
  // port unless a test names another.
  kesto::fnd::UserDefaults::standard().registerDefaults(
      {{"KestoThumbnailServiceHost", kesto::fnd::Value(std::string("http://127.0.0.1:9"))},
       {"KestoReachabilityCheckURL", kesto::fnd::Value(std::string("http://127.0.0.1:9/"))}});
  int rc = RUN_ALL_TESTS();
  if (!std::getenv("KESTO_KEEP_TEST_HOME")) {
    std::error_code ec;
    std::filesystem::remove_all(kesto::test::tempHome(), ec);
  }
  return rc;
}
