#include "Platform/Foundation/NotificationCenter.h"

#include "Platform/Foundation/DispatchQueue.h"
#include "Platform/Foundation/RunLoop_p.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace kesto::fnd {

namespace {

struct Registration {
  const void* observer = nullptr;
  std::uint64_t token = 0;
  NotificationName name;  // empty: every name
  const void* object = nullptr;
  DispatchQueue* queue = nullptr;
  NotificationCenter::Handler handler;
  std::atomic<bool> alive{true};

  bool matches(const Notification& n) const {
    return (name.empty() || name == n.name) && (object == nullptr || object == n.object);
  }
};

}  // namespace

struct NotificationCenter::Impl {
  std::mutex mutex;
  std::vector<std::shared_ptr<Registration>> registrations;
  std::uint64_t nextToken = 1;

  // Files a registration under a new token. One made for a token has no observer and stands as
  // its own.
  std::uint64_t add(const void* observer, NotificationName name, const void* object, DispatchQueue* queue,
                    Handler handler) {
    auto r = std::make_shared<Registration>();
    r->name = name;
    r->object = object;
    r->queue = queue;
    r->handler = std::move(handler);
    r->observer = observer ? observer : r.get();
    std::lock_guard lock(mutex);
    r->token = nextToken++;
    registrations.push_back(std::move(r));
    return registrations.back()->token;
  }

  template <typename Pred>
  void removeIf(Pred pred) {
    std::lock_guard lock(mutex);
    auto it = registrations.begin();
    while (it != registrations.end()) {
      if (pred(**it)) {
        // A post in progress holds its own reference; the flag keeps it from calling.
        (*it)->alive = false;
        it = registrations.erase(it);
      } else {
        ++it;
      }
    }
  }
};

NotificationCenter& NotificationCenter::defaultCenter() {
  static NotificationCenter* center = new NotificationCenter;  // lives as long as the process
  return *center;
}

NotificationCenter::NotificationCenter() : impl_(std::make_unique<Impl>()) {}
NotificationCenter::~NotificationCenter() = default;

void NotificationCenter::addObserver(const void* observer, Handler handler, NotificationName name,
                                     const void* object) {
  if (handler) impl_->add(observer, name, object, nullptr, std::move(handler));
}

ObserverToken NotificationCenter::addObserverForName(NotificationName name, const void* object,
                                                     DispatchQueue* queue, Handler handler) {
  if (!handler) return {};
  return ObserverToken{impl_->add(nullptr, name, object, queue, std::move(handler))};
}

void NotificationCenter::removeObserver(const void* observer) {
  if (!observer) return;
  impl_->removeIf([&](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, NotificationName name, const void* object) {
  if (!observer) return;
  impl_->removeIf([&](const Registration& r) {
    return r.observer == observer && (name.empty() || r.name == name) && (object == nullptr || r.object == object);
  });
}

void NotificationCenter::removeObserver(ObserverToken token) {
  if (!token) return;
  impl_->removeIf([&](const Registration& r) { return r.token == token.id; });
}

std::uint64_t NotificationCenter::registrationMark() const {
  std::lock_guard lock(impl_->mutex);
  return impl_->nextToken;
}

void NotificationCenter::removeRegistrationsSince(std::uint64_t mark) {
  impl_->removeIf([&](const Registration& r) { return r.token >= mark; });
}

void NotificationCenter::postNotification(const Notification& notification) {
  std::vector<std::shared_ptr<Registration>> matching;
  {
    std::lock_guard lock(impl_->mutex);
    for (auto& r : impl_->registrations)
      if (r->matches(notification)) matching.push_back(r);
  }
  for (auto& r : matching) {
    if (!r->alive) continue;
    if (r->queue) {
      auto copy = std::make_shared<Notification>(notification);
      r->queue->async([r, copy] {
        if (r->alive) r->handler(*copy);
      });
    } else {
      // One failing observer must not keep the rest from hearing the post, nor throw at the poster.
      runGuarded([&] { r->handler(notification); });
    }
  }
}

}  // namespace kesto::fnd
