#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kesto::sys {

// One message for the user's notification area.
struct UserNotification {
  std::string title;
  std::string informativeText;
  // Empty: silent. "default" asks for the desktop's default notification sound.
  std::string soundName;
};

inline constexpr const char* kUserNotificationDefaultSoundName = "default";

// Where notifications go. The default sink shows them as freedesktop notifications over the
// session bus when there is one, else through the fallback presenter (the tray balloon), else
// the log.
class UserNotificationSink {
 public:
  virtual ~UserNotificationSink() = default;
  virtual void deliver(const UserNotification& notification) = 0;
};

// Remembers every notification (tests).
class RecordingNotificationSink : public UserNotificationSink {
 public:
  void deliver(const UserNotification& notification) override { delivered.push_back(notification); }
  std::vector<UserNotification> delivered;
};

// Asked before each notification is shown; answering false keeps it back.
class UserNotificationCenterDelegate {
 public:
  virtual ~UserNotificationCenterDelegate() = default;
  virtual bool userNotificationCenterShouldPresentNotification(const UserNotification& notification) { return true; }
};

// The process's notification centre. Main thread.
class UserNotificationCenter {
 public:
  static UserNotificationCenter& defaultCenter();

  void deliverNotification(const UserNotification& notification);

  // Not owned; the delegate clears itself before it goes.
  UserNotificationCenterDelegate* delegate() const { return delegate_; }
  void setDelegate(UserNotificationCenterDelegate* delegate) { delegate_ = delegate; }

  // Null restores the desktop sink.
  void setSink(std::shared_ptr<UserNotificationSink> sink);
  const std::shared_ptr<UserNotificationSink>& sink() const { return sink_; }

  // Used by the desktop sink when no notification server can be reached.
  void setFallbackPresenter(std::function<void(const UserNotification&)> presenter);

  // Whether the desktop announces a session bus that answers.
  static bool hasSessionBus();
  // Whether the desktop sink would reach a notification server over that bus.
  static bool hasNotificationServer();

 private:
  UserNotificationCenter();
  UserNotificationCenterDelegate* delegate_ = nullptr;
  std::shared_ptr<UserNotificationSink> sink_;
};

// Called once before the toolkit starts. When the desktop announces no session bus, points
// DBUS_SESSION_BUS_ADDRESS at an address that fails at once, so neither the toolkit (its
// accessibility bridge asks for the bus when the first window shows) nor a program started from
// here auto-launches a dbus-daemon that would outlive them. Answers whether it did.
bool preventSessionBusAutoLaunch();

}  // namespace kesto::sys
