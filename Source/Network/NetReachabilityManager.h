#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace kesto {

namespace sys {
class Reachability;
}

enum NetReachabilityStatus : std::int64_t {
  NetReachabilityStatusUnknown = -1,
  NetReachabilityStatusNotReachable = 0,
  NetReachabilityStatusReachableViaWWAN = 1,
  NetReachabilityStatusReachableViaWiFi = 2,
};

NetReachabilityStatus NetReachabilityStatusFromFlags(std::uint32_t flags);
// "Unknown", "Not Reachable", "Reachable via WWAN", "Reachable via WiFi".
std::string NetReachabilityStatusDescription(std::int64_t status);

// Watches whether an address or a host can be reached and reports each change to a status
// block and as a notification, on the main queue.
class NetReachabilityManager : public std::enable_shared_from_this<NetReachabilityManager> {
 public:
  using StatusBlock = std::function<void(NetReachabilityStatus status)>;
  // Told of "networkReachabilityStatus" and the keys derived from it ("reachable",
  // "reachableViaWWAN", "reachableViaWiFi") after each change, on the main thread.
  using ChangeObserver = std::function<void(std::string_view key)>;

  // Watches 0.0.0.0 (the network in general); made once, never started by the system.
  static NetReachabilityManager& sharedManager();
  static std::shared_ptr<NetReachabilityManager> managerForDomain(const std::string& domain);
  static std::shared_ptr<NetReachabilityManager> managerForAddress(const std::string& numericAddress);
  explicit NetReachabilityManager(std::shared_ptr<sys::Reachability> reachability, std::uint64_t association);
  ~NetReachabilityManager();

  NetReachabilityStatus networkReachabilityStatus() const;
  // 1 for an address, 3 for a host name.
  std::uint64_t networkReachabilityAssociation() const { return association_; }
  bool isReachable() const;
  bool isReachableViaWWAN() const { return networkReachabilityStatus() == NetReachabilityStatusReachableViaWWAN; }
  bool isReachableViaWiFi() const { return networkReachabilityStatus() == NetReachabilityStatusReachableViaWiFi; }
  std::string localizedNetworkReachabilityStatusString() const;

  void setReachabilityStatusChangeBlock(StatusBlock block);
  void addChangeObserver(ChangeObserver observer);

  void startMonitoring();
  void stopMonitoring();

 private:
  void setStatus(NetReachabilityStatus status);

  std::shared_ptr<sys::Reachability> reachability_;
  std::uint64_t association_;
  mutable std::mutex mutex_;
  NetReachabilityStatus status_ = NetReachabilityStatusUnknown;
  StatusBlock block_;
  std::vector<ChangeObserver> observers_;
};

}  // namespace kesto
