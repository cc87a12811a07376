// The test harness's own tear-down, which every test program relies on to keep one test's
// leftovers out of the next.
#include "Harness/TestSupport.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace kesto::fnd;

// Blocks a finished test left queued on the main loop never run (they would reach its stack and
// fixture), what they held is let go then, and the loop goes on taking work in order.
TEST(TestHarnessTearDown, DropsWhatAFinishedTestLeftQueuedOnTheMainLoop) {
  auto ran = std::make_shared<std::vector<std::string>>();
  DispatchQueue::main().async([ran] { ran->push_back("main queue"); });
  RunLoop::main().perform([ran] { ran->push_back("perform"); });
  auto held = std::make_shared<int>(0);
  std::weak_ptr<int> watched = held;
  DispatchQueue::main().async([held = std::move(held)] {});

  kesto::test::dropQueuedMainLoopWork();
  EXPECT_TRUE(watched.expired());
  DispatchQueue::main().async([ran] { ran->push_back("queued after"); });
  // First in, first out: once the last block has run, none before it is still waiting.
  ASSERT_TRUE(kesto::test::runUntil([&] { return !ran->empty() && ran->back() == "queued after"; }, 30));
  EXPECT_EQ(*ran, std::vector<std::string>{"queued after"});
}

namespace {
constexpr NotificationName kTearDownProbe{"KestoTearDownProbeNotification"};
}  // namespace

// Observers a test left registered (its removal skipped by a failed assertion) are taken away as
// it ends, blocks on a queue among them, so a later post reaches none of them; what was
// registered before the test began stays and still hears. A tracking predicate it left no longer
// holds the main loop's default-mode work back.
TEST(TestHarnessTearDown, TakesBackTheObserversAFinishedTestLeftRegistered) {
  auto& center = NotificationCenter::defaultCenter();
  int earlier = 0, left = 0, queued = 0;
  center.addObserver(&earlier, [&](const Notification&) { ++earlier; }, kTearDownProbe);
  kesto::test::markTestRegistrations();
  center.addObserver(&left, [&](const Notification&) { ++left; }, kTearDownProbe);
  center.addObserverForName(kTearDownProbe, nullptr, nullptr, [&](const Notification&) { ++left; });
  center.addObserverForName(kTearDownProbe, nullptr, &DispatchQueue::main(), [&](const Notification&) { ++queued; });
  center.postNotificationName(kTearDownProbe);  // the queued block's call is now on its way
  RunLoop::setTrackingPredicate([] { return true; });

  kesto::test::takeBackTestRegistrations();
  center.postNotificationName(kTearDownProbe);
  // Registered before the mark: the harness would not take it back.
  center.removeObserver(&earlier);
  EXPECT_EQ(earlier, 2);
  bool after = false, defaultModeRan = false;
  DispatchQueue::main().async([&] { after = true; });
  RunLoop::main().perform([&] { defaultModeRan = true; }, RunLoop::Mode::Default);
  ASSERT_TRUE(kesto::test::runUntil([&] { return after && defaultModeRan; }, 30));
  EXPECT_EQ(left, 2);
  EXPECT_EQ(queued, 0);
}

// Through the harness itself: each test of this suite leaves an observer behind, and whichever
// runs second hears only its own; the suite's observer, registered before either began, hears
// every post of both.
class TestHarnessTearDownAcrossTests : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    NotificationCenter::defaultCenter().addObserver(&suiteHeard, [](const Notification&) { ++suiteHeard; },
                                                    kTearDownProbe);
  }
  static void TearDownTestSuite() { NotificationCenter::defaultCenter().removeObserver(&suiteHeard); }

  // Leaves an observer registered, posts once, and checks who heard.
  static void leaveOneBehindAndPost() {
    leftHeard = 0;
    const int suiteBefore = suiteHeard;
    NotificationCenter::defaultCenter().addObserver(&leftHeard, [](const Notification&) { ++leftHeard; },
                                                    kTearDownProbe);
    NotificationCenter::defaultCenter().postNotificationName(kTearDownProbe);
    EXPECT_EQ(leftHeard, 1);
    EXPECT_EQ(suiteHeard, suiteBefore + 1);
  }

  static inline int suiteHeard = 0;
  static inline int leftHeard = 0;
};

TEST_F(TestHarnessTearDownAcrossTests, First) { leaveOneBehindAndPost(); }
TEST_F(TestHarnessTearDownAcrossTests, Second) { leaveOneBehindAndPost(); }
