#include "Platform/Foundation/Timer.h"
#include "Platform/Foundation/Timer_p.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>

using namespace kesto;
using namespace kesto::fnd;

namespace {

constexpr std::int64_t kDay = 24LL * 3600 * 1000;
std::atomic<std::int64_t> fakeNow{0};
std::int64_t fakeClock() { return fakeNow.load(); }

// Timers read a clock the test moves; the event loop looks at it every few milliseconds.
class LongTimer : public ::testing::Test {
 protected:
  void SetUp() override {
    fakeNow = 1000;
    setTimerClockForTesting(&fakeClock, 5);
  }
  void TearDown() override { setTimerClockForTesting(nullptr, 0); }
};

}  // namespace

TEST_F(LongTimer, AThirtyDayTimerFiresWhenThirtyDaysHavePassedAndNotBefore) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(30.0 * 24 * 3600, false, [&](Timer&) { ++fired; });
  test::spin(0.1);
  EXPECT_EQ(fired, 0);
  fakeNow += 30 * kDay - 1;
  test::spin(0.1);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timer->isValid());
  fakeNow += 1;
  ASSERT_TRUE(test::runUntil([&] { return fired == 1; }, 10));
  EXPECT_FALSE(timer->isValid());
}

TEST_F(LongTimer, ALongRepeatingTimerFiresOncePerInterval) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(40.0 * 24 * 3600, true, [&](Timer&) { ++fired; });
  test::spin(0.05);
  fakeNow += 40 * kDay;
  ASSERT_TRUE(test::runUntil([&] { return fired == 1; }, 10));
  test::spin(0.1);
  EXPECT_EQ(fired, 1);
  fakeNow += 40 * kDay;
  ASSERT_TRUE(test::runUntil([&] { return fired == 2; }, 10));
  EXPECT_TRUE(timer->isValid());
  timer->invalidate();
}

TEST_F(LongTimer, FireAfterAcceptsLongDelays) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(1.0, false, [&](Timer&) { ++fired; });
  timer->setFireAfter(50.0 * 24 * 3600);
  test::spin(0.05);
  fakeNow += 2000;
  test::spin(0.1);
  EXPECT_EQ(fired, 0);
  fakeNow += 50 * kDay;
  ASSERT_TRUE(test::runUntil([&] { return fired == 1; }, 10));
}

TEST_F(LongTimer, AbsurdIntervalsNeverFireAndDoNotOverflow) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(1e300, false, [&](Timer&) { ++fired; });
  fakeNow += 1000000 * kDay;
  test::spin(0.1);
  EXPECT_EQ(fired, 0);
  EXPECT_TRUE(timer->isValid());
  timer->invalidate();
}

TEST(Timer, ZeroNegativeAndNaNIntervalsFireOnTheNextPass) {
  for (double interval : {0.0, -3.0, std::nan("")}) {
    SCOPED_TRACE(interval);
    int fired = 0;
    auto timer = Timer::scheduledTimer(interval, false, [&](Timer&) { ++fired; });
    ASSERT_TRUE(test::runUntil([&] { return fired == 1; }, 10));
    EXPECT_FALSE(timer->isValid());
  }
}

TEST(Timer, ARepeatingTimerKeepsItsIntervalAfterARescheduledFiring) {
  int fired = 0;
  auto timer = Timer::scheduledTimer(0.05, true, [&](Timer&) { ++fired; });
  timer->setFireAfter(0);
  ASSERT_TRUE(test::runUntil([&] { return fired == 1; }, 10));
  ASSERT_TRUE(test::runUntil([&] { return fired == 3; }, 10));
  timer->invalidate();
}
