#include "Harness/SharedLog.h"
#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Operation.h"
#include "Platform/Foundation/OperationQueue.h"
#include "Platform/Foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace kesto::fnd;
using kesto::test::runUntil;

namespace {

// An asynchronous operation with its own state, announced the way the network operation does:
// new-will, old-will, store, old-did, new-did.
class AsyncOperation : public Operation {
 public:
  enum class State { Ready, Executing, Finished };

  void start() override {
    if (isCancelled()) {
      setState(State::Finished);
      return;
    }
    setState(State::Executing);
    auto self = std::static_pointer_cast<AsyncOperation>(shared_from_this());
    std::thread([self] {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      self->setState(State::Finished);
    }).detach();
  }
  bool isAsynchronous() const override { return true; }
  bool isReady() const override { return state_ == State::Ready && Operation::isReady(); }
  bool isExecuting() const override { return state_ == State::Executing; }
  bool isFinished() const override { return state_ == State::Finished; }

 private:
  static const char* key(State s) {
    switch (s) {
      case State::Ready: return "isReady";
      case State::Executing: return "isExecuting";
      case State::Finished: return "isFinished";
    }
    return "state";
  }
  void setState(State next) {
    std::lock_guard lock(lock_);
    State old = state_;
    willChangeValueForKey(key(next));
    willChangeValueForKey(key(old));
    state_ = next;
    didChangeValueForKey(key(old));
    didChangeValueForKey(key(next));
  }

  std::recursive_mutex lock_;
  std::atomic<State> state_{State::Ready};
};

}  // namespace

TEST(Operation, PlainOperationAnnouncesEachStateChange) {
  auto op = BlockOperation::create([] {});
  std::vector<std::string> seen;
  op->addChangeObserver([&](Operation&, std::string_view key, bool prior) {
    seen.push_back(std::string(prior ? "will " : "did ") + std::string(key));
  });
  op->start();
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(seen, (std::vector<std::string>{"will isExecuting", "did isExecuting", "will isExecuting",
                                            "will isFinished", "did isExecuting", "did isFinished"}));
  // Starting it again is a broken contract.
  EXPECT_THROW(op->start(), ContractViolation);
}

