// The shell around the library: the automatic backup of each start and what a start tidies.
#include "AppFixture.h"

#include "Platform/Foundation/FileManager.h"
#include "Platform/UI/ClipView.h"
#include "Platform/UI/Window.h"
#include "Views/TileCollectionView.h"
#include "Views/TileCollectionViewCell.h"

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

// In every mode and at any width, the last column stands left of the scroller, and the list
// draws no backdrop of its own.
TEST_F(ShellTest, TheLastColumnClearsTheScrollerAndTheListDrawsNoBackdrop) {
  for (int i = 0; i < 60; ++i) add("https://site" + std::to_string(i) + ".example/", "Site " + std::to_string(i));
  build(60);
  auto& view = *ui->collectionView();
  EXPECT_FALSE(view.drawsBackground());
  for (int mode = 0; mode < 3; ++mode) {
    if (mode == 0) controller().selectThumbnailView();
    if (mode == 1) controller().selectExtendedView();
    if (mode == 2) controller().selectListView();
    for (double width : {1300.0, 1600.0, 1900.0, 2444.0}) {
      ui->window().setFrame(fnd::Rect(0, 0, width, 800));
      ui->window().displayIfNeeded();
      spin(0.02);
      const double clipRight = view.contentView()->frame().maxX();
      EXPECT_LT(clipRight, view.bounds().size.width) << "the scroller stands beside the items";
      ASSERT_FALSE(view.visibleCells().empty());
      double right = 0;
      for (const auto& cell : view.visibleCells()) right = std::max(right, cell->frame().maxX());
      EXPECT_LE(right, clipRight) << "mode " << mode << " at width " << width;
    }
  }
}

}  // namespace
}  // namespace kesto::test
