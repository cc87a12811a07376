#pragma once

#include "Platform/Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace kesto::fnd {

class DispatchQueue;

// A posted notification. `object` is the sender's identity (any C++ object); observers that
// know its type cast it back with objectAs<T>().
struct Notification {
  std::string name;
  const void* object = nullptr;
  Dictionary userInfo;

  template <typename T>
  T* objectAs() const {
    return static_cast<T*>(const_cast<void*>(object));
  }
};

// Names a registration made with addObserverForName; pass it to removeObserver.
struct ObserverToken {
  std::uint64_t id = 0;
  explicit operator bool() const { return id != 0; }
};

// Delivers notifications to observers registered by name and, optionally, by sender.
// A post runs every matching observer synchronously on the posting thread, in registration
// order. Observers may add and remove registrations (their own or others') while a post runs:
// a registration removed during a post is not called afterwards. Thread-safe.
class NotificationCenter {
 public:
  using Handler = std::function<void(const Notification&)>;

  static NotificationCenter& defaultCenter();

  NotificationCenter();
  ~NotificationCenter();
  NotificationCenter(const NotificationCenter&) = delete;
  NotificationCenter& operator=(const NotificationCenter&) = delete;

  // Registers `handler` for `observer`. An empty `name` matches every name; a null `object`
  // matches every sender.
  void addObserver(const void* observer, Handler handler, std::string_view name, const void* object = nullptr);

  // Registers a block; with a queue, the block runs there (asynchronously) instead of on the
  // posting thread. Answers the token that removes it.
  ObserverToken addObserverForName(std::string_view name, const void* object, DispatchQueue* queue, Handler handler);

  // Removes every registration of `observer`.
  void removeObserver(const void* observer);
  // Removes the registrations of `observer` for `name` (empty: all names) and `object` (null:
  // any sender).
  void removeObserver(const void* observer, std::string_view name, const void* object = nullptr);
  void removeObserver(ObserverToken token);

  void postNotification(const Notification& notification);
  void postNotificationName(std::string_view name, const void* object = nullptr, Dictionary userInfo = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Removes its registrations when it goes away, for observers that must not outlive a scope.
class ScopedObserver {
 public:
  explicit ScopedObserver(NotificationCenter& center = NotificationCenter::defaultCenter()) : center_(&center) {}
  ~ScopedObserver() { center_->removeObserver(this); }
  ScopedObserver(const ScopedObserver&) = delete;
  ScopedObserver& operator=(const ScopedObserver&) = delete;

  void observe(std::string_view name, NotificationCenter::Handler handler, const void* object = nullptr) {
    center_->addObserver(this, std::move(handler), name, object);
  }
  void removeAll() { center_->removeObserver(this); }

 private:
  NotificationCenter* center_;
};

}  // namespace kesto::fnd
