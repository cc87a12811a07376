#include "Network/Reachability.h"

#include "Network/NetNetworking.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/Reachability.h"

#include <cstdio>

namespace kesto {

namespace f = sys::reachability;

std::shared_ptr<Reachability> Reachability::reachabilityWithHostname(const std::string& hostName) {
  auto target = sys::Reachability::forHostName(hostName);
  return target ? std::make_shared<Reachability>(std::move(target)) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityWithAddress(const std::string& numericAddress) {
  auto target = sys::Reachability::forAddress(numericAddress);
  return target ? std::make_shared<Reachability>(std::move(target)) : nullptr;
}

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() { return reachabilityWithAddress("0.0.0.0"); }
std::shared_ptr<Reachability> Reachability::reachabilityForLocalWiFi() { return reachabilityWithAddress("169.254.0.0"); }

Reachability::Reachability(std::shared_ptr<sys::Reachability> target)
    : target_(std::move(target)), queue_(fnd::DispatchQueue::create("com.kesto.reachability")) {}

Reachability::~Reachability() {
  if (target_) target_->unschedule();
}

void Reachability::setReachableBlock(Block block) {
  std::atomic_store(&reachableBlock_, block ? std::make_shared<Block>(std::move(block)) : nullptr);
}
void Reachability::setUnreachableBlock(Block block) {
  std::atomic_store(&unreachableBlock_, block ? std::make_shared<Block>(std::move(block)) : nullptr);
}

bool Reachability::startNotifier() {
  if (reachabilityObject_.get() == this) return true;
  // The callback holds the object weakly: a change queued after stopNotifier finds nothing.
  std::weak_ptr<Reachability> weak = weak_from_this();
  target_->setCallback([weak](std::uint32_t flags) {
    if (auto self = weak.lock()) self->reachabilityChanged(flags);
  });
  auto queue = queue_;
  if (!target_->schedule([queue](std::function<void()> work) { queue->async(std::move(work)); })) {
    target_->setCallback(nullptr);
    reachabilityObject_.reset();
    return false;
  }
  reachabilityObject_ = shared_from_this();  // alive while it watches
  return true;
}

void Reachability::stopNotifier() {
  target_->setCallback(nullptr);
  target_->unschedule();
  auto keep = std::move(reachabilityObject_);  // may be the last reference
  reachabilityObject_.reset();
  if (keep) fnd::DispatchQueue::global().async([keep] {});
}

void Reachability::reachabilityChanged(std::uint32_t flags) {
  auto block = isReachableWithFlags(flags) ? std::atomic_load(&reachableBlock_) : std::atomic_load(&unreachableBlock_);
  if (block) (*block)(*this);
  auto self = shared_from_this();
  fnd::DispatchQueue::main().async(
      [self] { fnd::NotificationCenter::defaultCenter().postNotificationName(kReachabilityChangedNotification, self.get()); });
}

bool Reachability::isReachableWithFlags(std::uint32_t flags) {
  if (!(flags & f::Reachable)) return false;
  return !((flags & f::ConnectionRequired) && (flags & f::TransientConnection));
}

std::uint32_t Reachability::reachabilityFlags() const { return target_->getFlags().value_or(0); }

bool Reachability::isReachable() const {
  auto flags = target_->getFlags();
  return flags && isReachableWithFlags(*flags);
}
bool Reachability::isReachableViaWiFi() const { return reachabilityFlags() & f::Reachable; }
bool Reachability::isConnectionRequired() const { return reachabilityFlags() & f::ConnectionRequired; }
bool Reachability::isConnectionOnDemand() const {
  auto flags = reachabilityFlags();
  return (flags & f::ConnectionRequired) && (flags & (f::ConnectionOnTraffic | f::ConnectionOnDemand));
}
bool Reachability::isInterventionRequired() const {
  auto flags = reachabilityFlags();
  return (flags & f::ConnectionRequired) && (flags & f::InterventionRequired);
}

ReachabilityStatus Reachability::currentReachabilityStatus() const {
  return isReachable() && isReachableViaWiFi() ? ReachableViaWiFi : NotReachable;
}

std::string Reachability::currentReachabilityString() const {
  return NetLocalizedString(currentReachabilityStatus() == ReachableViaWiFi ? "WiFi" : "No Connection");
}

std::string Reachability::flagsString(std::uint32_t flags) {
  auto c = [&](std::uint32_t bit, char letter) { return (flags & bit) ? letter : '-'; };
  char out[16];
  std::snprintf(out, sizeof out, "%c%c %c%c%c%c%c%c%c", 'X', c(f::Reachable, 'R'), c(f::ConnectionRequired, 'c'),
                c(f::TransientConnection, 't'), c(f::InterventionRequired, 'i'), c(f::ConnectionOnTraffic, 'C'),
                c(f::ConnectionOnDemand, 'D'), c(f::IsLocalAddress, 'l'), c(f::IsDirect, 'd'));
  return out;
}

std::string Reachability::currentReachabilityFlags() const { return flagsString(reachabilityFlags()); }

std::string Reachability::description() const {
  char buf[128];
  std::snprintf(buf, sizeof buf, "<Reachability: %#x (%s)>",
                static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(this) & 0xffffffffu), currentReachabilityFlags().c_str());
  return buf;
}

}  // namespace kesto
