#include "Model/FileManagerAdditions.h"
#include "Model/Preferences.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/UserDefaults.h"

#include <gtest/gtest.h>

namespace kesto {
namespace {

TEST(FileHelpersTest, CacheAndTempFolders) {
  const std::string support = test::tempHome() + "/.local/share/kesto";
  EXPECT_EQ(appSupportFolderPath(), support);
  EXPECT_EQ(kesto_cacheFolderPath(), support + "/Cache");
  EXPECT_FALSE(fnd::FileManager::fileExists(kesto_cacheFolderPath()));
  EXPECT_EQ(kesto_tempFolderPath(), support + "/tmp");
  bool dir = false;
  EXPECT_TRUE(fnd::FileManager::fileExists(support + "/tmp", &dir));
  EXPECT_TRUE(dir);
  EXPECT_EQ(kesto_tempFolderPath(), support + "/tmp");
}

TEST(FileHelpersTest, CacheIdentifiersNeverLeaveTheCache) {
  EXPECT_EQ(kesto_cacheFilePath("6BA7B810-9DAD-41D1-80B4-00C04FD430C8"),
            kesto_cacheFolderPath() + "/6BA7B810-9DAD-41D1-80B4-00C04FD430C8");
  for (const std::string& bad : std::vector<std::string>{"", ".", "..", "../../.bashrc", "a/b", "/etc/passwd", std::string("a\0b", 3)})
    EXPECT_FALSE(kesto_cacheFilePath(bad).has_value()) << bad;
  EXPECT_TRUE(kesto_cacheFilePath("..hidden").has_value());
}

TEST(FileHelpersTest, PathChecksAndListings) {
  using namespace brightwren;
  std::string root = test::makeTempDir("tree");
  test::writeFile(root + "/file.txt", "x");
  EXPECT_TRUE(checkOrCreatePath(root + "/file.txt"));  // a file counts; nothing is made
  EXPECT_TRUE(checkOrCreatePath(root + "/a/b"));
  EXPECT_TRUE(checkIfPathExists(root + "/a/b"));
  test::writeFile(root + "/a/b/Deep.PNG", "x");
  EXPECT_EQ(pathForItemNamed("Deep.PNG", root), root + "/a/b/Deep.PNG");
  EXPECT_FALSE(pathForItemNamed("none", root).has_value());
  EXPECT_EQ(filesInFolder(root), (std::vector<std::string>{"a/b/Deep.PNG", "file.txt"}));
  EXPECT_EQ(folderPathsInFolder(root, true), (std::vector<std::string>{"a", "a/b"}));
  EXPECT_EQ(pathsForItemsMatchingExtension("png", root), (std::vector<std::string>{root + "/a/b/Deep.PNG"}));
  EXPECT_EQ(folderContainingFile(root + "/file.txt"), root);
  EXPECT_EQ(folderContainingFile(root + "/a"), root + "/a");
  EXPECT_EQ(folderNamesInCurrentFolderOnly(root, true), (std::vector<std::string>{"a"}));
}

TEST(FileHelpersTest, ParentFolderPaths) {
  using namespace brightwren;
  std::string root = test::makeTempDir("parents");
  test::writeFile(root + "/f.txt", "x");
  auto withCurrent = parentFolderPaths(root + "/f.txt", true);
  ASSERT_FALSE(withCurrent.empty());
  EXPECT_EQ(withCurrent.back(), root);
  auto without = parentFolderPaths(root + "/f.txt", false);
  EXPECT_EQ(without.size() + 1, withCurrent.size());
  ASSERT_FALSE(without.empty());
  EXPECT_EQ(without.front(), withCurrent.front());
  EXPECT_TRUE(parentFolderPaths("/", true).empty());
}

TEST(PreferencesTest, FirstRunValuesFromUserDefaults) {
  auto& d = fnd::UserDefaults::standard();
  d.setBool(true, "sortFoldersByFavorite");
  auto first = readPreferencesFromUserDefaults();
  // Nothing stored for "sortFoldersByRating": the first-run rules apply.
  EXPECT_FALSE(first.sortFoldersByFavorite());
  EXPECT_TRUE(first.sortFoldersByDateDescending());
  EXPECT_TRUE(first.sortInboxByDateDescending());
  EXPECT_FALSE(first.showALLTags());

  d.setBool(false, "sortFoldersByRating");
  for (const char* key : {"sortFoldersAlfabetically", "sortInboxByDateAscending", "showBookmarksInSubFolders", "showALLTags"})
    d.setBool(true, key);
  auto later = readPreferencesFromUserDefaults();
  EXPECT_TRUE(later.sortFoldersByFavorite());
  EXPECT_TRUE(later.sortFoldersAlfabetically());
  EXPECT_FALSE(later.sortFoldersByDateDescending());
  EXPECT_TRUE(later.sortInboxByDateAscending());
  EXPECT_FALSE(later.sortInboxByDateDescending());
  EXPECT_TRUE(later.showBookmarksInSubFolders());
  EXPECT_FALSE(later.showALLTags());
}

}  // namespace
}  // namespace kesto
