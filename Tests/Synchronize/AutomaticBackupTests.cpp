#include "SyncLibraryFixture.h"

#include "Synchronize/Backup.h"

#include "Harness/StoreOnDisk.h"
#include "Platform/Foundation/FileManager.h"

#include <csignal>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto::test {
namespace {

class AutomaticBackupTest : public SyncLibraryTest {
 protected:
  void SetUp() override {
    SyncLibraryTest::SetUp();
    bookmark("https://kept.example/", "Kept", folder("F", "Folder"));
    save();
    // Each test starts from a folder holding the store alone.
    for (const auto& name : listing())
      if (name.rfind("data.sqlite", 0) != 0) fnd::FileManager::removeItem(appFolder() + "/" + name);
  }
  static std::string appFolder() { return Backup().applicationSupportDirectory(); }
  static std::vector<std::string> listing() {
    return fnd::FileManager::contentsOfDirectory(appFolder()).value_or(std::vector<std::string>{});
  }
  static std::vector<std::string> backups() {
    std::vector<std::string> out;
    for (const auto& name : listing())
      if (fnd::FileManager::pathExtension(name) == Backup::kExtension) out.push_back(name);
    return out;
  }
  static unsigned mode(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 0777 : 0;
  }
  // A pid no process has now.
  static pid_t deadPid() {
    for (pid_t pid = 4000000; pid > 1000; --pid)
      if (::kill(pid, 0) != 0 && errno == ESRCH) return pid;
    return 0;
  }
};

TEST_F(AutomaticBackupTest, RunsOffTheCallerAndLeavesAPrivateWholeCopy) {
  for (const char* old : {"2015-10-01-10-00-00.kestobck", "2016-01-02-13-00-00.kestobck", "2014-12-31-11-59-59.kestobck"})
    writeFile(appFolder() + "/" + old, "x");
  std::optional<bool> outcome;
  Backup().autoBackupInBackground([&](bool ok) { outcome = ok; });
  EXPECT_FALSE(outcome) << "the outcome arrives through the main queue, never inside the call";
  ASSERT_TRUE(runUntil([&] { return outcome.has_value(); }, 10));
  EXPECT_TRUE(*outcome);
  EXPECT_TRUE(alerts->shown.empty()) << "an automatic backup shows nothing";
  auto names = backups();
  ASSERT_EQ(names.size(), 3u) << "thinned to the two newest, then the new one";
  std::string made;
  for (const auto& n : names)
    if (n.rfind("201", 0) != 0) made = appFolder() + "/" + n;
  ASSERT_FALSE(made.empty());
  EXPECT_EQ(bookmarkRowsOnDisk(made), 1);
  EXPECT_EQ(mode(made), 0600u);
  EXPECT_TRUE(Backup::isValidBackupFile(made));
  for (const auto& name : listing()) EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST_F(AutomaticBackupTest, TheStoreAndEveryCopyAreReadableByTheOwnerAlone) {
  EXPECT_EQ(mode(WrenDataManager::sharedInstance().persistentStorePath()), 0600u);
  const std::string manual = makeTempDir("manual") + "/mine.kestobck";
  ASSERT_TRUE(Backup().backupToFile(manual));
  EXPECT_EQ(mode(manual), 0600u);
  ASSERT_TRUE(Backup().autoBackup());
  ASSERT_EQ(backups().size(), 1u);
  EXPECT_EQ(mode(appFolder() + "/" + backups()[0]), 0600u);
}

TEST_F(AutomaticBackupTest, CopiesLeftByAStoppedKestoAreRemovedAndLiveOnesKept) {
  const pid_t dead = deadPid();
  ASSERT_NE(dead, 0);
  const std::string me = std::to_string(::getpid()), gone = std::to_string(dead);
  const std::vector<std::string> stale = {
      "." + std::string("2026-03-05-14-07-09.kestobck.") + gone + "-1a2b-0.tmp",
      ".data.sqlite." + gone + "-1a2b-3.tmp",
      ".data.sqlite." + gone + "-1a2b-3.tmp-journal",
      // Process 1 runs, but it is not Kesto: the number was reused.
      ".data.sqlite.before-restore.1-ff-0.tmp",
      // No process has a number this large.
      ".data.sqlite.99999999999999999999999-ff-0.tmp",
  };
  const std::vector<std::string> kept = {
      ".data.sqlite." + me + "-1a2b-9.tmp",  // a copy this process is making
      "notes.tmp", ".hidden.tmp", "2026-03-05-14-07-09.kestobck", "data.sqlite.before-restore",
      ".data.sqlite." + gone + "-xyz-0.tmp", ".data.sqlite." + gone + "-ab-0.tmp-other", "." + gone + "-ab-0.tmp",
      "data.sqlite." + gone + "-ab-0.tmp",
  };
  for (const auto& name : stale) writeFile(appFolder() + "/" + name, "partial");
  for (const auto& name : kept) writeFile(appFolder() + "/" + name, "keep");
  fnd::FileManager::createDirectory(appFolder() + "/.folder." + gone + "-1-0.tmp", false);
  EXPECT_EQ(Backup::removeStaleTemporaryFiles(), stale.size());
  auto now = listing();
  for (const auto& name : stale) EXPECT_EQ(std::count(now.begin(), now.end(), name), 0) << name;
  for (const auto& name : kept) EXPECT_EQ(std::count(now.begin(), now.end(), name), 1) << name;
  EXPECT_TRUE(fnd::FileManager::fileExists(appFolder() + "/.folder." + gone + "-1-0.tmp")) << "folders are not ours";
  EXPECT_EQ(Backup::removeStaleTemporaryFiles(), 0u);
}

}  // namespace
}  // namespace kesto::test
