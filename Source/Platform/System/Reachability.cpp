#include "Platform/System/Reachability.h"

#include "Platform/Foundation/Log.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kesto::sys {

namespace {

// The flags a test gives in place of the system's.
struct TestFlags {
  std::mutex mutex;
  Reachability::FlagSource source;
};
TestFlags& testFlags() {
  static TestFlags t;
  return t;
}

struct Address {
  int family = AF_UNSPEC;
  unsigned char bytes[16] = {};
  std::size_t length() const { return family == AF_INET ? 4 : 16; }
  bool isAny() const {
    return std::all_of(bytes, bytes + length(), [](unsigned char b) { return b == 0; });
  }
};

std::optional<Address> parseAddress(const std::string& text) {
  Address a;
  if (::inet_pton(AF_INET, text.c_str(), a.bytes) == 1) {
    a.family = AF_INET;
    return a;
  }
  if (::inet_pton(AF_INET6, text.c_str(), a.bytes) == 1) {
    a.family = AF_INET6;
    return a;
  }
  return std::nullopt;
}

// Up and not loopback.
bool interfaceCarriesTraffic(int index) {
  char name[IF_NAMESIZE] = {};
  if (!::if_indextoname(static_cast<unsigned>(index), name)) return false;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ifreq req{};
  std::memcpy(req.ifr_name, name, std::min<std::size_t>(std::strlen(name), IF_NAMESIZE - 1));
  bool ok = ::ioctl(fd, SIOCGIFFLAGS, &req) == 0 && (req.ifr_flags & IFF_UP) && !(req.ifr_flags & IFF_LOOPBACK);
  ::close(fd);
  return ok;
}

struct RouteInfo {
  int type = -1;
  int oif = -1;
  bool gateway = false;
  int dstLen = -1;
  int table = -1;
};

void parseRoute(nlmsghdr* h, RouteInfo& info) {
  auto* rt = static_cast<rtmsg*>(NLMSG_DATA(h));
  info.type = rt->rtm_type;
  info.dstLen = rt->rtm_dst_len;
  info.table = rt->rtm_table;
  int len = static_cast<int>(RTM_PAYLOAD(h));
  for (rtattr* a = RTM_RTA(rt); RTA_OK(a, len); a = RTA_NEXT(a, len)) {
    if (a->rta_type == RTA_OIF) info.oif = *static_cast<int*>(RTA_DATA(a));
    if (a->rta_type == RTA_GATEWAY) info.gateway = true;
    if (a->rta_type == RTA_TABLE) info.table = static_cast<int>(*static_cast<std::uint32_t*>(RTA_DATA(a)));
  }
}

// Sends one request and hands every answer message to `each`; false on a socket failure.
template <typename F>
bool netlinkRequest(void* request, std::size_t length, F&& each) {
  int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (fd < 0) return false;
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  bool ok = ::sendto(fd, request, length, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) >= 0;
  std::vector<char> buffer(32768);
  bool done = !ok;
  while (!done) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 2000) <= 0) {
      ok = false;
      break;
    }
    ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n <= 0) {
      ok = false;
      break;
    }
    int len = static_cast<int>(n);
    for (auto* h = reinterpret_cast<nlmsghdr*>(buffer.data()); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
      if (h->nlmsg_type == NLMSG_DONE) {
        done = true;
        break;
      }
      if (h->nlmsg_type == NLMSG_ERROR) {
        auto* err = static_cast<nlmsgerr*>(NLMSG_DATA(h));
        if (err->error != 0) each(nullptr, -err->error);
        done = true;
        break;
      }
      each(h, 0);
      if (!(h->nlmsg_flags & NLM_F_MULTI)) done = true;
    }
  }
  ::close(fd);
  return ok;
}

std::optional<std::uint32_t> flagsForDefaultRoute() {
  std::uint32_t flags = 0;
  bool ok = true;
  for (int family : {AF_INET, AF_INET6}) {
    struct {
      nlmsghdr h;
      rtmsg r;
    } req{};
    req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    req.h.nlmsg_type = RTM_GETROUTE;
    req.h.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    req.r.rtm_family = static_cast<unsigned char>(family);
    ok &= netlinkRequest(&req, req.h.nlmsg_len, [&](nlmsghdr* h, int) {
      if (!h || h->nlmsg_type != RTM_NEWROUTE) return;
      RouteInfo info;
      parseRoute(h, info);
      if (info.dstLen == 0 && info.type == RTN_UNICAST && info.table == RT_TABLE_MAIN && interfaceCarriesTraffic(info.oif))
        flags |= reachability::Reachable;
    });
  }
  if (!ok && flags == 0) return std::nullopt;
  return flags;
}

