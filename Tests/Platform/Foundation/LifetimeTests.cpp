#include "Harness/TestSupport.h"
#include "Platform/Foundation/Assert.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/Lifetime.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace kesto::fnd;
using kesto::test::ContractPolicyScope;
using kesto::test::runUntil;

namespace {

// What the application's classes look like: queued work captures a watch and `this`.
struct Owner {
  explicit Owner(int& ran) : ran(ran) {}
  void queue() {
    DispatchQueue::main().async([this, alive = lifetime.watch()] {
      if (alive) ++ran;
    });
  }
  int& ran;
  Lifetime lifetime{Lifetime::Affinity::MainThread};
};

// Runs `check` on a thread of its own and gives what it answered, or nothing when it threw.
std::optional<bool> checkOnAnotherThread(const Lifetime::Watch& watch) {
  std::optional<bool> answer;
  std::thread([&] {
    try {
      answer = static_cast<bool>(watch);
    } catch (const ContractViolation&) {
    }
  }).join();
  return answer;
}

struct MainThreadProbe {
  void enter() { KESTO_ASSERT_MAIN_THREAD(); }
};

}  // namespace

TEST(Lifetime, WatchesFollowTheOwnerToItsEndAndPastIt) {
  Lifetime::Watch none;
  EXPECT_FALSE(none) << "a watch of nothing";

  auto owner = std::make_unique<Lifetime>();
  auto watch = owner->watch();
  auto copy = watch;
  EXPECT_TRUE(watch);
  EXPECT_TRUE(copy);
  EXPECT_TRUE(owner->isAlive());

  owner->end();
  EXPECT_FALSE(watch) << "ended before the owner's members go";
  EXPECT_FALSE(copy);
  EXPECT_FALSE(owner->isAlive());
  EXPECT_FALSE(owner->watch()) << "a watch taken after the end starts ended";

  auto fresh = std::make_unique<Lifetime>();
  auto later = fresh->watch();
  fresh.reset();
  EXPECT_FALSE(later) << "destroyed without an explicit end";
  owner.reset();
  EXPECT_FALSE(watch);
}

TEST(Lifetime, RenewDisownsEarlierWorkOnly) {
  Lifetime lifetime;
  auto before = lifetime.watch();
  lifetime.renew();
  EXPECT_FALSE(before);
  EXPECT_TRUE(lifetime.isAlive());
  auto after = lifetime.watch();
  EXPECT_TRUE(after);
  lifetime.renew();
  EXPECT_FALSE(after);
  EXPECT_TRUE(lifetime.watch());
}

TEST(Lifetime, QueuedWorkRunsOnlyForALiveOwner) {
  int ranKept = 0, ranGone = 0;
  Owner kept(ranKept);
  auto gone = std::make_unique<Owner>(ranGone);
  kept.queue();
  gone->queue();
  gone.reset();
  ASSERT_TRUE(runUntil([&] { return ranKept == 1; }));
  EXPECT_EQ(ranGone, 0);
}

TEST(Lifetime, GuardedWorkPassesItsArgumentsOnAndStopsWithTheOwner) {
  std::vector<std::string> heard;
  auto owner = std::make_unique<Lifetime>();
  std::function<void(int, const std::string&)> answer =
      owner->whileAlive([&](int code, const std::string& text) { heard.push_back(std::to_string(code) + text); });
  // Work that answers something: the answer is dropped, the work still runs.
  std::function<void()> counted = owner->whileAlive([&] { return heard.size(); });
  answer(1, "a");
  counted();
  owner->renew();
  answer(2, "b");
  auto fresh = owner->whileAlive([&](std::string text) { heard.push_back(std::move(text)); });
  fresh("c");
  owner.reset();
  fresh("d");
  EXPECT_EQ(heard, (std::vector<std::string>{"1a", "c"}));
}

TEST(Lifetime, AMainThreadOwnerIsCheckedOnTheMainThreadOnly) {
  Lifetime mainOnly(Lifetime::Affinity::MainThread);
  Lifetime anyThread;
  EXPECT_TRUE(mainOnly.isMainThreadOnly());
  EXPECT_FALSE(anyThread.isMainThreadOnly());

  EXPECT_TRUE(mainOnly.watch());
  EXPECT_EQ(checkOnAnotherThread(anyThread.watch()), std::optional<bool>(true));
  EXPECT_EQ(checkOnAnotherThread(mainOnly.watch()), std::nullopt) << "fails the test";

  // The application logs and goes on with the answer.
  ContractPolicyScope scope(AssertionPolicy::Record);
  EXPECT_EQ(checkOnAnotherThread(mainOnly.watch()), std::optional<bool>(true));
  auto failures = recordedFailures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_EQ(failures[0].name, kInternalInconsistencyException);
  EXPECT_NE(failures[0].reason.find("off the main thread"), std::string::npos);

  // A gone owner is gone wherever it is asked.
  auto watch = mainOnly.watch();
  mainOnly.renew();
  EXPECT_EQ(checkOnAnotherThread(watch), std::optional<bool>(false));
}

TEST(MainThreadContract, NamesTheFunctionCalledFromAnotherThread) {
  ContractPolicyScope scope(AssertionPolicy::Record);
  MainThreadProbe probe;
  probe.enter();
  EXPECT_TRUE(recordedFailures().empty());
  std::thread([&] { probe.enter(); }).join();
  auto failures = recordedFailures();
  ASSERT_EQ(failures.size(), 1u);
  EXPECT_NE(failures[0].reason.find("Called off the main thread: "), std::string::npos);
  EXPECT_NE(failures[0].reason.find("MainThreadProbe::enter"), std::string::npos) << failures[0].reason;
  EXPECT_NE(failures[0].location.find("LifetimeTests.cpp"), std::string::npos);
}
