#pragma once

#include "Network/NetworkingNotifications.h"
#include "Platform/Foundation/FoundationForward.h"
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace kesto {

namespace sys {
class Reachability;
}


enum ReachabilityStatus : std::int64_t { NotReachable = 0, ReachableViaWiFi = 2, ReachableViaWWAN = 1 };

// Watches one host name or address: blocks on a serial queue, a notification on the main queue,
// and direct questions about the present flags.
class Reachability : public std::enable_shared_from_this<Reachability> {
 public:
  using Block = std::function<void(Reachability&)>;

  static std::shared_ptr<Reachability> reachabilityWithHostname(const std::string& hostName);
  static std::shared_ptr<Reachability> reachabilityWithHostName(const std::string& hostName) {
    return reachabilityWithHostname(hostName);
  }
  // A numeric IPv4 or IPv6 address.
  static std::shared_ptr<Reachability> reachabilityWithAddress(const std::string& numericAddress);
  static std::shared_ptr<Reachability> reachabilityForInternetConnection();
  static std::shared_ptr<Reachability> reachabilityForLocalWiFi();

  explicit Reachability(std::shared_ptr<sys::Reachability> target);
  ~Reachability();

  bool reachableOnWWAN = true;
  void setReachableBlock(Block block);
  void setUnreachableBlock(Block block);

  // True when watching (also when already watching).
  bool startNotifier();
  void stopNotifier();

  static bool isReachableWithFlags(std::uint32_t flags);
  bool isReachable() const;
  bool isReachableViaWWAN() const { return false; }
  bool isReachableViaWiFi() const;
  bool isConnectionRequired() const;
  bool connectionRequired() const { return isConnectionRequired(); }
  bool isConnectionOnDemand() const;
  bool isInterventionRequired() const;
  ReachabilityStatus currentReachabilityStatus() const;
  // 0 when the flags cannot be read.
  std::uint32_t reachabilityFlags() const;
  std::string currentReachabilityString() const;
  // "XR -------" style: one letter per flag, "-" when clear.
  std::string currentReachabilityFlags() const;
  static std::string flagsString(std::uint32_t flags);
  std::string description() const;

 private:
  void reachabilityChanged(std::uint32_t flags);

  std::shared_ptr<sys::Reachability> target_;
  std::shared_ptr<fnd::DispatchQueue> queue_;
  std::shared_ptr<Reachability> reachabilityObject_;
  std::shared_ptr<Block> reachableBlock_;
  std::shared_ptr<Block> unreachableBlock_;
};

}  // namespace kesto
