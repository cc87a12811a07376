#include "Platform/System/SyncedFolder.h"

#include "Harness/TestSupport.h"
#include "Platform/Foundation/Error.h"
#include "Platform/Foundation/FileManager.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>

#include <sys/stat.h>
#include <unistd.h>

namespace kesto::test {
namespace {

// Writes `contents` to out.zip in `work` and puts that file into `folder`.
bool putPayload(sys::SyncedFolder& folder, const std::string& work, const std::string& contents) {
  writeFile(work + "/out.zip", contents);
  return folder.putPayload(work + "/out.zip");
}

TEST(SyncedFolder, PutReplacesThePayloadAndCopyReadsIt) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root + "/");
  EXPECT_EQ(folder.payloadPath(), root + "/Documents/kesto_sync.zip");
  EXPECT_EQ(folder.payloadState(), sys::SyncedFolder::PayloadState::Missing);
  auto work = makeTempDir("work");
  ASSERT_TRUE(putPayload(folder, work, "first"));
  EXPECT_FALSE(fnd::FileManager::fileExists(work + "/out.zip"));  // moved in
  ASSERT_TRUE(putPayload(folder, work, "second"));
  EXPECT_EQ(folder.payloadState(), sys::SyncedFolder::PayloadState::Present);
  ASSERT_TRUE(folder.copyPayloadTo(work + "/in.zip"));
  EXPECT_EQ(readFile(work + "/in.zip"), "second");
  auto listing = fnd::FileManager::contentsOfDirectory(root + "/Documents");
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->size(), 1u);
}

TEST(SyncedFolder, SetAsideRenamesOnlyThePayloadThatWasRead) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root);
  auto work = makeTempDir("work");
  ASSERT_TRUE(putPayload(folder, work, "garbage"));
  ASSERT_TRUE(folder.copyPayloadTo(work + "/read.zip"));
  // Another machine put a new payload there since: it stays.
  ASSERT_TRUE(putPayload(folder, work, "newer"));
  fnd::Error error;
  EXPECT_FALSE(folder.setAsidePayload(work + "/read.zip", "aside.zip", &error));
  EXPECT_EQ(readFile(folder.payloadPath()), "newer");
  // The payload that was read goes aside; a name already taken and a path are refused.
  ASSERT_TRUE(folder.copyPayloadTo(work + "/read.zip"));
  writeFile(root + "/Documents/taken.zip", "other");
  EXPECT_FALSE(folder.setAsidePayload(work + "/read.zip", "taken.zip"));
  EXPECT_EQ(readFile(root + "/Documents/taken.zip"), "other");
  EXPECT_FALSE(folder.setAsidePayload(work + "/read.zip", "../escape.zip"));
  auto kept = folder.setAsidePayload(work + "/read.zip", "aside.zip");
  ASSERT_TRUE(kept);
  EXPECT_EQ(*kept, root + "/Documents/aside.zip");
  EXPECT_EQ(readFile(*kept), "newer");
  EXPECT_EQ(folder.payloadState(), sys::SyncedFolder::PayloadState::Missing);
}

TEST(SyncedFolder, FailuresKeepTheOldPayload) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root);
  auto work = makeTempDir("work");
  ASSERT_TRUE(putPayload(folder, work, "kept"));
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

// The payload comes from another machine through the folder: only a regular file of bounded
// size is copied. A device or a pipe in its place must neither fill the disk nor block.
TEST(SyncedFolder, OnlyABoundedRegularPayloadIsCopied) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root);
  auto work = makeTempDir("work");
  ASSERT_TRUE(putPayload(folder, work, std::string(4096, 'x')));
  fnd::Error error;
  EXPECT_FALSE(folder.copyPayloadTo(work + "/in.zip", &error, 1, 4095));
  EXPECT_FALSE(error.localizedDescription().empty());
  EXPECT_FALSE(fnd::FileManager::fileExists(work + "/in.zip"));
  ASSERT_TRUE(folder.copyPayloadTo(work + "/in.zip", nullptr, 1, 4096));
  EXPECT_EQ(readFile(work + "/in.zip").size(), 4096u);

  for (const char* kind : {"device", "pipe"}) {
    ::unlink(folder.payloadPath().c_str());
    if (std::string(kind) == "device")
      ASSERT_EQ(::symlink("/dev/zero", folder.payloadPath().c_str()), 0);
    else
      ASSERT_EQ(::mkfifo(folder.payloadPath().c_str(), 0600), 0);
    EXPECT_FALSE(folder.copyPayloadTo(work + "/odd.zip", nullptr, 1)) << kind;
    EXPECT_FALSE(fnd::FileManager::fileExists(work + "/odd.zip")) << kind;
  }
}

// A copy that cannot be written on this side (a full disk, a folder gone) is told apart from a
// payload that cannot be read, with the system's cause, so the sync file is not blamed for it.
TEST(SyncedFolder, ACopyThatCannotBeWrittenIsToldApartFromAPayloadThatCannotBeRead) {
  auto root = makeTempDir("container");
  sys::SyncedFolder folder(root);
  auto work = makeTempDir("work");
  ASSERT_TRUE(putPayload(folder, work, "payload"));
  fnd::Error error;
  EXPECT_FALSE(folder.copyPayloadTo(work + "/gone/in.zip", &error, 1));
  EXPECT_EQ(error.code(), sys::SyncedFolder::kCopyNotWrittenError);
  ASSERT_TRUE(error.underlyingError());
  EXPECT_EQ(error.underlyingError()->code(), ENOENT);
  EXPECT_EQ(error.localizedDescription().find("regular file"), std::string::npos);
  error = fnd::Error();
  EXPECT_FALSE(folder.copyPayloadTo(work + "/in.zip", &error, 1, 3));
  EXPECT_NE(error.code(), sys::SyncedFolder::kCopyNotWrittenError);
  EXPECT_NE(error.localizedDescription().find(folder.payloadPath()), std::string::npos);
}

}  // namespace
}  // namespace kesto::test
