// A desktop's StatusNotifier watcher, for end-to-end tests on a private session bus: takes the
// watcher's name, so the toolkit shows tray icons as StatusNotifier items, and prints the bus
// name of each item registered with it, a line "item NAME", after a first line "ready".
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>

#include <cstdio>

namespace {

class Watcher : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override {
    return QStringLiteral(
        "<interface name=\"org.kde.StatusNotifierWatcher\">"
        "<method name=\"RegisterStatusNotifierItem\"><arg name=\"service\" type=\"s\" direction=\"in\"/></method>"
        "<property name=\"IsStatusNotifierHostRegistered\" type=\"b\" access=\"read\"/>"
        "</interface>");
  }

  bool handleMessage(const QDBusMessage& message, const QDBusConnection& bus) override {
    if (message.member() == QLatin1String("Introspect")) {
      bus.send(message.createReply(QStringLiteral("<node>") + introspect({}) + QStringLiteral("</node>")));
    } else if (message.member() == QLatin1String("RegisterStatusNotifierItem")) {
      const QString item = message.arguments().value(0).toString();
      // An item may name only its object path: it is then the sender's.
      std::printf("item %s\n", qPrintable(item.startsWith(u'/') ? message.service() : item));
      std::fflush(stdout);
      bus.send(message.createReply());
    } else if (message.member() == QLatin1String("Get")) {  // the one property: a host is there
      bus.send(message.createReply(QVariant::fromValue(QDBusVariant(true))));
    } else {
      bus.send(message.createErrorReply(QDBusError::UnknownMethod, message.member()));
    }
    return true;
  }
};

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Watcher watcher;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), &watcher) ||
      !bus.registerService(QStringLiteral("org.kde.StatusNotifierWatcher")))
    return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  return app.exec();
}
