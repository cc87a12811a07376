#include "Views/DiskCacheManager.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Charset.h"
#include "Platform/Foundation/Date.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/StandardPaths.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using kesto::DiskCacheManager;
using kesto::fnd::Data;
using kesto::fnd::StandardPaths;
using kesto::fnd::FileManager;

namespace {

Data bytes(std::size_t n, char c = 'x') { return Data(n, static_cast<std::uint8_t>(c)); }

std::vector<std::string> entries(const std::string& folder) {
  return FileManager::contentsOfDirectory(folder).value_or(std::vector<std::string>{});
}

// A cache whose deletions can be made to fail.
class StubbornCache : public DiskCacheManager {
 public:
  using DiskCacheManager::DiskCacheManager;
  bool failDeletes = false;
  int deleteAttempts = 0;

 protected:
  bool removeEntry(const std::string& path) override {
    ++deleteAttempts;
    return failDeletes ? false : DiskCacheManager::removeEntry(path);
  }
};

}  // namespace

TEST(DiskCacheManager, FileNamesAreUpperCaseMD5OfTheKey) {
  // printf %s 'http://example.com/a.png' | md5sum
  EXPECT_EQ(DiskCacheManager::md5("http://example.com/a.png"), "B876851593B9E119ED73F38561576BDA");
  EXPECT_EQ(DiskCacheManager::md5(""), "D41D8CD98F00B204E9800998ECF8427E");
  EXPECT_EQ(DiskCacheManager::md5("abc"), "900150983CD24FB0D6963F7D28E17F72");
  // Letter case of the key matters.
  EXPECT_NE(DiskCacheManager::md5("http://a.com/X"), DiskCacheManager::md5("http://a.com/x"));
}

TEST(DiskCacheManager, DefaultFolderIsDiskCacheInTheUserCaches) {
  auto path = DiskCacheManager::defaultCachePath();
  ASSERT_TRUE(path);
  EXPECT_EQ(*path, StandardPaths::cachesDirectory() + "/kesto/DiskCache") << "never the cache folder every program shares";
  DiskCacheManager cache;
  bool isDir = false;
  EXPECT_TRUE(FileManager::fileExists(*path, &isDir) && isDir) << "made with its parents";
}

TEST(DiskCacheManager, StoresReadsReplacesAndClears) {
  std::string folder = kesto::test::makeTempDir("cache") + "/a/b";
  DiskCacheManager cache(folder);
  EXPECT_FALSE(cache.cacheDataExistForKey("k"));
  EXPECT_FALSE(cache.dataForKey("k"));

  ASSERT_TRUE(cache.storeData(kesto::fnd::toData("first"), "k"));
  ASSERT_TRUE(cache.storeData(kesto::fnd::toData("second"), "k"));
  EXPECT_EQ(entries(folder), std::vector<std::string>{DiskCacheManager::md5("k")}) << "one file per key";
  EXPECT_EQ(cache.dataForKey("k"), kesto::fnd::toData("second"));
  EXPECT_EQ(kesto::test::readFile(folder + "/" + DiskCacheManager::md5("k")), "second") << "bytes stored as they are";

  ASSERT_TRUE(cache.storeData(Data(), "empty"));
  EXPECT_TRUE(cache.cacheDataExistForKey("empty"));
  EXPECT_EQ(cache.dataForKey("empty"), Data());

  cache.clearCacheForFile("k");
  cache.clearCacheForFile("never stored");  // ignored
  EXPECT_FALSE(cache.cacheDataExistForKey("k"));

  kesto::test::writeFile(folder + "/.DS_Store", "x");
  FileManager::createDirectory(folder + "/sub", true);
  kesto::test::writeFile(folder + "/sub/f", "y");
  cache.clearAllCache();
  EXPECT_TRUE(entries(folder).empty());
}

TEST(DiskCacheManager, AStoreOverTheLimitTrimsUntilWithinIt) {
  std::string folder = kesto::test::makeTempDir("cache");
  DiskCacheManager cache(folder, 250, DiskCacheManager::kDefaultCacheExpireDuration);
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(cache.storeData(bytes(100), "key" + std::to_string(i)));
  EXPECT_LE(cache.currentCacheSize(), 250);
  EXPECT_GE(cache.currentCacheSize(), 100);

  // Lowering the limit trims at once.
  cache.setMaxCacheBytes(100);
  EXPECT_LE(cache.currentCacheSize(), 100);
  cache.setMaxCacheBytes(0);
  EXPECT_EQ(cache.currentCacheSize(), 0);
}

TEST(DiskCacheManager, TheSizeKeptBetweenStoresFollowsReplacementsAndRemovals) {
  std::string folder = kesto::test::makeTempDir("cache");
  DiskCacheManager cache(folder, 250, DiskCacheManager::kDefaultCacheExpireDuration);
  ASSERT_TRUE(cache.storeData(bytes(200), "a"));
  ASSERT_TRUE(cache.storeData(bytes(200), "a"));  // replaces: still 200 bytes, nothing evicted
  EXPECT_TRUE(cache.cacheDataExistForKey("a"));
  cache.clearCacheForFile("a");
  ASSERT_TRUE(cache.storeData(bytes(200), "b"));
  EXPECT_TRUE(cache.cacheDataExistForKey("b")) << "the cleared entry no longer counts";
  cache.clearAllCache();
  ASSERT_TRUE(cache.storeData(bytes(200), "c"));
  EXPECT_TRUE(cache.cacheDataExistForKey("c"));
  ASSERT_TRUE(cache.storeData(bytes(100), "d"));  // 300 > 250
  EXPECT_LE(cache.currentCacheSize(), 250);
}

