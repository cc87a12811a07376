#include "Platform/System/UserNotifications.h"

#include "Platform/Foundation/Log.h"
#include "Platform/Foundation/PercentEncoding.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <chrono>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace kesto::sys {

namespace {

constexpr const char* kNotificationsService = "org.freedesktop.Notifications";
constexpr const char* kNoSessionBusAddress = "unix:path=/dev/null";
// A bus that does not answer in this time is treated as having no server.
constexpr int kBusQueryMilliseconds = 1000;

std::function<void(const UserNotification&)>& fallbackPresenter() {
  static std::function<void(const UserNotification&)> presenter;
  return presenter;
}

// The session bus as the desktop announces it: DBUS_SESSION_BUS_ADDRESS, else the per-user bus
// socket in XDG_RUNTIME_DIR. Qt's own session bus would fall back to libdbus's X11 auto-launch,
// which starts a dbus-daemon that outlives this program; without an announced bus there is none.
std::string sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return std::string_view(address) == kNoSessionBusAddress ? std::string() : std::string(address);
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (!runtime || !*runtime) return {};
  std::string socket = std::string(runtime) + "/bus";
  struct stat st {};
  if (::stat(socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_uid != ::getuid()) return {};
  return "unix:path=" + fnd::escapeBusAddressValue(socket);
}

// One connection per address (tests switch buses within one process); an empty optional when
// no bus is announced or it cannot be reached.
std::optional<QDBusConnection> sessionBus() {
  const std::string address = sessionBusAddress();
  if (address.empty()) return std::nullopt;
  const QString qAddress = QString::fromStdString(address);
  const QString name = QStringLiteral("kesto-session ") + qAddress;
  QDBusConnection bus = QDBusConnection::connectToBus(qAddress, name);
  if (!bus.isConnected()) {
    // A bus that went away leaves a dead connection under the name: try a fresh one once.
    QDBusConnection::disconnectFromBus(name);
    bus = QDBusConnection::connectToBus(qAddress, name);
    if (!bus.isConnected()) return std::nullopt;
  }
  return bus;
}

bool busAnswersTrue(QDBusConnection& bus, const char* method, const QVariantList& arguments) {
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus", method);
  call.setArguments(arguments);
  QDBusMessage reply = bus.call(call, QDBus::Block, kBusQueryMilliseconds);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return false;
  const QVariant& first = reply.arguments().first();
  if (first.metaType().id() == QMetaType::Bool) return first.toBool();
  return first.toStringList().contains(QLatin1String(kNotificationsService));
}

// A server runs now, or the bus starts one on the first message (servers are often installed
// for activation only).
bool serverOnBus(QDBusConnection& bus) {
  return busAnswersTrue(bus, "NameHasOwner", {QString::fromLatin1(kNotificationsService)}) ||
         busAnswersTrue(bus, "ListActivatableNames", {});
}

// Notification servers may read the body as markup; the text is shown as it stands.
QString escapeMarkup(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

bool sendToServer(QDBusConnection& bus, const UserNotification& n) {
  QDBusMessage call = QDBusMessage::createMethodCall(kNotificationsService, "/org/freedesktop/Notifications",
                                                     kNotificationsService, "Notify");
  QVariantMap hints;
  if (n.soundName.empty()) {
    hints.insert("suppress-sound", true);
  } else {
    hints.insert("sound-name", n.soundName == kUserNotificationDefaultSoundName ? QStringLiteral("message-new-instant")
                                                                                : QString::fromStdString(n.soundName));
  }
  call << QStringLiteral("Kesto") << quint32(0) << QStringLiteral("kesto") << QString::fromStdString(n.title)
       << escapeMarkup(n.informativeText) << QStringList() << hints << qint32(-1);
  // The reply is not waited for: the main thread goes on at once.
  return bus.send(call);
}

class DesktopNotificationSink : public UserNotificationSink {
 public:
  void deliver(const UserNotification& n) override {
    if (auto bus = sessionBus(); bus && serverKnownOnBus(*bus) && sendToServer(*bus, n)) return;
    if (fallbackPresenter()) {
      fallbackPresenter()(n);
      return;
    }
    // The text may be an address handed in: its password stays off the log.
    fnd::logInfo("Notification: " + n.title +
                 (n.informativeText.empty() ? "" : " - " + fnd::withoutAddressPasswords(n.informativeText)));
  }

 private:
  // Asking the bus blocks the caller for a round trip (up to a second on a stuck bus), so one
  // answer serves a burst of notifications, such as one per address of a hand-over.
  bool serverKnownOnBus(QDBusConnection& bus) {
    const auto now = std::chrono::steady_clock::now();
    const std::string address = bus.name().toStdString();
    if (address != askedBus_ || now - askedAt_ > kServerAnswerLifetime) {
      hasServer_ = serverOnBus(bus);
      askedBus_ = address;
      askedAt_ = now;
    }
    return hasServer_;
  }

  static constexpr std::chrono::seconds kServerAnswerLifetime{5};
  std::string askedBus_;
  std::chrono::steady_clock::time_point askedAt_;
  bool hasServer_ = false;
};

}  // namespace

UserNotificationCenter::UserNotificationCenter() : sink_(std::make_shared<DesktopNotificationSink>()) {}

UserNotificationCenter& UserNotificationCenter::defaultCenter() {
  static UserNotificationCenter center;
  return center;
}

void UserNotificationCenter::deliverNotification(const UserNotification& notification) {
  if (delegate_ && !delegate_->userNotificationCenterShouldPresentNotification(notification)) return;
  if (sink_) sink_->deliver(notification);
}

void UserNotificationCenter::setSink(std::shared_ptr<UserNotificationSink> sink) {
  sink_ = sink ? std::move(sink) : std::make_shared<DesktopNotificationSink>();
}

void UserNotificationCenter::setFallbackPresenter(std::function<void(const UserNotification&)> presenter) {
  fallbackPresenter() = std::move(presenter);
}

bool UserNotificationCenter::hasSessionBus() { return sessionBus().has_value(); }

bool preventSessionBusAutoLaunch() {
  if (!sessionBusAddress().empty()) return false;
  // An absent or empty address auto-launches; this one is taken as given and fails at once
  // (nothing can listen on a character device).
  return ::setenv("DBUS_SESSION_BUS_ADDRESS", kNoSessionBusAddress, 1) == 0;
}

bool UserNotificationCenter::hasNotificationServer() {
  auto bus = sessionBus();
  return bus && serverOnBus(*bus);
}

}  // namespace kesto::sys
