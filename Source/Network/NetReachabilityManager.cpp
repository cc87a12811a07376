#include "Network/NetReachabilityManager.h"

#include "Network/NetNetworking.h"
#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/NotificationCenter.h"
#include "Platform/System/Reachability.h"

namespace kesto {

NetReachabilityStatus NetReachabilityStatusFromFlags(std::uint32_t flags) {
  using namespace sys::reachability;
  bool reachable = flags & Reachable;
  bool needsConnection = flags & ConnectionRequired;
  bool automatic = (flags & (ConnectionOnDemand | ConnectionOnTraffic)) != 0;
  bool withoutUser = automatic && !(flags & InterventionRequired);
  if (!reachable) return NetReachabilityStatusNotReachable;
  if (!needsConnection || withoutUser) return NetReachabilityStatusReachableViaWiFi;
  return NetReachabilityStatusNotReachable;
}

std::string NetReachabilityStatusDescription(std::int64_t status) {
  switch (status) {
    case NetReachabilityStatusNotReachable: return NetLocalizedString("Not Reachable");
    case NetReachabilityStatusReachableViaWWAN: return NetLocalizedString("Reachable via WWAN");
    case NetReachabilityStatusReachableViaWiFi: return NetLocalizedString("Reachable via WiFi");
    default: return NetLocalizedString("Unknown");
  }
}

NetReachabilityManager& NetReachabilityManager::sharedManager() {
  static auto* shared = new std::shared_ptr<NetReachabilityManager>(managerForAddress("0.0.0.0"));
  return **shared;
}

std::shared_ptr<NetReachabilityManager> NetReachabilityManager::managerForDomain(const std::string& domain) {
  return std::make_shared<NetReachabilityManager>(sys::Reachability::forHostName(domain), 3);
}

std::shared_ptr<NetReachabilityManager> NetReachabilityManager::managerForAddress(const std::string& numericAddress) {
  return std::make_shared<NetReachabilityManager>(sys::Reachability::forAddress(numericAddress), 1);
}

NetReachabilityManager::NetReachabilityManager(std::shared_ptr<sys::Reachability> reachability, std::uint64_t association)
    : reachability_(std::move(reachability)), association_(association) {}

NetReachabilityManager::~NetReachabilityManager() {
  if (reachability_) reachability_->unschedule();
}

NetReachabilityStatus NetReachabilityManager::networkReachabilityStatus() const {
  std::lock_guard lock(mutex_);
  return status_;
}

bool NetReachabilityManager::isReachable() const {
  auto s = networkReachabilityStatus();
  return s == NetReachabilityStatusReachableViaWWAN || s == NetReachabilityStatusReachableViaWiFi;
}

std::string NetReachabilityManager::localizedNetworkReachabilityStatusString() const {
  return NetReachabilityStatusDescription(networkReachabilityStatus());
}

void NetReachabilityManager::setReachabilityStatusChangeBlock(StatusBlock block) {
  std::lock_guard lock(mutex_);
  block_ = std::move(block);
}

void NetReachabilityManager::addChangeObserver(ChangeObserver observer) {
  std::lock_guard lock(mutex_);
  observers_.push_back(std::move(observer));
}

void NetReachabilityManager::setStatus(NetReachabilityStatus status) {
  StatusBlock block;
  std::vector<ChangeObserver> observers;
  {
    std::lock_guard lock(mutex_);
    status_ = status;
    block = block_;
    observers = observers_;
  }
  for (const auto& o : observers)
    for (const char* key : {"networkReachabilityStatus", "reachable", "reachableViaWWAN", "reachableViaWiFi"}) o(key);
  if (block) block(status);
}

namespace {
void postChange(NetReachabilityStatus status) {
  fnd::NotificationCenter::defaultCenter().postNotificationName(
      kNetReachabilityDidChangeNotification, nullptr,
      {{kNetReachabilityNotificationStatusItem, fnd::Value(static_cast<std::int64_t>(status))}});
}
}  // namespace

void NetReachabilityManager::startMonitoring() {
  stopMonitoring();
  if (!reachability_) return;
  std::weak_ptr<NetReachabilityManager> weak = weak_from_this();
  // The change block holds the manager weakly: a late report for a manager that is gone does
  // nothing.
  auto change = [weak](NetReachabilityStatus status) {
    if (auto self = weak.lock()) self->setStatus(status);
  };
  reachability_->setCallback([change](std::uint32_t flags) {
    auto status = NetReachabilityStatusFromFlags(flags);
    change(status);
    fnd::DispatchQueue::main().async([status] { postChange(status); });
  });
  reachability_->schedule([](std::function<void()> work) { fnd::DispatchQueue::main().async(std::move(work)); });
  if (association_ != 3) {
    auto reachability = reachability_;
    fnd::DispatchQueue::global(fnd::DispatchQueue::Priority::Background).async([reachability, change] {
      auto flags = reachability->getFlags();
      if (!flags) return;  // unreadable: nothing is reported and the status stays unknown
      auto status = NetReachabilityStatusFromFlags(*flags);
      fnd::DispatchQueue::main().async([change, status] {
        change(status);
        postChange(status);
      });
    });
  }
}

void NetReachabilityManager::stopMonitoring() {
  if (reachability_) reachability_->unschedule();
}

}  // namespace kesto
