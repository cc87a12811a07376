#include "Platform/System/SyncedFolder.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"

#include <gtest/gtest.h>

#include <chrono>

namespace kesto::test {
namespace {

TEST(SyncedFolder, PutReplacesThePayloadAndCopyReadsIt) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root + "/");
  EXPECT_EQ(folder.payloadPath(), root + "/Documents/kesto_sync.zip");
  EXPECT_EQ(folder.payloadState(), sys::SyncedFolder::PayloadState::Missing);
  auto work = makeTempDir("work");
  writeFile(work + "/out.zip", "first");
  ASSERT_TRUE(folder.putPayload(work + "/out.zip"));
  EXPECT_FALSE(fnd::FileManager::fileExists(work + "/out.zip"));  // moved in
  writeFile(work + "/out.zip", "second");
  ASSERT_TRUE(folder.putPayload(work + "/out.zip"));
  EXPECT_EQ(folder.payloadState(), sys::SyncedFolder::PayloadState::Present);
  ASSERT_TRUE(folder.copyPayloadTo(work + "/in.zip"));
  EXPECT_EQ(readFile(work + "/in.zip"), "second");
  auto listing = fnd::FileManager::contentsOfDirectory(root + "/Documents");
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->size(), 1u);
}

TEST(SyncedFolder, FailuresKeepTheOldPayload) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root);
  auto work = makeTempDir("work");
  writeFile(work + "/out.zip", "kept");
  ASSERT_TRUE(folder.putPayload(work + "/out.zip"));
  fnd::Error error;
  EXPECT_FALSE(folder.putPayload(work + "/missing.zip", &error));
  EXPECT_FALSE(error.localizedDescription().empty());
  EXPECT_EQ(readFile(folder.payloadPath()), "kept");

  sys::SyncedFolder gone(root + "/nowhere");
  EXPECT_EQ(gone.payloadState(), sys::SyncedFolder::PayloadState::NoFolder);
  EXPECT_FALSE(gone.copyPayloadTo(work + "/x.zip"));
  writeFile(work + "/out.zip", "new");
  EXPECT_FALSE(gone.putPayload(work + "/out.zip"));
  EXPECT_TRUE(fnd::FileManager::fileExists(work + "/out.zip"));  // the source stays on failure
}

TEST(SyncedFolder, AHeldLockMakesOthersWaitThenFail) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root);
  auto work = makeTempDir("work");
  writeFile(work + "/out.zip", "data");
  sys::FolderLock held(folder.lockPath(), 1);
  ASSERT_TRUE(held.isLocked());
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(folder.putPayload(work + "/out.zip", nullptr, 0.3));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(250));
  EXPECT_EQ(folder.payloadState(), sys::SyncedFolder::PayloadState::Missing);
}

}  // namespace
}  // namespace kesto::test
