// Work queued by a list that may be closed before it runs.
#include "Harness/TestSupport.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/Foundation/RunLoop.h"
#include "Sidebar/ListLifetime.h"
#include "Views/SourceList.h"
#include "Views/SourceListItemSource.h"

#include <gtest/gtest.h>

#include <memory>

namespace kesto::test {
namespace {

TEST(WhileAlive, RunsOnlyWhileTheOwnerLives) {
  int runs = 0;
  auto owner = std::make_unique<fnd::Lifetime>();
  auto work = owner->whileAlive([&] { ++runs; });
  auto copy = work;
  work();
  copy();
  EXPECT_EQ(runs, 2);

  // Renewed: what was queued before is disowned, new work runs.
  owner->renew();
  work();
  auto fresh = owner->whileAlive([&] { ++runs; });
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
  fnd::RunLoop::main().performAfterDelay(0.05, owner->whileAlive([&] { ++runs; }));
  fnd::RunLoop::main().perform(owner->whileAlive([&] { ++runs; }));
  owner.reset();
  ASSERT_TRUE(waitPast(0.05));
  EXPECT_EQ(runs, 0);

  auto kept = std::make_unique<fnd::Lifetime>(fnd::Lifetime::Affinity::MainThread);
  fnd::RunLoop::main().performAfterDelay(0.05, kept->whileAlive([&] { ++runs; }));
  EXPECT_TRUE(runUntil([&] { return runs == 1; }, 30));
}

// A list controller in miniature: it observes, queues work and answers its list.
struct Controller : SourceListItemSource {
  std::vector<SourceListItemRef> top;
  fnd::Lifetime lifetime{fnd::Lifetime::Affinity::MainThread};
  int heard = 0, ran = 0;
  const std::vector<SourceListItemRef>& topLevelSourceListItems() const override { return top; }
};

TEST(ListLifetime, AnEndedControllerHearsNothingRunsNothingAndIsNoLongerAsked) {
  constexpr fnd::NotificationName kPing{"ListLifetimeTestPing"};
  SourceList list;
  Controller c;
  list.setDelegate(&c);
  list.setDataSource(&c);
  fnd::NotificationCenter::defaultCenter().addObserver(&c, [&c](const fnd::Notification&) { ++c.heard; }, kPing);
  fnd::RunLoop::main().performAfterDelay(0.05, [&c] { ++c.ran; }, &c);
  fnd::RunLoop::main().perform(c.lifetime.whileAlive([&c] { ++c.ran; }));

  endListController(&c, c.lifetime, &list);
  fnd::NotificationCenter::defaultCenter().postNotificationName(kPing);
  ASSERT_TRUE(waitPast(0.05));
  EXPECT_EQ(c.heard, 0);
  EXPECT_EQ(c.ran, 0);
  EXPECT_FALSE(c.lifetime.isAlive());
  EXPECT_EQ(list.sourceListDelegate(), nullptr);
  EXPECT_EQ(list.sourceListDataSource(), nullptr);

  // A controller whose list was never built ends as well.
  Controller listless;
  endListController(&listless, listless.lifetime, nullptr);
  EXPECT_FALSE(listless.lifetime.isAlive());
}

}  // namespace
}  // namespace kesto::test
