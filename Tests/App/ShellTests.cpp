// The shell around the library: the automatic backup of each start and what a start tidies.
#include "AppFixture.h"

#include "Platform/Foundation/FileManager.h"

#include <sys/stat.h>

namespace kesto::test {
namespace {

class ShellTest : public AppTest {
 protected:
  static std::string appFolder() { return WrenDataManager::sharedInstance().applicationSupportDirectory(); }
  static std::vector<std::string> named(const std::string& part) {
    std::vector<std::string> out;
    for (const auto& n : fnd::FileManager::contentsOfDirectory(appFolder()).value_or(std::vector<std::string>{}))
      if (n.find(part) != std::string::npos) out.push_back(n);
    return out;
  }
};

TEST_F(ShellTest, TheStartBackupWaitsForTheListAndLeavesLaunchingAtOnce) {
  // What a start killed in the middle of its copy left behind.
  writeFile(appFolder() + "/.2020-01-01-00-00-00.kestobck.999999999-ab-0.tmp", "half a copy");
  build(0);
  app().applicationDidFinishLaunching();
  EXPECT_TRUE(named(".tmp").empty()) << "the unfinished copy is gone as the start begins";
  EXPECT_TRUE(app().automaticBackupRunning());
  EXPECT_TRUE(named(".kestobck").empty()) << "launching finishes before any copying";
  ASSERT_TRUE(runUntil([&] { return !app().automaticBackupRunning(); }, 10));
  auto made = named(".kestobck");
  ASSERT_EQ(made.size(), 1u);
  struct stat st {};
  ASSERT_EQ(::stat((appFolder() + "/" + made[0]).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace kesto::test
