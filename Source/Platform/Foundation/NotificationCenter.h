#pragma once

#include "Platform/Foundation/NotificationName.h"
#include "Platform/Foundation/Value.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <typeinfo>

namespace kesto::fnd {

class DispatchQueue;

// A posted notification. `object` is the sender's identity (any C++ object); observers that
// know its type take it back with objectAs<T>(), which answers null unless the sender was
// posted as exactly that type.
struct Notification {
  NotificationName name;
  const void* object = nullptr;
  Dictionary userInfo;
  const std::type_info* objectType = &typeid(void);

  Notification() = default;
  explicit Notification(NotificationName name, std::nullptr_t = nullptr, Dictionary userInfo = {})
      : name(name), userInfo(std::move(userInfo)) {}
  template <typename T>
  Notification(NotificationName name, const T* object, Dictionary userInfo = {})
      : name(name), object(object), userInfo(std::move(userInfo)), objectType(&typeid(T)) {}

  template <typename T>
  T* objectAs() const {
    if (!object || *objectType != typeid(T)) return nullptr;
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
  void addObserver(const void* observer, Handler handler, NotificationName name, const void* object = nullptr);

  // Registers a block; with a queue, the block runs there (asynchronously) instead of on the
  // posting thread. Answers the token that removes it.
  ObserverToken addObserverForName(NotificationName name, const void* object, DispatchQueue* queue, Handler handler);

  // Removes every registration of `observer`.
  void removeObserver(const void* observer);
  // Removes the registrations of `observer` for `name` (empty: all names) and `object` (null:
  // any sender).
  void removeObserver(const void* observer, NotificationName name, const void* object = nullptr);
  void removeObserver(ObserverToken token);

  void postNotification(const Notification& notification);
  void postNotificationName(NotificationName name, std::nullptr_t = nullptr, Dictionary userInfo = {}) {
    postNotification(Notification(name, nullptr, std::move(userInfo)));
  }
  template <typename T>
  void postNotificationName(NotificationName name, const T* object, Dictionary userInfo = {}) {
    postNotification(Notification(name, object, std::move(userInfo)));
  }

 private:
  friend struct TestAccess;
  // Registrations are numbered in the order they are made: what was made from a mark on can be
  // taken back together.
  std::uint64_t registrationMark() const;
  void removeRegistrationsSince(std::uint64_t mark);

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

  void observe(NotificationName name, NotificationCenter::Handler handler, const void* object = nullptr) {
    center_->addObserver(this, std::move(handler), name, object);
  }
  void removeAll() { center_->removeObserver(this); }

 private:
  NotificationCenter* center_;
};

}  // namespace kesto::fnd