std::optional<std::uint32_t> flagsForAddress(const Address& a) {
  if (a.isAny()) return flagsForDefaultRoute();
  struct {
    nlmsghdr h;
    rtmsg r;
    char attrs[64];
  } req{};
  req.h.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
  req.h.nlmsg_type = RTM_GETROUTE;
  req.h.nlmsg_flags = NLM_F_REQUEST;
  req.r.rtm_family = static_cast<unsigned char>(a.family);
  req.r.rtm_dst_len = static_cast<unsigned char>(a.length() * 8);
  auto* attr = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&req) + NLMSG_ALIGN(req.h.nlmsg_len));
  attr->rta_type = RTA_DST;
  attr->rta_len = static_cast<unsigned short>(RTA_LENGTH(a.length()));
  std::memcpy(RTA_DATA(attr), a.bytes, a.length());
  req.h.nlmsg_len = NLMSG_ALIGN(req.h.nlmsg_len) + RTA_ALIGN(attr->rta_len);
  std::uint32_t flags = 0;
  bool unreachable = false;
  bool ok = netlinkRequest(&req, req.h.nlmsg_len, [&](nlmsghdr* h, int err) {
    if (!h) {
      unreachable = err == ENETUNREACH || err == EHOSTUNREACH;
      return;
    }
    if (h->nlmsg_type != RTM_NEWROUTE) return;
    RouteInfo info;
    parseRoute(h, info);
    if (info.type == RTN_LOCAL) {
      flags = reachability::Reachable | reachability::IsLocalAddress | reachability::IsDirect;
      return;
    }
    if (info.type != RTN_UNICAST || !interfaceCarriesTraffic(info.oif)) return;
    flags = reachability::Reachable;
    if (!info.gateway) flags |= reachability::IsDirect;
  });
  if (!ok && !unreachable) return std::nullopt;
  return flags;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct Reachability::Monitor {
  std::mutex mutex;
  Callback callback;
  Executor executor;
  std::weak_ptr<Reachability> owner;
  std::thread thread;
  int wakeFd = -1;
  std::atomic<bool> stopping{false};
  std::atomic<std::uint64_t> generation{0};
  std::optional<std::uint32_t> last;

  static std::mutex& registryMutex() {
    static std::mutex m;
    return m;
  }
  static std::vector<std::weak_ptr<Monitor>>& registry() {
    static std::vector<std::weak_ptr<Monitor>> r;
    return r;
  }

  void run(int netlinkFd) {
    std::vector<char> buffer(16384);
    while (!stopping.load()) {
      pollfd fds[2] = {{wakeFd, POLLIN, 0}, {netlinkFd, POLLIN, 0}};
      int nfds = netlinkFd >= 0 ? 2 : 1;
      if (::poll(fds, static_cast<nfds_t>(nfds), -1) < 0) {
        if (errno == EINTR) continue;
        break;
      }
      if (stopping.load()) break;
      if (fds[0].revents & POLLIN) {
        std::uint64_t v;
        (void)!::read(wakeFd, &v, sizeof v);
      }
      if (nfds == 2 && (fds[1].revents & POLLIN)) {
        while (::recv(netlinkFd, buffer.data(), buffer.size(), MSG_DONTWAIT) > 0) {
        }
      }
      // A callback run here, or an executor, that throws must not end the process through this
      // thread: the change is logged as lost and watching goes on.
      fnd::runLoggingExceptions([this] { check(); }, "Reachability: a change could not be delivered");
    }
    if (netlinkFd >= 0) ::close(netlinkFd);
  }

  void check() {
    auto self = owner.lock();
    if (!self) return;
    auto flags = self->getFlags();
    if (!flags) return;  // unreadable flags report nothing
    Callback cb;
    Executor ex;
    std::uint64_t gen;
    {
      std::lock_guard lock(mutex);
      if (last == flags) return;
      last = flags;
      cb = callback;
      ex = executor;
      gen = generation.load();
    }
    if (!cb) return;
    std::weak_ptr<Reachability> weak = self;
    auto deliver = [weak, cb, gen, flags, this_ = std::weak_ptr<Monitor>(self->monitor_)] {
      auto m = this_.lock();
      // Nothing arrives once watching stopped or the object is gone.
      if (!m || !weak.lock() || m->stopping.load() || m->generation.load() != gen) return;
      cb(*flags);
    };
    if (ex)
      ex(deliver);
    else
      deliver();
  }
};