TEST(Operation, CancelledBeforeStartFinishesWithoutRunningAndCompletesOnce) {
  std::atomic<int> ran{0}, completed{0};
  auto op = BlockOperation::create([&] { ++ran; });
  op->setCompletionBlock([&] { ++completed; });
  op->cancel();
  op->cancel();
  EXPECT_TRUE(op->isCancelled());
  EXPECT_TRUE(op->isReady());
  op->start();
  EXPECT_TRUE(op->isFinished());
  EXPECT_FALSE(op->isExecuting());
  EXPECT_TRUE(runUntil([&] { return completed == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(completed.load(), 1);
}

TEST(Operation, DependenciesGateReadinessAndAnnounceIt) {
  auto first = BlockOperation::create([] {});
  auto second = BlockOperation::create([] {});
  EXPECT_TRUE(second->isReady());
  second->addDependency(first);
  second->addDependency(first);  // once only
  EXPECT_EQ(second->dependencies().size(), 1u);
  EXPECT_FALSE(second->isReady());

  int readyAnnouncements = 0;
  second->addChangeObserver([&](Operation& op, std::string_view key, bool prior) {
    if (key == "isReady" && !prior && op.isReady()) ++readyAnnouncements;
  });
  first->start();
  EXPECT_TRUE(second->isReady());
  EXPECT_EQ(readyAnnouncements, 1);

  auto third = BlockOperation::create([] {});
  auto blocker = BlockOperation::create([] {});
  third->addDependency(blocker);
  EXPECT_FALSE(third->isReady());
  third->removeDependency(blocker);
  EXPECT_TRUE(third->isReady());
}

TEST(OperationQueue, RunsOperationsOnlyAfterTheirDependencies) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(4);
  kesto::test::SharedLog journal;
  auto slow = BlockOperation::create([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    journal.add("slow");
  });
  auto fast = BlockOperation::create([&] { journal.add("fast"); });
  auto last = BlockOperation::create([&] { journal.add("last"); });
  last->addDependency(slow);
  last->addDependency(fast);
  queue.addOperation(last);  // added first, but must wait
  queue.addOperation(slow);
  queue.addOperation(fast);
  queue.waitUntilAllOperationsAreFinished();
  auto entries = journal.snapshot();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries.back(), "last");
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueue, WidthOneRunsOneAtATimeInOrder) {
  OperationQueue queue;
  queue.setMaxConcurrentOperationCount(1);
  std::atomic<int> active{0}, maxActive{0};
  kesto::test::SharedLog journal;
  for (int i = 0; i < 20; ++i)
    queue.addOperationWithBlock([&, i] {
      int now = ++active;
      maxActive = std::max(maxActive.load(), now);
      journal.add(std::to_string(i));
      --active;
    });
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(maxActive.load(), 1);
  auto entries = journal.snapshot();
  ASSERT_EQ(entries.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(entries[i], std::to_string(i));
}

TEST(OperationQueue, AsynchronousOperationLeavesOnlyWhenItAnnouncesFinished) {
  OperationQueue queue;
  auto op = std::make_shared<AsyncOperation>();
  std::atomic<int> completed{0};
  op->setCompletionBlock([&] { ++completed; });
  std::mutex m;
  std::vector<std::string> seen;
  op->addChangeObserver([&](Operation&, std::string_view key, bool prior) {
    std::lock_guard lock(m);
    seen.push_back(std::string(prior ? "will " : "did ") + std::string(key));
  });
  queue.addOperation(op);
  EXPECT_TRUE(runUntil([&] { return op->isExecuting() || op->isFinished(); }));
  EXPECT_TRUE(runUntil([&] { return queue.operationCount() == 0; }));
  EXPECT_TRUE(op->isFinished());
  EXPECT_TRUE(runUntil([&] { return completed == 1; }));
  std::lock_guard lock(m);
  EXPECT_EQ(seen, (std::vector<std::string>{"will isExecuting", "will isReady", "did isReady", "did isExecuting",
                                            "will isFinished", "will isExecuting", "did isExecuting",
                                            "did isFinished"}));
}

TEST(OperationQueue, CancelAllFinishesWaitingOperationsWithoutRunningThem) {
  OperationQueue queue;
  queue.setSuspended(true);
  std::atomic<int> ran{0};
  for (int i = 0; i < 5; ++i) queue.addOperationWithBlock([&] { ++ran; });
  EXPECT_EQ(queue.operationCount(), 5u);
  queue.cancelAllOperations();
  queue.setSuspended(false);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(ran.load(), 0);
}

TEST(OperationQueue, CancelledOperationWithPendingDependencyStillLeaves) {
  OperationQueue queue;
  auto never = BlockOperation::create([] {});
  std::atomic<bool> ran{false};
  auto dependent = BlockOperation::create([&] { ran = true; });
  dependent->addDependency(never);
  queue.addOperation(dependent);
  kesto::test::spin(0.02);
  EXPECT_EQ(queue.operationCount(), 1u);
  dependent->cancel();
  EXPECT_TRUE(runUntil([&] { return queue.operationCount() == 0; }));
  EXPECT_FALSE(ran);
}

TEST(OperationQueue, KeepsOperationsAliveAndReleasesACompletionCycleOnceCleared) {
  std::weak_ptr<Operation> weak;
  std::atomic<bool> ran{false};
  {
    OperationQueue queue;
    auto op = BlockOperation::create([&] { ran = true; });
    weak = op;
    // The block holds its operation, as the network operations' completion chains do, and
    // clears itself when done.
    op->setCompletionBlock([op] { op->setCompletionBlock(nullptr); });
    queue.addOperation(op);
    op.reset();
    queue.waitUntilAllOperationsAreFinished();
  }
  EXPECT_TRUE(ran);
  EXPECT_TRUE(runUntil([&] { return weak.expired(); }));
}

TEST(OperationQueue, RefusesAnOperationTwice) {
  OperationQueue queue;
  queue.setSuspended(true);
  auto op = BlockOperation::create([] {});
  queue.addOperation(op);
  EXPECT_THROW(queue.addOperation(op), ContractViolation);
  queue.setSuspended(false);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_THROW(queue.addOperation(op), ContractViolation);  // finished
}

TEST(OperationQueue, MainQueueRunsOnTheMainThread) {
  std::atomic<bool> onMain{false}, ran{false};
  OperationQueue::mainQueue().addOperationWithBlock([&] {
    onMain = RunLoop::isMainThread();
    ran = true;
  });
  EXPECT_TRUE(runUntil([&] { return ran.load(); }));
  EXPECT_TRUE(onMain);
}

TEST(BlockOperation, ExtraBlocksRunSideBySideAndAllFinishFirst) {
  DispatchSemaphore a, b;
  std::atomic<int> done{0};
  auto op = BlockOperation::create([&] {
    a.signal();
    if (b.wait(5)) ++done;
  });
  op->addExecutionBlock([&] {
    b.signal();
    if (a.wait(5)) ++done;
  });
  op->start();
  EXPECT_EQ(done.load(), 2);
  EXPECT_THROW(op->addExecutionBlock([] {}), ContractViolation);
}

namespace {
// Finishes from a thread that holds no reference, as a connection callback may.
class UnheldOperation : public Operation {
 public:
  std::atomic<bool> started{false}, finished{false};
  bool isAsynchronous() const override { return true; }
  bool isExecuting() const override { return started && !finished; }
  bool isFinished() const override { return finished; }
  void start() override { started = true; }
  void finishNow() {
    willChangeValueForKey("isFinished");
    finished = true;
    didChangeValueForKey("isFinished");
  }
};
}  // namespace

TEST(OperationQueue, OperationFinishingWithoutAnOwnerOutlivesItsAnnouncement) {
  // The queue holds the only reference and lets go of it inside the finish announcement; the
  // announcing code must still be able to complete.
  for (int round = 0; round < 20; ++round) {
    OperationQueue queue;
    auto op = std::make_shared<UnheldOperation>();
    std::weak_ptr<UnheldOperation> weak = op;
    UnheldOperation* raw = op.get();
    std::atomic<int> completed{0};
    op->setCompletionBlock([&] { ++completed; });
    queue.addOperation(op);
    op.reset();
    ASSERT_TRUE(runUntil([&] { return raw->started.load(); }));
    std::thread([raw] { raw->finishNow(); }).join();
    EXPECT_TRUE(runUntil([&] { return weak.expired(); }));
    EXPECT_EQ(completed.load(), 1);
    EXPECT_EQ(queue.operationCount(), 0u);
  }
}

// The wait on the main thread keeps serving the main loop (work that hops there still gets
// done) and ends when the last operation finishes, not at a later poll.
TEST(OperationQueueWait, OnTheMainThreadServesTheLoopAndEndsWithTheLastOperation) {
  ASSERT_TRUE(RunLoop::isMainThread());
  OperationQueue queue;
  queue.waitUntilAllOperationsAreFinished();  // nothing queued: returns at once
  std::atomic<bool> hopped{false};
  for (int i = 0; i < 3; ++i)
    queue.addOperationWithBlock([&] {
      // Blocks until the main thread has run the step: a wait that served no events would hang.
      std::atomic<bool> done{false};
      RunLoop::main().perform([&] {
        hopped = true;
        done = true;
      });
      while (!done) std::this_thread::sleep_for(std::chrono::microseconds(100));
    });
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(hopped);
  EXPECT_EQ(queue.operationCount(), 0u);

  // An operation on the main queue itself runs during the wait.
  std::atomic<bool> ranOnMain{false};
  OperationQueue::mainQueue().addOperationWithBlock([&] { ranOnMain = RunLoop::isMainThread(); });
  OperationQueue::mainQueue().waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(ranOnMain);

  // The wait ends with the finish itself, which comes from another thread.
  auto op = std::make_shared<AsyncOperation>();
  queue.addOperation(op);
  queue.waitUntilAllOperationsAreFinished();
  EXPECT_TRUE(op->isFinished());
  EXPECT_EQ(queue.operationCount(), 0u);
}

TEST(OperationQueueWait, OffTheMainThreadWaitsForOperationsAddedMeanwhile) {
  OperationQueue queue;
  std::atomic<int> ran{0};
  std::thread waiter([&] {
    queue.addOperationWithBlock([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      // More work arriving before the queue drains is waited for too.
      queue.addOperationWithBlock([&] { ++ran; });
      ++ran;
    });
    queue.waitUntilAllOperationsAreFinished();
    EXPECT_EQ(ran.load(), 2);
  });
  waiter.join();
  EXPECT_EQ(queue.operationCount(), 0u);
}
