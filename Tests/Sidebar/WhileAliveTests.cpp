// Work queued by a list that may be closed before it runs.
#include "Harness/TestSupport.h"
#include "Platform/Foundation/RunLoop.h"
#include "Sidebar/WhileAlive.h"

#include <gtest/gtest.h>

#include <memory>

namespace kesto::test {
namespace {

TEST(WhileAlive, RunsOnlyWhileTheOwnerLives) {
  int runs = 0;
  auto owner = std::make_unique<fnd::Lifetime>();
  auto work = whileAlive(*owner, [&] { ++runs; });
  auto copy = work;
  work();
  copy();
  EXPECT_EQ(runs, 2);

  // Renewed: what was queued before is disowned, new work runs.
  owner->renew();
  work();
  auto fresh = whileAlive(*owner, [&] { ++runs; });
  fresh();
  EXPECT_EQ(runs, 3);

  // Ended, then gone: nothing runs, and calling is still safe.
  owner->end();
  fresh();
  owner.reset();
  fresh();
  copy();
  EXPECT_EQ(runs, 3);
}

TEST(WhileAlive, DelayedWorkOfAnOwnerDestroyedBeforeTheTimerFiresIsDropped) {
  int runs = 0;
  auto owner = std::make_unique<fnd::Lifetime>(fnd::Lifetime::Affinity::MainThread);
  fnd::RunLoop::main().performAfterDelay(0.05, whileAlive(*owner, [&] { ++runs; }));
  fnd::RunLoop::main().perform(whileAlive(*owner, [&] { ++runs; }));
  owner.reset();
  spin(0.2);
  EXPECT_EQ(runs, 0);

  auto kept = std::make_unique<fnd::Lifetime>(fnd::Lifetime::Affinity::MainThread);
  fnd::RunLoop::main().performAfterDelay(0.05, whileAlive(*kept, [&] { ++runs; }));
  spin(0.2);
  EXPECT_EQ(runs, 1);
}

}  // namespace
}  // namespace kesto::test