TEST(DiskCacheManager, EvictionTakesTheOldestFileAmongTheCandidates) {
  std::string folder = kesto::test::makeTempDir("cache");
  DiskCacheManager cache(folder, 1000000, DiskCacheManager::kDefaultCacheExpireDuration);
  // Seven files made one after another: f0 is the oldest.
  for (int i = 0; i < 7; ++i) {
    kesto::test::writeFile(folder + "/f" + std::to_string(i), std::string(10, 'a'));
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
  }
  // One pass from 70 down to 60 bytes deletes exactly one file: the oldest.
  std::uint64_t left = cache.removeLastFileInCacheFolderWithCurrentCacheSize(70, 60);
  EXPECT_EQ(left, 60u);
  EXPECT_EQ(entries(folder).size(), 6u);
  EXPECT_FALSE(FileManager::fileExists(folder + "/f0")) << "the oldest file goes first";
}

TEST(DiskCacheManager, TrimEndsWhenNothingCanBeDeleted) {
  std::string folder = kesto::test::makeTempDir("cache");
  for (int i = 0; i < 3; ++i) kesto::test::writeFile(folder + "/f" + std::to_string(i), std::string(100, 'a'));
  StubbornCache cache(folder, 1000000, DiskCacheManager::kDefaultCacheExpireDuration);
  cache.failDeletes = true;
  cache.setMaxCacheBytes(10);  // used to spin for ever on the main thread
  EXPECT_EQ(entries(folder).size(), 3u);
  EXPECT_EQ(cache.deleteAttempts, 3) << "one pass, then it stops";
  // A store still writes and returns, even though the trim cannot get under the limit.
  EXPECT_TRUE(cache.storeData(bytes(10), "x"));
}

TEST(DiskCacheManager, ExpirySweepKeepsEntriesExactlyAtTheLimit) {
  std::string folder = kesto::test::makeTempDir("cache");
  DiskCacheManager cache(folder);
  cache.storeData(bytes(1), "old");
  kesto::test::writeFile(folder + "/.DS_Store", "x");
  auto created = FileManager::attributesOfItem(cache.pathForKey("old"))->creationDate;

  kesto::fnd::setClock([created] { return created.dateByAddingTimeInterval(100.0); });
  cache.setCacheExpireDuration(100.0);
  EXPECT_TRUE(cache.cacheDataExistForKey("old")) << "exactly the limit survives";

  kesto::fnd::setClock([created] { return created.dateByAddingTimeInterval(101.0); });
  // Reads ignore age until the next sweep.
  EXPECT_TRUE(cache.dataForKey("old"));
  cache.setCacheExpireDuration(100.0);
  EXPECT_FALSE(cache.cacheDataExistForKey("old"));
  EXPECT_TRUE(FileManager::fileExists(folder + "/.DS_Store")) << "the sweep keeps .DS_Store";
  kesto::fnd::setClock(nullptr);
}

TEST(DiskCacheManager, ConcurrentStoresAndClearsKeepTheFolderConsistent) {
  std::string folder = kesto::test::makeTempDir("cache");
  DiskCacheManager cache(folder, 5000, DiskCacheManager::kDefaultCacheExpireDuration);
  std::thread clearer([&] {
    for (int i = 0; i < 200; ++i) cache.clearCacheForFile("key" + std::to_string(i % 20));
  });
  for (int i = 0; i < 200; ++i) cache.storeData(bytes(100), "key" + std::to_string(i % 20));
  clearer.join();
  EXPECT_LE(cache.currentCacheSize(), 5000);
  for (const auto& name : entries(folder)) EXPECT_EQ(name.size(), 32u) << "no stray temporary files: " << name;
}

// Cached images show what the user keeps: the folder is the user's alone, also when an earlier
// version left it open, and so is every entry.
TEST(DiskCacheManagerPrivacy, FolderAndEntriesAreTheUsersAlone) {
  const std::string folder = kesto::test::tempHome() + "/cache/kesto/DiskCache";
  ASSERT_TRUE(FileManager::createDirectory(folder, true, 0755));
  DiskCacheManager cache(folder);
  ASSERT_TRUE(cache.storeData(bytes(10), "https://example.org/a.png"));
  EXPECT_EQ(FileManager::attributesOfItem(folder)->permissions, 0700u);
  EXPECT_EQ(FileManager::attributesOfItem(cache.pathForKey("https://example.org/a.png"))->permissions, 0600u);
  DiskCacheManager fresh(kesto::test::tempHome() + "/new/DiskCache");
  EXPECT_EQ(FileManager::attributesOfItem(kesto::test::tempHome() + "/new")->permissions, 0700u);
}
