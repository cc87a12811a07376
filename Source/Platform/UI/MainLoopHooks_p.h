#pragma once

// Private to the platform layer: hooks on the main event loop for the diagnostic logs.

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QObject>

#include <functional>

namespace kesto::ui {

// The two ends of the main thread's busy stretches: the filter sees every event the application
// delivers (the first one after a wait starts a stretch), and the loop's about-to-wait signal
// ends it.
class MainLoopHooks {
 public:
  // The main loop's dispatcher; null while there is no application to hook into.
  static QAbstractEventDispatcher* dispatcher() {
    return QCoreApplication::instance() ? QAbstractEventDispatcher::instance() : nullptr;
  }

  // Takes `filter` (deleted by remove) and calls `aboutToBlock` each time the loop is about to wait.
  void install(QAbstractEventDispatcher* dispatcher, QObject* filter, std::function<void()> aboutToBlock) {
    filter_ = filter;
    QCoreApplication::instance()->installEventFilter(filter);
    connection_ = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, filter, std::move(aboutToBlock));
  }

  void remove() {
    QObject::disconnect(connection_);
    if (auto* app = QCoreApplication::instance()) app->removeEventFilter(filter_);
    delete filter_;
    filter_ = nullptr;
  }

 private:
  QObject* filter_ = nullptr;
  QMetaObject::Connection connection_;
};

}  // namespace kesto::ui
