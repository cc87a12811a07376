#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace kesto::sys {

// Reachability flags, with the values callers test.
namespace reachability {
inline constexpr std::uint32_t TransientConnection = 1u << 0;
inline constexpr std::uint32_t Reachable = 1u << 1;
inline constexpr std::uint32_t ConnectionRequired = 1u << 2;
inline constexpr std::uint32_t ConnectionOnTraffic = 1u << 3;
inline constexpr std::uint32_t InterventionRequired = 1u << 4;
inline constexpr std::uint32_t ConnectionOnDemand = 1u << 5;
inline constexpr std::uint32_t IsLocalAddress = 1u << 16;
inline constexpr std::uint32_t IsDirect = 1u << 17;
}  // namespace reachability

// Whether an address or a host name can be reached, from the kernel's routing table (rtnetlink):
// reachable when the route leaves through an interface that is up and not loopback; local and
// direct (no gateway) routes add their flags. 0.0.0.0 stands for "the network": reachable when a
// default route exists. A host name is resolved and judged by its first address; a name that
// does not resolve is not reachable. Monitoring watches link, address and route changes without
// polling.
class Reachability : public std::enable_shared_from_this<Reachability> {
 public:
  using Callback = std::function<void(std::uint32_t flags)>;
  using Executor = std::function<void(std::function<void()>)>;

  // A numeric IPv4 or IPv6 address; null when the text is no address.
  static std::shared_ptr<Reachability> forAddress(const std::string& numericAddress);
  static std::shared_ptr<Reachability> forHostName(const std::string& hostName);
  ~Reachability();

  bool isHostName() const { return hostName_; }
  const std::string& target() const { return target_; }

  // The present flags; absent when they cannot be read. May block on name resolution.
  std::optional<std::uint32_t> getFlags() const;

  // The callback runs through the executor given to schedule() when the flags change.
  void setCallback(Callback callback);
  // Starts watching; answers false when watching cannot start. Scheduling again replaces the
  // executor. Nothing is delivered after unschedule() returns.
  bool schedule(Executor executor);
  void unschedule();
  bool isScheduled() const;

  // For tests: a source of flags used instead of the kernel, and a way to announce a change.
  using FlagSource = std::function<std::optional<std::uint32_t>(const Reachability& target)>;
  static void setFlagSourceForTesting(FlagSource source);
  static void notifyNetworkChangeForTesting();

 private:
  Reachability(std::string target, bool hostName);
  struct Monitor;
  friend struct Monitor;
  std::string target_;
  bool hostName_;
  std::shared_ptr<Monitor> monitor_;
};

}  // namespace kesto::sys