Reachability::Reachability(std::string target, bool hostName) : target_(std::move(target)), hostName_(hostName) {}

Reachability::~Reachability() { unschedule(); }

std::shared_ptr<Reachability> Reachability::forAddress(const std::string& numericAddress) {
  if (!parseAddress(numericAddress)) return nullptr;
  return std::shared_ptr<Reachability>(new Reachability(numericAddress, false));
}

std::shared_ptr<Reachability> Reachability::forHostName(const std::string& hostName) {
  if (hostName.empty()) return nullptr;
  return std::shared_ptr<Reachability>(new Reachability(hostName, true));
}

std::optional<std::uint32_t> Reachability::getFlags() const {
  {
    std::lock_guard lock(testFlags().mutex);
    if (testFlags().source) return testFlags().source(*this);
  }
  if (!hostName_) return flagsForAddress(*parseAddress(target_));
  if (auto a = parseAddress(target_)) return flagsForAddress(*a);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  if (::getaddrinfo(target_.c_str(), nullptr, &hints, &result) != 0 || !result) return 0u;
  Address a;
  a.family = result->ai_family;
  if (a.family == AF_INET)
    std::memcpy(a.bytes, &reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr, 4);
  else
    std::memcpy(a.bytes, &reinterpret_cast<sockaddr_in6*>(result->ai_addr)->sin6_addr, 16);
  ::freeaddrinfo(result);
  return flagsForAddress(a);
}

void Reachability::setCallback(Callback callback) {
  if (!monitor_) monitor_ = std::make_shared<Monitor>();
  std::lock_guard lock(monitor_->mutex);
  monitor_->callback = std::move(callback);
}

bool Reachability::schedule(Executor executor) {
  if (!monitor_) monitor_ = std::make_shared<Monitor>();
  if (monitor_->thread.joinable()) {
    std::lock_guard lock(monitor_->mutex);
    monitor_->executor = std::move(executor);
    return true;
  }
  int nl = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
  if (nl >= 0) {
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR | RTMGRP_IPV4_ROUTE | RTMGRP_IPV6_ROUTE;
    if (::bind(nl, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
      ::close(nl);
      nl = -1;
    }
  }
  bool testing;
  {
    std::lock_guard lock(testFlags().mutex);
    testing = static_cast<bool>(testFlags().source);
  }
  if (nl < 0 && !testing) return false;
  int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wake < 0) {
    if (nl >= 0) ::close(nl);
    return false;
  }
  auto m = monitor_;
  {
    std::lock_guard lock(m->mutex);
    m->executor = std::move(executor);
    m->owner = weak_from_this();
    m->wakeFd = wake;
    m->stopping = false;
    m->last.reset();
  }
  m->generation.fetch_add(1);
  {
    std::lock_guard lock(Monitor::registryMutex());
    Monitor::registry().push_back(m);
  }
  m->thread = std::thread([m, nl] { m->run(nl); });
  return true;
}

void Reachability::unschedule() {
  auto m = monitor_;
  if (!m || !m->thread.joinable()) return;
  m->stopping = true;
  m->generation.fetch_add(1);
  std::uint64_t one = 1;
  (void)!::write(m->wakeFd, &one, sizeof one);
  if (m->thread.get_id() == std::this_thread::get_id())
    m->thread.detach();
  else
    m->thread.join();
  ::close(m->wakeFd);
  m->wakeFd = -1;
  std::lock_guard lock(Monitor::registryMutex());
  auto& r = Monitor::registry();
  r.erase(std::remove_if(r.begin(), r.end(), [&](const std::weak_ptr<Monitor>& w) { return w.expired() || w.lock() == m; }),
          r.end());
}

bool Reachability::isScheduled() const { return monitor_ && monitor_->thread.joinable(); }

void Reachability::setFlagSourceForTesting(FlagSource source) {
  std::lock_guard lock(testFlags().mutex);
  testFlags().source = std::move(source);
}

void Reachability::notifyNetworkChangeForTesting() {
  std::lock_guard lock(Monitor::registryMutex());
  for (auto& w : Monitor::registry()) {
    if (auto m = w.lock(); m && m->wakeFd >= 0) {
      std::uint64_t one = 1;
      (void)!::write(m->wakeFd, &one, sizeof one);
    }
  }
}

}  // namespace kesto::sys
