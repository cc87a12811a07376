#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/RunLoop.h"
#include "Platform/Foundation/Timer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <string>
#include <unistd.h>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace kesto::fnd;
using kesto::test::runUntil;
using kesto::test::spin;

namespace {
double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
}  // namespace

TEST(DispatchQueue, SerialQueueRunsOneAtATimeInOrder) {
  auto queue = DispatchQueue::create("test.serial");
  std::mutex m;
  std::vector<int> order;
  std::atomic<int> active{0}, maxActive{0};
  for (int i = 0; i < 200; ++i) {
    queue->async([&, i] {
      int now = ++active;
      maxActive = std::max(maxActive.load(), now);
      {
        std::lock_guard lock(m);
        order.push_back(i);
      }
      --active;
    });
  }
  queue->sync([] {});
  ASSERT_EQ(order.size(), 200u);
  for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
  EXPECT_EQ(maxActive.load(), 1);
}

TEST(DispatchQueue, ConcurrentQueueRunsItemsSideBySide) {
  auto queue = DispatchQueue::create("test.concurrent", DispatchQueue::Kind::Concurrent);
  // Each item waits for the other: only side-by-side execution lets both finish.
  DispatchSemaphore a, b;
  std::atomic<int> done{0};
  queue->async([&] {
    a.signal();
    if (b.wait(5)) ++done;
  });
  queue->async([&] {
    b.signal();
    if (a.wait(5)) ++done;
  });
  auto start = std::chrono::steady_clock::now();
  while (done < 2 && secondsSince(start) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(done.load(), 2);
}

TEST(DispatchQueue, MainQueueAndMainRunLoopShareOneOrderOnTheMainThread) {
  std::vector<int> order;
  std::atomic<bool> offMain{false};
  for (int i = 0; i < 10; ++i) {
    if (i % 2)
      DispatchQueue::main().async([&, i] {
        if (!RunLoop::isMainThread()) offMain = true;
        order.push_back(i);
      });
    else
      RunLoop::main().perform([&, i] { order.push_back(i); });
  }
  EXPECT_TRUE(order.empty());
  ASSERT_TRUE(runUntil([&] { return order.size() == 10; }));
  for (int i = 0; i < 10; ++i) EXPECT_EQ(order[i], i);
  EXPECT_FALSE(offMain);
}

TEST(DispatchQueue, SyncOnTheQueueItselfRunsInlineInsteadOfDeadlocking) {
  auto queue = DispatchQueue::create("test.reentrant");
  std::atomic<bool> innerRan{false}, sawCurrent{false};
  queue->sync([&] {
    sawCurrent = queue->isCurrent() && DispatchQueue::current() == queue.get();
    queue->sync([&] { innerRan = true; });
  });
  EXPECT_TRUE(innerRan);
  EXPECT_TRUE(sawCurrent);
  EXPECT_FALSE(queue->isCurrent());

  // From a worker to the main queue: runs on the main thread while the worker waits.
  std::atomic<bool> onMain{false}, finished{false};
  DispatchQueue::global().async([&] {
    DispatchQueue::main().sync([&] { onMain = RunLoop::isMainThread(); });
    finished = true;
  });
  EXPECT_TRUE(runUntil([&] { return finished.load(); }));
  EXPECT_TRUE(onMain);
}

TEST(DispatchQueue, SyncReturnsWhenTheWorkThrows) {
  // A throwing block must neither leave the caller waiting forever nor escape the call.
  auto queue = DispatchQueue::create("test.throwing");
  auto returned = std::make_shared<std::atomic<int>>(0);
  std::thread([queue, returned] {
    queue->sync([] { throw std::runtime_error("boom"); });
    ++*returned;
    queue->sync([&] { queue->sync([] { throw std::runtime_error("inline"); }); });  // on the queue itself
    ++*returned;
  }).detach();  // a hang must fail the test, not block it
  EXPECT_TRUE(runUntil([&] { return returned->load() == 2; }, 5));
  auto after = std::make_shared<std::atomic<bool>>(false);
  queue->async([after] { *after = true; });
  EXPECT_TRUE(runUntil([&] { return after->load(); }, 5));
}

TEST(DispatchQueue, SuspendedQueueHoldsWorkUntilResumed) {
  auto queue = DispatchQueue::create("test.suspend");
  queue->suspend();
  std::atomic<int> ran{0};
  queue->async([&] { ++ran; });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(ran.load(), 0);
  queue->resume();
  queue->sync([] {});
  EXPECT_EQ(ran.load(), 1);
}

TEST(DispatchQueue, AfterWaitsAtLeastTheDelay) {
  auto queue = DispatchQueue::create("test.after");
  auto start = std::chrono::steady_clock::now();
  std::atomic<double> ranAfter{-1};
  queue->after(0.1, [&] { ranAfter = secondsSince(start); });
  auto t0 = std::chrono::steady_clock::now();
  while (ranAfter < 0 && secondsSince(t0) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(2));
  EXPECT_GE(ranAfter.load(), 0.095);
}

// Run on its own by the test below: the process ends with a delay still pending. What the
// pending work holds reports its release on the standard error.
TEST(DispatchQueue, ExitWithADelayPending) {
  std::shared_ptr<int> held(new int(0), [](int* p) {
    delete p;
    std::fputs("pending work released\n", stderr);
  });
  DispatchQueue::main().after(60, [held] {});
}

TEST(DispatchQueue, DelayedWorkEndsWithTheApplicationObject) {
  const std::string output =
      kesto::test::runProgram(kesto::test::selfTestArguments("DispatchQueue.ExitWithADelayPending")).output;
  EXPECT_NE(output.find("pending work released"), std::string::npos) << output;
  EXPECT_EQ(output.find("QEventLoop"), std::string::npos) << output;
  EXPECT_EQ(output.find("LeakSanitizer"), std::string::npos) << output;
}

TEST(DispatchQueue, QueueOutlivesItsOwnerUntilPendingWorkRan) {
  std::atomic<int> ran{0};
  {
    auto queue = DispatchQueue::create("test.dropped");
    queue->suspend();
    for (int i = 0; i < 5; ++i) queue->async([&] { ++ran; });
    queue->resume();
  }
  auto t0 = std::chrono::steady_clock::now();
  while (ran < 5 && secondsSince(t0) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(ran.load(), 5);
}

// Work left on a dropped queue must not see the queue it can no longer reach; dropping many
// queues while their workers start items is the race a thread sanitizer run would catch.
TEST(DispatchQueue, WorkLeftOnADroppedQueueSeesNoCurrentQueue) {
  DispatchSemaphore started, release;
  std::atomic<int> seen{-1};
  {
    auto queue = DispatchQueue::create("test.dropped.current");
    queue->async([&] {
      started.signal();
      release.wait();
    });
    queue->async([&] { seen = DispatchQueue::current() == nullptr ? 1 : 0; });
    ASSERT_TRUE(started.wait(5));
  }
  release.signal();
  auto t0 = std::chrono::steady_clock::now();
  while (seen < 0 && secondsSince(t0) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(seen.load(), 1);

  std::atomic<int> ran{0}, wrong{0};
  for (int i = 0; i < 200; ++i) {
    auto queue = DispatchQueue::create("test.dropped.many", i % 2 ? DispatchQueue::Kind::Concurrent
                                                                   : DispatchQueue::Kind::Serial);
    DispatchQueue* raw = queue.get();
    for (int k = 0; k < 4; ++k)
      queue->async([&, raw] {
        DispatchQueue* current = DispatchQueue::current();
        if (current && current != raw) ++wrong;
        ++ran;
      });
  }
  t0 = std::chrono::steady_clock::now();
  while (ran < 800 && secondsSince(t0) < 10) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(ran.load(), 800);
  EXPECT_EQ(wrong.load(), 0);
}

TEST(DispatchGroup, NotifiesOnceEverythingLeftAndWaitTimesOut) {
  DispatchGroup group;
  auto queue = DispatchQueue::create("test.group", DispatchQueue::Kind::Concurrent);
  std::atomic<int> done{0};
  std::atomic<int> doneAtNotify{-1};
  for (int i = 0; i < 8; ++i)
    group.async(*queue, [&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ++done;
    });
  group.notify(DispatchQueue::main(), [&] { doneAtNotify = done.load(); });
  EXPECT_TRUE(group.wait(5));
  EXPECT_TRUE(runUntil([&] { return doneAtNotify >= 0; }));
  EXPECT_EQ(doneAtNotify.load(), 8);

  group.enter();
  EXPECT_FALSE(group.wait(0.02));
  group.leave();
  EXPECT_TRUE(group.wait(0));

  // Notify on an empty group runs straight away (still through the queue).
  std::atomic<bool> immediate{false};
  group.notify(*queue, [&] { immediate = true; });
  EXPECT_TRUE(runUntil([&] { return immediate.load(); }));
}

TEST(DispatchGroup, NotificationForADroppedQueueStillRuns) {
  DispatchGroup group;
  std::atomic<int> ran{0};
  std::atomic<DispatchQueue*> ranOn{nullptr};
  group.enter();
  {
    auto queue = DispatchQueue::create("test.group.dropped");
    group.notify(*queue, [&] {
      ranOn = DispatchQueue::current();
      ++ran;
    });
  }
  // A new queue may take the memory the dropped one left; the notification must not go to it.
  auto other = DispatchQueue::create("test.group.kept");
  group.leave();
  auto t0 = std::chrono::steady_clock::now();
  while (ran == 0 && secondsSince(t0) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(ran.load(), 1);
  EXPECT_EQ(ranOn.load(), nullptr);
}

TEST(DispatchGroup, UnbalancedLeaveIsABrokenContract) {
  DispatchGroup group;
  EXPECT_THROW(group.leave(), ContractViolation);
}

TEST(DispatchSemaphore, CountsAndTimesOut) {
  DispatchSemaphore s(2);
  EXPECT_TRUE(s.wait(0));
  EXPECT_TRUE(s.wait(0));
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(s.wait(0.05));
  EXPECT_GE(secondsSince(start), 0.045);
  std::thread t([&] { s.signal(); });
  EXPECT_TRUE(s.wait(5));
  t.join();
}

TEST(DispatchOnce, RunsOnceAcrossThreads) {
  OnceToken token;
  std::atomic<int> runs{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { dispatchOnce(token, [&] { ++runs; }); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(runs.load(), 1);
}

TEST(RunLoop, DelayedPerformRunsLaterAndCancelsByTargetOrToken) {
  int targetA = 0, targetB = 0;
  std::vector<std::string> ran;
  performAfterDelay(0.02, [&] { ran.push_back("a1"); }, &targetA);
  performAfterDelay(0.02, [&] { ran.push_back("a2"); }, &targetA);
  performAfterDelay(0.02, [&] { ran.push_back("b"); }, &targetB);
  PerformToken token = RunLoop::main().performAfterDelay(0.02, [&] { ran.push_back("token"); });
  performAfterDelay(0.04, [&] { ran.push_back("last"); });
  EXPECT_TRUE(ran.empty());

  cancelPreviousPerformRequests(&targetA);
  RunLoop::cancelPerform(token);
  ASSERT_TRUE(runUntil([&] { return !ran.empty() && ran.back() == "last"; }));
  EXPECT_EQ(ran, (std::vector<std::string>{"b", "last"}));
}

TEST(RunLoop, CancelFromAnotherThreadBeatsTheTimer) {
  int target = 0;
  bool ran = false;
  performAfterDelay(0.05, [&] { ran = true; }, &target);
  std::thread([&] { cancelPreviousPerformRequests(&target); }).join();
  spin(0.1);
  EXPECT_FALSE(ran);
}

TEST(RunLoop, PerformOnMainThreadWaitsOrRunsInline) {
  bool inlineRan = false;
  performOnMainThread([&] { inlineRan = true; }, true);
  EXPECT_TRUE(inlineRan);  // already on main: no deadlock, ran before returning

  std::atomic<bool> onMain{false}, returned{false};
  std::thread t([&] {
    performOnMainThread([&] { onMain = RunLoop::isMainThread(); }, true);
    returned = true;
  });
  EXPECT_TRUE(runUntil([&] { return returned.load(); }));
  t.join();
  EXPECT_TRUE(onMain);
}

TEST(RunLoop, DefaultModeWorkWaitsWhileTracking) {
  std::atomic<bool> tracking{true};
  RunLoop::setTrackingPredicate([&] { return tracking.load(); });
  bool defaultRan = false, commonRan = false;
  RunLoop::main().perform([&] { defaultRan = true; }, RunLoop::Mode::Default);
  RunLoop::main().perform([&] { commonRan = true; }, RunLoop::Mode::Common);
  spin(0.1);
  EXPECT_TRUE(commonRan);
  EXPECT_FALSE(defaultRan);
  tracking = false;
  EXPECT_TRUE(runUntil([&] { return defaultRan; }));
  RunLoop::setTrackingPredicate(nullptr);
}

TEST(RunLoop, ExceptionInQueuedWorkStaysOutOfTheEventLoop) {
  bool after = false;
  RunLoop::main().perform([] { throw std::runtime_error("boom"); });
  RunLoop::main().perform([&] { after = true; });
  EXPECT_TRUE(runUntil([&] { return after; }));
}

TEST(RunLoopThread, RunsWorkInOrderOnItsOwnThreadWithItsOwnLoop) {
  RunLoopThread thread("Networking");
  std::mutex m;
  std::vector<int> order;
  std::atomic<bool> ownLoop{false}, notMain{false}, delayedOnThread{false};
  for (int i = 0; i < 20; ++i)
    thread.perform([&, i] {
      std::lock_guard lock(m);
      order.push_back(i);
    });
  thread.perform([&] {
    ownLoop = &RunLoop::current() == &thread.runLoop() && thread.isCurrent();
    notMain = !RunLoop::isMainThread();
    // Delayed work scheduled here stays on this thread.
    performAfterDelay(0.01, [&] { delayedOnThread = thread.isCurrent(); });
  });
  auto t0 = std::chrono::steady_clock::now();
  while (!delayedOnThread && secondsSince(t0) < 5) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(ownLoop);
  EXPECT_TRUE(notMain);
  EXPECT_TRUE(delayedOnThread);
  std::lock_guard lock(m);
  ASSERT_EQ(order.size(), 20u);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(order[i], i);
}

TEST(Timer, RepeatsUntilInvalidatedAndOneShotsInvalidateThemselves) {
  int ticks = 0;
  auto repeating = Timer::scheduledTimer(0.01, true, [&](Timer& t) {
    if (++ticks == 3) t.invalidate();
  });
  ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));
  spin(0.05);
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(repeating->isValid());

  int once = 0;
  std::weak_ptr<Timer> weak;
  {
    auto oneShot = Timer::scheduledTimer(0.01, false, [&](Timer&) { ++once; });
    weak = oneShot;
  }  // the run loop keeps it alive while scheduled
  ASSERT_TRUE(runUntil([&] { return once == 1; }));
  spin(0.03);
  EXPECT_EQ(once, 1);
  EXPECT_TRUE(weak.expired());
}

TEST(Timer, InvalidateFromAnotherThreadStopsIt) {
  std::atomic<int> ticks{0};
  auto timer = Timer::scheduledTimer(0.01, true, [&](Timer&) { ++ticks; });
  ASSERT_TRUE(runUntil([&] { return ticks >= 1; }));
  std::thread([&] { timer->invalidate(); }).join();
  spin(0.02);
  int seen = ticks;
  spin(0.05);
  EXPECT_EQ(ticks.load(), seen);
}

TEST(Timer, RescheduleMovesTheNextFiring) {
  int ticks = 0;
  auto timer = Timer::scheduledTimer(60.0, false, [&](Timer&) { ++ticks; });
  timer->setFireAfter(0.01);
  EXPECT_TRUE(runUntil([&] { return ticks == 1; }, 10));
  EXPECT_FALSE(timer->isValid());
}
