#include "Harness/TestSupport.h"
#include "Platform/Foundation/StandardPaths.h"

#include "FileModes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

using namespace kesto::fnd;
using kesto::test::tempHome;

namespace {
// Sets an environment variable for one test and puts the old value back.
struct EnvScope {
  std::string name;
  std::string old;
  bool had;
  EnvScope(const char* n, const char* value) : name(n) {
    const char* o = std::getenv(n);
    had = o != nullptr;
    if (o) old = o;
    if (value)
      setenv(n, value, 1);
    else
      unsetenv(n);
  }
  ~EnvScope() {
    if (had)
      setenv(name.c_str(), old.c_str(), 1);
    else
      unsetenv(name.c_str());
  }
};
}  // namespace

TEST(StandardPaths, ApplicationFolderIsCreatedPrivateWithIntermediates) {
  std::string base = tempHome() + "/fresh/data/home";  // none of it exists yet
  EnvScope env("XDG_DATA_HOME", base.c_str());
  EXPECT_EQ(StandardPaths::applicationSupportDirectory(), base);
  std::string app = StandardPaths::applicationDirectory();
  EXPECT_EQ(app, base + "/kesto");
  EXPECT_TRUE(std::filesystem::is_directory(app));
  EXPECT_EQ(modeOf(app), 0700u);
  EXPECT_EQ(modeOf(tempHome() + "/fresh"), 0700u);
}

// An install (or an older version, or another program) may have made Kesto's folders first, open
// to everyone: each kesto folder and the logs' folder in it are made the user's alone all the
// same, and the XDG folders that hold them are left as they were.
TEST(StandardPaths, FoldersMadeOpenBeforeKestoAreMadePrivate) {
  const std::string data = tempHome() + "/open/share", config = tempHome() + "/open/config",
                    state = tempHome() + "/open/state", cache = tempHome() + "/open/cache";
  EnvScope dataEnv("XDG_DATA_HOME", data.c_str()), configEnv("XDG_CONFIG_HOME", config.c_str()),
      stateEnv("XDG_STATE_HOME", state.c_str()), cacheEnv("XDG_CACHE_HOME", cache.c_str());
  for (const std::string& folder : {data + "/kesto", config + "/kesto", state + "/kesto/logs", cache + "/kesto"}) {
    std::filesystem::create_directories(folder);
    std::filesystem::permissions(folder, std::filesystem::perms(0755));
  }
  std::filesystem::permissions(data, std::filesystem::perms(0755));
  std::filesystem::permissions(state, std::filesystem::perms(0755));
  std::filesystem::permissions(state + "/kesto", std::filesystem::perms(0755));
  std::filesystem::permissions(cache, std::filesystem::perms(0777));
  std::filesystem::permissions(cache + "/kesto", std::filesystem::perms(0777));
  for (const std::string& folder : {StandardPaths::applicationDirectory(), StandardPaths::applicationConfigDirectory(),
                                    StandardPaths::logsDirectory(), StandardPaths::applicationCachesDirectory()})
    EXPECT_EQ(modeOf(folder), 0700u) << folder;
  EXPECT_EQ(StandardPaths::applicationCachesDirectory(), cache + "/kesto");
  EXPECT_EQ(modeOf(state + "/kesto"), 0700u);
  EXPECT_EQ(modeOf(data), 0755u);
  EXPECT_EQ(modeOf(state), 0755u);
  EXPECT_EQ(modeOf(cache), 0777u);
}

TEST(StandardPaths, ReadsTheEnvironmentOnEveryCall) {
  std::string first = tempHome() + "/cacheA";
  std::string second = tempHome() + "/cacheB/";
  {
    EnvScope env("XDG_CACHE_HOME", first.c_str());
    EXPECT_EQ(StandardPaths::cachesDirectory(), first);
  }
  {
    EnvScope env("XDG_CACHE_HOME", second.c_str());
    EXPECT_EQ(StandardPaths::cachesDirectory(), tempHome() + "/cacheB");  // no trailing slash
  }
}

TEST(StandardPaths, RelativeOrEmptyXdgValuesFallBackBelowHome) {
  {
    EnvScope env("XDG_DATA_HOME", "relative/path");
    EXPECT_EQ(StandardPaths::applicationSupportDirectory(), tempHome() + "/.local/share");
  }
  {
    EnvScope env("XDG_CONFIG_HOME", "");
    EXPECT_EQ(StandardPaths::configDirectory(), tempHome() + "/.config");
  }
}

TEST(StandardPaths, LogsLiveInTheStateFolder) {
  std::string logs = StandardPaths::logsDirectory();
  EXPECT_EQ(logs, std::string(std::getenv("XDG_STATE_HOME")) + "/kesto/logs");
  EXPECT_TRUE(std::filesystem::is_directory(logs));
  EXPECT_EQ(modeOf(logs), 0700u);
  EXPECT_EQ(StandardPaths::applicationConfigDirectory(), std::string(std::getenv("XDG_CONFIG_HOME")) + "/kesto");
}

TEST(StandardPaths, DocumentsFromEnvironmentThenUserDirsFileThenDefault) {
  EnvScope docs("XDG_DOCUMENTS_DIR", nullptr);
  std::string config = kesto::test::makeTempDir("config");
  EnvScope env("XDG_CONFIG_HOME", config.c_str());
  EXPECT_EQ(StandardPaths::documentsDirectory(), tempHome() + "/Documents");
  kesto::test::writeFile(config + "/user-dirs.dirs",
                         "# comment\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\nXDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n");
  EXPECT_EQ(StandardPaths::documentsDirectory(), tempHome() + "/Papers");
  EnvScope direct("XDG_DOCUMENTS_DIR", "/srv/docs");
  EXPECT_EQ(StandardPaths::documentsDirectory(), "/srv/docs");
}

TEST(StandardPaths, TemporaryFolderAndPathJoining) {
  {
    EnvScope env("TMPDIR", "/var/tmp/");
    EXPECT_EQ(StandardPaths::temporaryDirectory(), "/var/tmp");
  }
  {
    EnvScope env("TMPDIR", nullptr);
    EXPECT_EQ(StandardPaths::temporaryDirectory(), "/tmp");
  }
  EXPECT_EQ(StandardPaths::appendingPathComponent("/a/", "/b"), "/a/b");
  EXPECT_EQ(StandardPaths::appendingPathComponent("/a", "b"), "/a/b");
  EXPECT_EQ(StandardPaths::appendingPathComponent("", "b"), "b");
  EXPECT_EQ(StandardPaths::applicationName(), "kesto");
}
