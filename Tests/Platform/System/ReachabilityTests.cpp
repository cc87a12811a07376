#include "Platform/System/Reachability.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace kesto::sys;

namespace {

bool waitFor(const std::function<bool()>& done, double seconds = 5) {
  auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (std::chrono::steady_clock::now() < until) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return done();
}

struct Recorded {
  std::mutex mutex;
  std::vector<std::uint32_t> flags;
  void add(std::uint32_t f) {
    std::lock_guard lock(mutex);
    flags.push_back(f);
  }
  std::vector<std::uint32_t> get() {
    std::lock_guard lock(mutex);
    return flags;
  }
};

}  // namespace

TEST(ReachabilityTest, TargetsMustBeAddressesOrNames) {
  EXPECT_FALSE(Reachability::forAddress("not an address"));
  EXPECT_FALSE(Reachability::forHostName(""));
  auto a = Reachability::forAddress("0.0.0.0");
  ASSERT_TRUE(a);
  EXPECT_FALSE(a->isHostName());
  EXPECT_TRUE(Reachability::forAddress("::1"));
  EXPECT_TRUE(Reachability::forHostName("example.invalid")->isHostName());
}

TEST(ReachabilityTest, UnresolvableNamesAreNotReachable) {
  auto r = Reachability::forHostName("no-such-host.invalid");
  auto flags = r->getFlags();
  ASSERT_TRUE(flags);
  EXPECT_EQ(*flags & reachability::Reachable, 0u);
}

TEST(ReachabilityTest, ChangesFromAFlagSourceReachTheCallbackUntilUnscheduled) {
  std::atomic<std::uint32_t> current{0};
  Reachability::setFlagSourceForTesting([&](const Reachability&) { return std::optional<std::uint32_t>(current.load()); });
  auto r = Reachability::forAddress("0.0.0.0");
  Recorded seen;
  r->setCallback([&](std::uint32_t f) { seen.add(f); });
  ASSERT_TRUE(r->schedule(nullptr));
  EXPECT_TRUE(r->schedule(nullptr)) << "scheduling twice keeps one watcher";
  current = reachability::Reachable;
  Reachability::notifyNetworkChangeForTesting();
  ASSERT_TRUE(waitFor([&] { return !seen.get().empty(); }));
  EXPECT_EQ(seen.get().back(), reachability::Reachable);
  // The same flags again are no change.
  Reachability::notifyNetworkChangeForTesting();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(seen.get().size(), 1u);
  r->unschedule();
  current = 0;
  Reachability::notifyNetworkChangeForTesting();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(seen.get().size(), 1u);
  Reachability::setFlagSourceForTesting(nullptr);
}

TEST(ReachabilityTest, ACallbackThatThrowsDoesNotStopWatching) {
  std::atomic<std::uint32_t> current{0};
  Reachability::setFlagSourceForTesting([&](const Reachability&) { return std::optional<std::uint32_t>(current.load()); });
  auto r = Reachability::forAddress("0.0.0.0");
  Recorded seen;
  r->setCallback([&](std::uint32_t f) {
    seen.add(f);
    if (seen.get().size() == 1) throw std::runtime_error("callback fault");
  });
  ASSERT_TRUE(r->schedule(nullptr));  // no executor: the callback runs on the watching thread
  current = reachability::Reachable;
  Reachability::notifyNetworkChangeForTesting();
  ASSERT_TRUE(waitFor([&] { return seen.get().size() == 1; }));
  current = 0;
  Reachability::notifyNetworkChangeForTesting();
  ASSERT_TRUE(waitFor([&] { return seen.get().size() == 2; }));
  EXPECT_EQ(seen.get().back(), 0u);
  r->unschedule();
  Reachability::setFlagSourceForTesting(nullptr);
}

// Runs inside a fresh network namespace: loopback only, then a dummy interface with a default
// route, then the route removed. Root makes the namespace alone (unshare -n): in a user namespace
// of its own (unshare -rn, as other users make it) root may not enter other users' folders, such
// as a checkout in a home only its owner may enter, where this program lies.
TEST(ReachabilityTest, FollowsRoutesInANetworkNamespace) {
  if (!std::getenv("KESTO_IN_NETNS")) {
    std::string how;
    for (const char* option : {"-n", "-rn"})
      if (std::system(("unshare " + std::string(option) + " true >/dev/null 2>&1").c_str()) == 0) {
        how = option;
        break;
      }
    if (how.empty() || std::system("command -v ip >/dev/null 2>&1") != 0)
      GTEST_SKIP() << "this machine does not allow network namespaces";
    std::vector<std::string> command = {"unshare", how, "env", "KESTO_IN_NETNS=1"};
    for (const auto& word : kesto::test::selfTestArguments("ReachabilityTest.FollowsRoutesInANetworkNamespace"))
      command.push_back(word);
    const auto [status, output] = kesto::test::runProgram(command);
    EXPECT_EQ(status, 0) << output;
    return;
  }
  auto network = Reachability::forAddress("0.0.0.0");
  ASSERT_EQ(network->getFlags(), 0u) << "loopback only reads as not reachable";
  Recorded seen;
  network->setCallback([&](std::uint32_t f) { seen.add(f); });
  ASSERT_TRUE(network->schedule(nullptr));
  // A dummy interface when the kernel offers one, else a veth pair.
  if (std::system("ip link add d0 type dummy 2>/dev/null") != 0) {
    ASSERT_EQ(std::system("ip link add d0 type veth peer name d1 && ip link set d1 up"), 0);
  }
  ASSERT_EQ(std::system("ip addr add 10.9.0.2/24 dev d0 && ip link set d0 up && ip route add default via 10.9.0.1"), 0);
  ASSERT_TRUE(waitFor([&] {
    auto f = seen.get();
    return !f.empty() && (f.back() & reachability::Reachable);
  }));
  EXPECT_TRUE(*network->getFlags() & reachability::Reachable);
  auto neighbour = Reachability::forAddress("10.9.0.7");
  EXPECT_EQ(*neighbour->getFlags(), reachability::Reachable | reachability::IsDirect);
  auto local = Reachability::forAddress("10.9.0.2");
  EXPECT_TRUE(*local->getFlags() & reachability::IsLocalAddress);

  ASSERT_EQ(std::system("ip route del default"), 0);
  ASSERT_TRUE(waitFor([&] { return seen.get().back() == 0u; }));
  network->unschedule();
}
