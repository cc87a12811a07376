#include "Platform/System/UserNotifications.h"

#include "Platform/Foundation/Log.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include <mutex>

namespace kesto::sys {

namespace {

std::function<void(const UserNotification&)>& fallbackPresenter() {
  static std::function<void(const UserNotification&)> presenter;
  return presenter;
}

// Notification servers may read the body as markup; the text is shown as it stands.
QString escapeMarkup(const std::string& text) { return QString::fromStdString(text).toHtmlEscaped(); }

class DesktopNotificationSink : public UserNotificationSink {
 public:
  void deliver(const UserNotification& n) override {
    if (UserNotificationCenter::hasSessionBus()) {
      QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                                                         "org.freedesktop.Notifications", "Notify");
      QVariantMap hints;
      if (n.soundName.empty()) {
        hints.insert("suppress-sound", true);
      } else {
        hints.insert("sound-name", n.soundName == kUserNotificationDefaultSoundName
                                       ? QStringLiteral("message-new-instant")
                                       : QString::fromStdString(n.soundName));
      }
      call << QStringLiteral("Kesto") << quint32(0) << QStringLiteral("kesto") << QString::fromStdString(n.title)
           << escapeMarkup(n.informativeText) << QStringList() << hints << qint32(-1);
      // Never wait for the server: the main thread goes on at once.
      if (QDBusConnection::sessionBus().send(call)) return;
    }
    if (fallbackPresenter()) {
      fallbackPresenter()(n);
      return;
    }
    fnd::logInfo("Notification: " + n.title + (n.informativeText.empty() ? "" : " - " + n.informativeText));
  }
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

bool UserNotificationCenter::hasSessionBus() { return QDBusConnection::sessionBus().isConnected(); }

}  // namespace kesto::sys
