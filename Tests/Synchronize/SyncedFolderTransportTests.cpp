#include "SyncEngineFixture.h"

#include "Synchronize/ICloudDataSource.h"
#include "Synchronize/SyncPayload.h"
#include "Synchronize/Synchronizer.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/FileManager.h"
#include "Platform/Foundation/Lifetime.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/SyncedFolder.h"

#include <atomic>
#include <chrono>
#include <thread>

namespace kesto::test {
namespace {

using Clock = std::chrono::steady_clock;

// Runs through the synced folder while another holder (as another copy of the application
// would) keeps the folder's lock for a while.
class SyncedFolderTransportTest : public SyncEngineTest {
 protected:
  void SetUp() override {
    SyncEngineTest::SetUp();
    shared = makeTempDir("shared");
    fnd::UserDefaults::standard().setString(shared, sys::SyncedFolder::kDefaultsKey);
    startEngine(ICloudDataSource::kMethod);
  }
  void TearDown() override {
    letGo = true;
    if (holder.joinable()) holder.join();
    stopEngine();
    SyncEngineTest::TearDown();
  }

  // Takes the folder's lock on another thread and keeps it until the test lets go (or, should
  // the main loop never turn to let go, for a long while).
  void holdLock() {
    std::atomic<bool> taken{false};
    released = false;
    letGo = false;
    holder = std::thread([this, &taken] {
      {
        sys::FolderLock lock(sys::SyncedFolder(shared).lockPath(), 1);
        taken = lock.isLocked();
        const auto giveUp = Clock::now() + std::chrono::seconds(30);
        while (!letGo && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        released = true;
      }
    });
    while (!taken && !released) std::this_thread::yield();
    ASSERT_TRUE(taken);
  }

  // A run while the lock is held: starting it must not wait for the lock, and the main loop must
  // keep turning while the run waits: a main-queue timer ticks a few times before the holder lets
  // go. A loop blocked on the lock never ticks, so the holder keeps the lock to its own end. Only
  // ticks are counted, never time, so a loaded or paused machine changes nothing.
  void syncWhileLocked() {
    constexpr int kTicks = 5;
    ASSERT_NO_FATAL_FAILURE(holdLock());
    const std::size_t before = ended.size();
    engine->syncFromButton();
    const bool startedWhileHeld = !released;
    int ticksWhileHeld = 0;
    bool endedWhileHeld = false;
    fnd::Lifetime meter;
    std::function<void()> tick;
    tick = [&, alive = meter.watch()] {
      if (!alive || released) return;
      // Ticks count only while the run waits; one that ended without the lock lets go at once.
      endedWhileHeld = ended.size() > before;
      if (endedWhileHeld || ++ticksWhileHeld >= kTicks)
        letGo = true;
      else
        fnd::DispatchQueue::main().after(0.02, tick);
    };
    fnd::DispatchQueue::main().after(0.02, tick);
    ASSERT_TRUE(runUntil([&] { return ended.size() > before; }, 90));
    holder.join();
    meter.end();
    EXPECT_TRUE(startedWhileHeld) << "starting the run waited for the lock";
    EXPECT_GE(ticksWhileHeld, kTicks) << "the main loop stalled while the lock was held";
    EXPECT_FALSE(endedWhileHeld) << "the run ended without the lock";
    EXPECT_TRUE(ended.back().success) << ended.back().message;
    EXPECT_FALSE(engine->isRunning());
    EXPECT_FALSE(engine->isBusy());
  }

  std::string shared;
  std::thread holder;
  std::atomic<bool> released{false};
  std::atomic<bool> letGo{false};
};

TEST_F(SyncedFolderTransportTest, WaitingForTheLockKeepsTheMainLoopRunning) {
  folder("F1", "Shared");
  save();
  // No payload yet: only the upload waits for the lock.
  ASSERT_NO_FATAL_FAILURE(syncWhileLocked());
  EXPECT_EQ(sys::SyncedFolder(shared).payloadState(), sys::SyncedFolder::PayloadState::Present);
  // With a payload the download waits too.
  ASSERT_NO_FATAL_FAILURE(syncWhileLocked());
  EXPECT_TRUE(alerts->shown.empty());
  auto listing = fnd::FileManager::contentsOfDirectory(shared + "/Documents");
  ASSERT_TRUE(listing);
  EXPECT_EQ(*listing, std::vector<std::string>{"kesto_sync.zip"});
}

TEST_F(SyncedFolderTransportTest, AFailedUploadEndsTheRunWithItsMessage) {
  save();
  // A file where the payload's folder should be: the upload cannot make it.
  writeFile(shared + "/Documents", "in the way");
  engine->syncFromButton();
  ASSERT_TRUE(runUntil([&] { return !ended.empty(); }, 15));
  EXPECT_FALSE(ended.back().success);
  EXPECT_NE(ended.back().message.find("Documents"), std::string::npos) << ended.back().message;
  EXPECT_FALSE(engine->isBusy());
}

TEST_F(SyncedFolderTransportTest, TheSyncButtonIsToldOfEachRunAndLetGo) {
  save();
  std::vector<bool> shown;
  engine->setSyncButton([&](bool syncing) { shown.push_back(syncing); });
  EXPECT_TRUE(engine->hasSyncButton());
  EXPECT_EQ(shown, std::vector<bool>{false}) << "told the state at once";
  engine->syncFromButton();
  ASSERT_TRUE(runUntil([&] { return !ended.empty(); }, 15));
  EXPECT_TRUE(ended.back().success) << ended.back().message;
  ASSERT_GE(shown.size(), 3u);
  EXPECT_TRUE(shown[1]) << "busy for the run";
  EXPECT_FALSE(shown.back()) << "free again after it";
  // Let go: later runs tell nobody.
  engine->setSyncButton({});
  EXPECT_FALSE(engine->hasSyncButton());
  const auto told = shown.size();
  engine->syncFromButton();
  ASSERT_TRUE(runUntil([&] { return ended.size() > 1; }, 15));
  EXPECT_EQ(shown.size(), told);
}

TEST_F(SyncedFolderTransportTest, ASourceDroppedMidTransferAnswersNobody) {
  save();
  engine->syncFromButton();
  // The engine goes away while the download is under way; its answer must go nowhere.
  engine.reset();
  runUntil([] { return false; }, 1.0);
  EXPECT_TRUE(ended.empty());
}


TEST_F(SyncedFolderTransportTest, AnArchiveWhoseDocumentIsUnreadableIsKeptAsideToo) {
  // A sound archive holding a page where the sync file should be (a file-sync program's error
  // page, a half-written file): the engine cannot read it, and the very copy that was read goes
  // aside.
  bookmark("B1", "http://a.example/", "A", folder("F1", "One"));
  save();
  auto work = makeTempDir("bad");
  ASSERT_TRUE(SyncPayload::pack("<html><body>503</body></html>", work + "/bad.zip"));
  const std::string bad = readFile(work + "/bad.zip");
  ASSERT_TRUE(fnd::FileManager::createDirectory(shared + "/Documents", true));
  writeFile(shared + "/Documents/kesto_sync.zip", bad);
  const std::size_t before = ended.size();
  engine->syncFromButton();
  ASSERT_TRUE(runUntil([&] { return ended.size() > before; }, 15));
  EXPECT_TRUE(ended.back().success) << ended.back().message;
  ASSERT_FALSE(alerts->shown.empty());
  EXPECT_EQ(alerts->shown.back().title, "Sync file kept aside");
  const std::string kept = keptAsideIn(shared + "/Documents");
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(readFile(shared + "/Documents/" + kept), bad);
  std::string xml;
  ASSERT_EQ(SyncPayload::unpack(shared + "/Documents/kesto_sync.zip", &xml), SyncPayload::UnpackStatus::Ok);
  EXPECT_NE(xml.find("<kesto-sync-file>"), std::string::npos);
}

}  // namespace
}  // namespace kesto::test
