#include "Network/NetNetworking.h"
#include "Network/NetReachabilityManager.h"
#include "Network/Reachability.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/Reachability.h"

#include "Harness/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace kesto;
namespace flags = kesto::sys::reachability;

TEST(ReachabilityManagerTest, StatusFromFlags) {
  EXPECT_EQ(NetReachabilityStatusFromFlags(0), NetReachabilityStatusNotReachable);
  EXPECT_EQ(NetReachabilityStatusFromFlags(flags::Reachable), NetReachabilityStatusReachableViaWiFi);
  EXPECT_EQ(NetReachabilityStatusFromFlags(flags::Reachable | flags::ConnectionRequired), NetReachabilityStatusNotReachable);
  EXPECT_EQ(NetReachabilityStatusFromFlags(flags::Reachable | flags::ConnectionRequired | flags::ConnectionOnDemand),
            NetReachabilityStatusReachableViaWiFi);
  EXPECT_EQ(NetReachabilityStatusFromFlags(flags::Reachable | flags::ConnectionRequired | flags::ConnectionOnDemand |
                                           flags::InterventionRequired),
            NetReachabilityStatusNotReachable);
  EXPECT_EQ(NetReachabilityStatusDescription(7), "Unknown");
  EXPECT_EQ(NetReachabilityStatusDescription(0), "Not Reachable");
}

TEST(ReachabilityManagerTest, UnstartedManagerIsUnknown) {
  auto& shared = NetReachabilityManager::sharedManager();
  EXPECT_EQ(&shared, &NetReachabilityManager::sharedManager());
  EXPECT_EQ(shared.networkReachabilityStatus(), NetReachabilityStatusUnknown);
  EXPECT_FALSE(shared.isReachable());
  EXPECT_EQ(shared.localizedNetworkReachabilityStatusString(), "Unknown");
  EXPECT_EQ(shared.networkReachabilityAssociation(), 1u);
  EXPECT_EQ(NetReachabilityManager::managerForDomain("example.org")->networkReachabilityAssociation(), 3u);
}

TEST(ReachabilityManagerTest, StartingReportsThePresentStatusThenChanges) {
  std::atomic<std::uint32_t> current{flags::Reachable};
  sys::Reachability::setFlagSourceForTesting([&](const sys::Reachability&) { return std::optional<std::uint32_t>(current.load()); });
  auto manager = NetReachabilityManager::managerForAddress("0.0.0.0");
  std::vector<NetReachabilityStatus> blocks;
  std::vector<std::int64_t> posted;
  std::vector<std::string> keys;
  manager->setReachabilityStatusChangeBlock([&](NetReachabilityStatus s) { blocks.push_back(s); });
  manager->addChangeObserver([&](std::string_view key) { keys.emplace_back(key); });
  fnd::ScopedObserver observer;
  observer.observe(kNetReachabilityDidChangeNotification, [&](const fnd::Notification& n) {
    posted.push_back(n.userInfo.at(kNetReachabilityNotificationStatusItem).intValue());
  });
  manager->startMonitoring();
  ASSERT_TRUE(test::runUntil([&] { return !posted.empty(); }, 5));
  ASSERT_FALSE(blocks.empty());
  EXPECT_EQ(blocks.front(), NetReachabilityStatusReachableViaWiFi);
  EXPECT_TRUE(manager->isReachableViaWiFi());
  EXPECT_NE(std::find(keys.begin(), keys.end(), "reachable"), keys.end());

  current = 0;
  sys::Reachability::notifyNetworkChangeForTesting();
  ASSERT_TRUE(test::runUntil([&] { return !blocks.empty() && blocks.back() == NetReachabilityStatusNotReachable; }, 5));
  ASSERT_TRUE(test::runUntil([&] { return posted.back() == 0; }, 5));
  EXPECT_FALSE(manager->isReachable());

  manager->stopMonitoring();
  std::size_t count = blocks.size();
  current = flags::Reachable;
  sys::Reachability::notifyNetworkChangeForTesting();
  test::spin(0.2);
  EXPECT_EQ(blocks.size(), count);
  sys::Reachability::setFlagSourceForTesting(nullptr);
}

TEST(ReachabilityManagerTest, UnreadableFlagsReportNothing) {
  sys::Reachability::setFlagSourceForTesting([](const sys::Reachability&) { return std::optional<std::uint32_t>(); });
  auto manager = NetReachabilityManager::managerForAddress("0.0.0.0");
  int calls = 0;
  manager->setReachabilityStatusChangeBlock([&](NetReachabilityStatus) { ++calls; });
  manager->startMonitoring();
  test::spin(0.3);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(manager->networkReachabilityStatus(), NetReachabilityStatusUnknown);
  manager->stopMonitoring();
  sys::Reachability::setFlagSourceForTesting(nullptr);
}

// ---------------------------------------------------------------------------------------------

TEST(ReachabilityWrapperTest, FlagRulesAndTexts) {
  EXPECT_FALSE(Reachability::isReachableWithFlags(flags::Reachable | flags::ConnectionRequired | flags::TransientConnection));
  EXPECT_TRUE(Reachability::isReachableWithFlags(flags::Reachable | flags::ConnectionRequired));
  EXPECT_FALSE(Reachability::isReachableWithFlags(flags::TransientConnection));
  EXPECT_EQ(Reachability::flagsString(flags::Reachable), "XR -------");
  EXPECT_EQ(Reachability::flagsString(flags::Reachable | flags::IsLocalAddress | flags::IsDirect), "XR -----ld");
  EXPECT_FALSE(Reachability::reachabilityWithAddress("nonsense"));
}

TEST(ReachabilityWrapperTest, BlocksRunOnTheQueueAndTheNotificationOnMain) {
  std::atomic<std::uint32_t> current{flags::Reachable};
  sys::Reachability::setFlagSourceForTesting([&](const sys::Reachability&) { return std::optional<std::uint32_t>(current.load()); });
  auto r = Reachability::reachabilityForInternetConnection();
  EXPECT_EQ(r->currentReachabilityStatus(), ReachableViaWiFi);
  EXPECT_EQ(r->currentReachabilityString(), "WiFi");
  EXPECT_FALSE(r->isReachableViaWWAN());
  std::atomic<int> reachable{0}, unreachable{0};
  int posted = 0;
  r->setUnreachableBlock([&](Reachability&) { ++unreachable; });
  fnd::ScopedObserver observer;
  observer.observe(kReachabilityChangedNotification, [&](const fnd::Notification&) { ++posted; });
  ASSERT_TRUE(r->startNotifier());
  EXPECT_TRUE(r->startNotifier());
  sys::Reachability::notifyNetworkChangeForTesting();
  // Reachable with no reachable block: only the notification.
  ASSERT_TRUE(test::runUntil([&] { return posted == 1; }, 5));
  r->setReachableBlock([&](Reachability&) { ++reachable; });
  current = 0;
  sys::Reachability::notifyNetworkChangeForTesting();
  ASSERT_TRUE(test::runUntil([&] { return posted == 2; }, 5));
  EXPECT_EQ(unreachable.load(), 1);
  EXPECT_EQ(reachable.load(), 0);
  EXPECT_EQ(r->currentReachabilityString(), "No Connection");
  r->stopNotifier();
  current = flags::Reachable;
  sys::Reachability::notifyNetworkChangeForTesting();
  test::spin(0.2);
  EXPECT_EQ(posted, 2);
  sys::Reachability::setFlagSourceForTesting(nullptr);
}
